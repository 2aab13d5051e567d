// Reads the server's answers into calendar records in one pass over the text, without building a JSON
// document first.
//
// The reading is lenient and follows the document model exactly: the answer must be one strict JSON text
// whose root is an object (or null, which has no members). The list is the root's member under the kind's
// key (the last one when the key repeats); its elements are the items of an array, the member values of an
// object (in ascending key order, the last of a repeated key), nothing for null, or the value itself for any
// other scalar. Each element becomes a record with default values; every field takes the last value given
// under its key when that value has the field's type (numbers and true/false for integer fields, strings for
// text fields), and keeps its default otherwise.
#pragma once

#include <cstdint>
#include <string>

class CalendarLocationList;
class CalendarEventList;
class CalendarVariableList;

// Only an answer with a status from 200 to 299 carries the list asked for; any other status's body (an
// error text, often JSON too) is not read.
inline bool IsSuccessStatus(uint32_t status) {
    return status >= 200 && status <= 299;
}

// Each returns false, leaving the list untouched, when the answer cannot be read as a whole (not JSON, a
// root that is neither an object nor null, memory exhausted). On success the records are appended.
bool ReadLocationsAnswer(const std::string& body, CalendarLocationList* list);
// Actions are appended in answer order, not sorted.
bool ReadActionsAnswer(const std::string& body, CalendarEventList* list);
// Variables of type 4 become enumerated variables; every record gets `locationId`.
bool ReadVariablesAnswer(const std::string& body, int locationId, CalendarVariableList* list);
