#include "calendar/MCalendarVariable.h"

bool MCalendarVariable::ToJson(nlohmann::json& object) const {
    if (!object.is_object() && !object.is_null()) return false;
    object["variable_id"] = variable_id;
    object["name"] = name;
    object["var_type"] = var_type;
    return true;
}

bool MCalendarVariable::IsEqual(const MCalendarVariable* other) const {
    return other && var_type == other->var_type && name == other->name;
}

MCalendarVariable::~MCalendarVariable() = default;
