#include "calendar/MCalendarEnumVariable.h"

bool MCalendarEnumVariable::ToJson(nlohmann::json& object) const {
    if (!MCalendarVariable::ToJson(object)) return false;
    std::string joined;
    joined.reserve(2048);
    for (size_t i = 0; i < values.size(); ++i) {
        if (i > 0) joined += ',';
        joined += values[i];
    }
    object["var_data"] = joined;
    return true;
}

bool MCalendarEnumVariable::IsEqual(const MCalendarVariable* other) const {
    if (!other || var_type != other->var_type || name != other->name) return false;
    const auto* otherEnum = dynamic_cast<const MCalendarEnumVariable*>(other);
    return otherEnum && values == otherEnum->values;
}

MCalendarEnumVariable::~MCalendarEnumVariable() = default;

void MCalendarEnumVariable::AppendItemsFromText(const char* text) {
    if (!text) return;
    char item[kEnumItemBufferSize];
    const char* cursor = text;
    while (*cursor) {
        if (NextEnumToken(&cursor, item, sizeof item)) values.emplace_back(item);
    }
}

bool NextEnumToken(const char** cursor, char* buffer, size_t bufferSize) {
    if (buffer && bufferSize > 0) buffer[0] = '\0';
    if (!cursor || !*cursor) return false;
    const char* p = *cursor;
    while (*p == ' ' || *p == '\t') ++p;
    if (!*p) {
        *cursor = p;
        return false;
    }
    size_t length = 0;
    for (; *p && *p != ','; ++p) {
        // Characters beyond the buffer's room are dropped; the reading still goes on to the comma.
        if (buffer && length + 1 < bufferSize) buffer[length++] = *p;
    }
    if (buffer && bufferSize > 0) buffer[length] = '\0';
    if (*p == ',') ++p;
    *cursor = p;
    return true;
}
