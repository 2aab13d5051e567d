// The server's copy of one host variable. Host and server variables are matched by `name`.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

class MCalendarVariable {
public:
    // The host's type code of an enumerated variable (the only code the records interpret).
    static constexpr int32_t kEnumType = 4;

    MCalendarVariable() = default;
    MCalendarVariable(int32_t variableId, int32_t varType, const std::string& variableName)
        : variable_id(variableId), var_type(varType), name(variableName) {}

    // Sets "variable_id", "name" and "var_type" in `object` (location_id is the caller's to add).
    // False only when `object` already holds a JSON value that is not an object.
    virtual bool ToJson(nlohmann::json& object) const;
    // Same type code and same name, byte for byte; identifiers are not compared. Null is never equal.
    virtual bool IsEqual(const MCalendarVariable* other) const;
    virtual ~MCalendarVariable();

    int32_t variable_id = 0;  // 0 until the server has numbered the variable
    int32_t location_id = 0;
    int32_t var_type = 0;
    std::string name;
};
