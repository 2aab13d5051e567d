// An enumerated variable: the base record plus the texts of its items, in order.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "calendar/MCalendarVariable.h"

class MCalendarEnumVariable : public MCalendarVariable {
public:
    MCalendarEnumVariable() = default;  // var_type 0 until the builder sets it
    MCalendarEnumVariable(int32_t variableId, const std::string& variableName)
        : MCalendarVariable(variableId, kEnumType, variableName) {}

    // The base members, then "var_data": the items joined with "," (empty text for no items).
    bool ToJson(nlohmann::json& object) const override;
    // Equal only to another enumerated variable with the same type code, name and items in the same order.
    bool IsEqual(const MCalendarVariable* other) const override;
    ~MCalendarEnumVariable() override;

    // Appends the items of a "var_data" text, read one by one with NextEnumToken.
    void AppendItemsFromText(const char* text);

    std::vector<std::string> values;
};

// Room for one enumeration item: at most kEnumItemMaxLength characters and the terminating NUL.
constexpr size_t kEnumItemMaxLength = 255;
constexpr size_t kEnumItemBufferSize = kEnumItemMaxLength + 1;

// Reads the next item of a comma-separated "var_data" text at *cursor into `buffer` (always NUL-terminated
// when bufferSize > 0) and moves *cursor past the item and its comma. Leading spaces and tabs are skipped;
// trailing ones stay part of the item. False when only blanks were left. An item longer than the buffer
// holds is cut to fit, and the rest of it is passed over, so the items after it keep their positions.
bool NextEnumToken(const char** cursor, char* buffer, size_t bufferSize);
