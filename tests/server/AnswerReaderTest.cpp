// The one-pass answer reader against a plain reading of the parsed document, which states the lenient
// rules directly: both must give the same records for every text, valid or not.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>

#include "calendar/CalendarEventList.h"
#include "calendar/CalendarLocationList.h"
#include "calendar/CalendarVariableList.h"
#include "calendar/MCalendarEnumVariable.h"
#include "server/AnswerReader.h"

using nlohmann::json;

namespace {

// ---- Reference: parse the whole document, then read each field in its own guard ----------------------

int32_t RefInt(const json& v) {
    if (v.is_number_integer()) return static_cast<int32_t>(static_cast<uint32_t>(v.get<int64_t>()));
    if (v.is_number_unsigned()) return static_cast<int32_t>(static_cast<uint32_t>(v.get<uint64_t>()));
    if (v.is_number_float()) {
        const double d = v.get<double>();
        if (!std::isfinite(d) || d <= -2147483649.0 || d >= 2147483648.0) return INT32_MIN;
        return static_cast<int32_t>(d);
    }
    if (v.is_boolean()) return v.get<bool>() ? 1 : 0;
    throw std::invalid_argument("not a number");
}
template <class T>
void Guard(T& field, const json& e, const char* key) {
    try {
        if constexpr (std::is_same<T, std::string>::value) field = e.at(key).get<std::string>();
        else field = RefInt(e.at(key));
    } catch (const std::exception&) {
    }
}
template <class Each>
bool RefWalk(const std::string& body, const char* key, Each each) {
    try {
        const json root = json::parse(body, nullptr, true, false);
        if (root.is_null()) return true;
        if (!root.is_object()) return false;  // a type error
        const auto member = root.find(key);
        if (member == root.end()) return true;
        if (member->is_array() || member->is_object()) {
            for (const json& e : *member) each(e);
        } else if (!member->is_null()) {
            each(*member);
        }
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// Records as comparable text.
std::vector<std::string> RefLocations(const std::string& body, bool* ok) {
    std::vector<std::string> out;
    *ok = RefWalk(body, "locations", [&](const json& e) {
        int32_t id = 0;
        std::string name, comment;
        Guard(id, e, "location_id");
        Guard(comment, e, "comment");
        Guard(name, e, "name");
        out.push_back(std::to_string(id) + "|" + name + "|" + comment);
    });
    return out;
}
std::vector<std::string> RefActions(const std::string& body, bool* ok) {
    std::vector<std::string> out;
    *ok = RefWalk(body, "calendaractions", [&](const json& e) {
        MCalendarEvent ev;
        std::string date;
        Guard(ev.name, e, "name");
        Guard(ev.macro, e, "macro");
        Guard(date, e, "date");
        if (!date.empty()) ParseEventTime(date.c_str(), &ev);
        Guard(ev.macro_action, e, "macro_action");
        Guard(ev.macro_data, e, "macro_data");
        out.push_back(std::to_string(ev.time) + "|" + ev.name + "|" + ev.macro + "|" +
                      std::to_string(ev.macro_action) + "|" + ev.macro_data);
    });
    return out;
}
std::string VariableText(const MCalendarVariable& v) {
    std::string t = std::to_string(v.var_type) + "|" + std::to_string(v.variable_id) + "|" + v.name + "|" +
                    std::to_string(v.location_id);
    if (auto* e = dynamic_cast<const MCalendarEnumVariable*>(&v)) {
        t += "|enum";
        for (const std::string& item : e->values) t += "|" + item;
    }
    return t;
}
std::vector<std::string> RefVariables(const std::string& body, bool* ok) {
    std::vector<std::string> out;
    *ok = RefWalk(body, "variables", [&](const json& e) {
        int32_t varType = 0;
        std::string varData;
        Guard(varType, e, "var_type");
        Guard(varData, e, "var_data");
        MCalendarEnumVariable enumerated;
        MCalendarVariable plain;
        MCalendarVariable& v = varType == 4 ? enumerated : plain;
        if (varType == 4) enumerated.AppendItemsFromText(varData.c_str());
        v.var_type = varType;
        Guard(v.variable_id, e, "variable_id");
        Guard(v.name, e, "name");
        v.location_id = 6;
        out.push_back(VariableText(v));
    });
    return out;
}

// ---- The reader under test, as the same text ---------------------------------------------------------

std::vector<std::string> Locations(const std::string& body, bool* ok) {
    CalendarLocationList list;
    *ok = ReadLocationsAnswer(body, &list);
    std::vector<std::string> out;
    for (MCalendarLocation* l = list.GetFirst(); l; l = list.GetNext()) {
        out.push_back(std::to_string(l->location_id) + "|" + l->name + "|" + l->comment);
    }
    return out;
}
std::vector<std::string> Actions(const std::string& body, bool* ok) {
    CalendarEventList list;
    *ok = ReadActionsAnswer(body, &list);
    std::vector<std::string> out;
    for (MCalendarEvent* e = list.GetFirst(); e; e = list.GetNext()) {
        out.push_back(std::to_string(e->time) + "|" + e->name + "|" + e->macro + "|" +
                      std::to_string(e->macro_action) + "|" + e->macro_data);
    }
    return out;
}
std::vector<std::string> Variables(const std::string& body, bool* ok) {
    CalendarVariableList list;
    *ok = ReadVariablesAnswer(body, 6, &list);
    std::vector<std::string> out;
    for (MCalendarVariable* v : list) out.push_back(VariableText(*v));
    list.DeleteAll();
    return out;
}

// Returns whether the answer could be read.
bool ExpectSameAsReference(const std::string& body) {
    bool ok = false, refOk = false;
    EXPECT_EQ(RefLocations(body, &refOk), Locations(body, &ok)) << body;
    EXPECT_EQ(refOk, ok) << body;
    EXPECT_EQ(RefActions(body, &refOk), Actions(body, &ok)) << body;
    EXPECT_EQ(refOk, ok) << body;
    EXPECT_EQ(RefVariables(body, &refOk), Variables(body, &ok)) << body;
    EXPECT_EQ(refOk, ok) << body;
    return ok;
}

const char* const kTricky[] = {
    "null", "{}", "[]", "5", "\"x\"", "true", "{\"locations\": null}", "{\"locations\": 7}",
    "{\"locations\": \"text\"}", "{\"locations\": [1, \"a\", null, [], {}, [{\"location_id\": 3}]]}",
    // A repeated key: the last one counts, at the root and inside an element.
    "{\"locations\": [{\"location_id\": 1}], \"locations\": [{\"location_id\": 2}, {\"location_id\": 3}]}",
    "{\"locations\": [{\"location_id\": 1, \"location_id\": \"x\", \"name\": \"a\", \"name\": \"b\"}]}",
    "{\"locations\": [{\"name\": \"a\"}], \"locations\": null}",
    // An object of elements: ascending keys, last of a repeated key.
    "{\"locations\": {\"b\": {\"location_id\": 2}, \"a\": {\"location_id\": 1}, \"b\": {\"location_id\": 3}}}",
    "{\"locations\": {\"\": 1, \"z\": [1], \"y\": {\"name\": {\"nested\": \"n\"}}}}",
    "{\"calendaractions\": [{\"date\": \"2024-05-01T10:00:00\", \"date\": \"\"}, {\"date\": 5},"
    " {\"date\": \"2024-02-30\"}, {\"macro_action\": 4294967297}, {\"macro_action\": -1.9},"
    " {\"macro_action\": 1e300}, {\"macro_action\": false}, {\"macro_action\": 18446744073709551615}]}",
    "{\"variables\": [{\"var_type\": 4, \"var_data\": \"a,,b, c ,\"}, {\"var_type\": 4.5, \"var_data\": \"x\"},"
    " {\"var_type\": 4, \"var_type\": 1, \"var_data\": \"y\"}, {\"var_type\": true, \"name\": \"\\u00e9\"}, 3]}",
    "{\"other\": {\"locations\": [1]}, \"variables\": [[{\"name\": \"deep\"}]]}",
    "{\"locations\": []} x", "{\"locations\": [] /* no */}", "{\"locations\": [1,]}", "", "  null  ",
    "{\"locations\": [{\"name\": \"\\ud800\"}]}",
};

}  // namespace

TEST(AnswerReader, TrickyAnswersReadAsTheDocumentRulesSay) {
    for (const char* body : kTricky) ExpectSameAsReference(body);
}

TEST(AnswerReader, ObjectElementsComeInKeyOrderWithTheLastOfARepeatedKey) {
    bool ok = false;
    EXPECT_EQ((std::vector<std::string>{"1||", "3||"}),
              Locations("{\"locations\": {\"b\": {\"location_id\": 2}, \"a\": {\"location_id\": 1},"
                        " \"b\": {\"location_id\": 3}}}",
                        &ok));
    EXPECT_TRUE(ok);
}

TEST(AnswerReader, MutatedAnswersReadAsTheDocumentRulesSay) {
    static const char* const kTokens[] = {
        "{", "}", "[", "]", ",", ":", "null", "true", "false", "0", "-7", "2.5", "1e400", "4294967296",
        "\"\"", "\"x\"", "\"Off, On\"", "\"2024-05-01T10:00:00\"", "\"locations\"", "\"calendaractions\"",
        "\"variables\"", "\"location_id\"", "\"name\"", "\"comment\"", "\"date\"", "\"macro\"",
        "\"macro_action\"", "\"macro_data\"", "\"var_type\"", "\"var_data\"", "\"variable_id\"", "4", " "};
    const std::string seeds[] = {
        "{\"locations\": [{\"location_id\": 1, \"name\": \"a\", \"comment\": \"b\"}, {\"location_id\": 2}]}",
        "{\"calendaractions\": [{\"name\": \"n\", \"macro\": \"m\", \"date\": \"2024-05-01T10:00:00\","
        " \"macro_action\": 2, \"macro_data\": \"d\"}, {\"date\": \"2024-05-01\"}]}",
        "{\"variables\": {\"k\": {\"variable_id\": 1, \"name\": \"v\", \"var_type\": 4, \"var_data\": \"a, b\"},"
        " \"j\": {\"var_type\": 1}}}",
    };
    std::mt19937 random(2024);
    int readable = 0;
    for (int i = 0; i < 4000; ++i) {
        std::string body = seeds[i % 3];
        const int edits = 1 + static_cast<int>(random() % 4);
        for (int k = 0; k < edits; ++k) {
            const size_t at = random() % (body.size() + 1);
            const int op = static_cast<int>(random() % 4);
            if (op == 0) body.insert(at, kTokens[random() % (sizeof kTokens / sizeof kTokens[0])]);
            else if (op == 1 && at < body.size()) body.erase(at, 1 + random() % 8);
            else if (op == 2 && at < body.size()) body[at] = static_cast<char>(random() % 256);
            else body.insert(at, 1, static_cast<char>(random() % 128));
        }
        readable += ExpectSameAsReference(body);
        if (HasFailure()) break;
    }
    // Enough of the variants stay valid JSON for the comparison to mean something.
    EXPECT_GT(readable, 400);
}
