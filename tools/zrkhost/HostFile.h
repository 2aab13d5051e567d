// The host file: the tasks, variables, user groups and theme colours the substitute host serves.
//   {"tasks": ["Show A"], "variables": [{"name": "Volume", "type": "integer", "value": 5},
//    {"name": "Mode", "type": "enum", "items": ["Day", "Night"], "value": "Day"}],
//    "groups": [{"name": "Stage", "items": ["Volume"], "listing": ["Cue 1"], "groups": [...]}],
//    "theme": {"0": "#202020"}}
// Every member is optional. Without "theme" the host offers no theme service.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "zrk/ZrkHandles.h"

namespace zrkhost {

enum class VariableKind { Integer, Text, Enum };

struct VariableSpec {
    std::string name;
    VariableKind kind = VariableKind::Text;
    int64_t number = 0;              // Integer
    std::string text;                // Text and Enum (one of items)
    std::vector<std::string> items;  // Enum
};

struct GroupSpec {
    std::string name;
    std::vector<std::string> items;    // variable names: the group's data items
    std::vector<std::string> listing;  // the group's second listing
    std::vector<GroupSpec> groups;
};

struct HostFile {
    std::vector<std::string> tasks;
    std::vector<VariableSpec> variables;
    std::vector<GroupSpec> groups;
    bool hasTheme = false;
    std::map<int, ZrkColour> theme;
};

// Reads the file's JSON text. False with a message naming the offending member.
bool ParseHostFile(const std::string& text, HostFile* out, std::string* error);

// "#RRGGBB" as the platform's colour 0x00BBGGRR. False for any other form.
bool ParseColour(const std::string& text, ZrkColour* out);

// The first group of that name, depth first in file order; null when there is none.
const GroupSpec* FindGroup(const std::vector<GroupSpec>& groups, const std::string& name);

}  // namespace zrkhost
