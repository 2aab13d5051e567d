#include "HostFile.h"

#include <limits>
#include <nlohmann/json.hpp>
#include <set>

namespace zrkhost {

namespace {

using nlohmann::json;

// Parse failures travel as this, with the path of the member at fault.
struct FileError {
    std::string message;
};

[[noreturn]] void Fail(const std::string& where, const std::string& what) {
    throw FileError{where + ": " + what};
}

std::vector<std::string> StringList(const json& parent, const char* key, const std::string& where) {
    std::vector<std::string> out;
    auto it = parent.find(key);
    if (it == parent.end()) return out;
    if (!it->is_array()) Fail(where + "." + key, "must be an array of texts");
    for (size_t i = 0; i < it->size(); ++i) {
        const json& item = (*it)[i];
        if (!item.is_string()) Fail(where + "." + key + "[" + std::to_string(i) + "]", "must be a text");
        out.push_back(item.get<std::string>());
    }
    return out;
}

VariableSpec ReadVariable(const json& j, const std::string& where) {
    if (!j.is_object()) Fail(where, "must be an object");
    VariableSpec v;
    auto name = j.find("name");
    if (name == j.end() || !name->is_string() || name->get<std::string>().empty())
        Fail(where + ".name", "must be a non-empty text");
    v.name = name->get<std::string>();
    auto type = j.find("type");
    std::string typeName = type == j.end() ? "" : (type->is_string() ? type->get<std::string>() : "?");
    auto value = j.find("value");
    bool hasValue = value != j.end() && !value->is_null();
    if (typeName == "integer") {
        v.kind = VariableKind::Integer;
        if (hasValue) {
            bool tooLarge = value->is_number_unsigned() &&
                            value->get<uint64_t>() > uint64_t(std::numeric_limits<int64_t>::max());
            if (!value->is_number_integer() || tooLarge) Fail(where + ".value", "must be a whole number");
            v.number = value->get<int64_t>();
        }
    } else if (typeName == "string") {
        v.kind = VariableKind::Text;
        if (hasValue) {
            if (!value->is_string()) Fail(where + ".value", "must be a text");
            v.text = value->get<std::string>();
        }
    } else if (typeName == "enum") {
        v.kind = VariableKind::Enum;
        v.items = StringList(j, "items", where);
        if (v.items.empty()) Fail(where + ".items", "an enumeration needs at least one item");
        v.text = v.items.front();
        if (hasValue) {
            if (value->is_string()) {
                v.text = value->get<std::string>();
                bool known = false;
                for (const auto& item : v.items) known = known || item == v.text;
                if (!known) Fail(where + ".value", "is not one of the items");
            } else if (value->is_number_integer() && value->get<int64_t>() >= 0 &&
                       value->get<int64_t>() < int64_t(v.items.size())) {
                v.text = v.items[size_t(value->get<int64_t>())];
            } else {
                Fail(where + ".value", "must be an item text or an item index");
            }
        }
    } else {
        Fail(where + ".type", "must be \"integer\", \"string\" or \"enum\"");
    }
    return v;
}

GroupSpec ReadGroup(const json& j, const std::string& where, int depth) {
    if (depth > 64) Fail(where, "groups nested too deep");
    if (!j.is_object()) Fail(where, "must be an object");
    GroupSpec g;
    auto name = j.find("name");
    if (name == j.end() || !name->is_string() || name->get<std::string>().empty())
        Fail(where + ".name", "must be a non-empty text");
    g.name = name->get<std::string>();
    g.items = StringList(j, "items", where);
    g.listing = StringList(j, "listing", where);
    auto sub = j.find("groups");
    if (sub != j.end()) {
        if (!sub->is_array()) Fail(where + ".groups", "must be an array");
        for (size_t i = 0; i < sub->size(); ++i)
            g.groups.push_back(ReadGroup((*sub)[i], where + ".groups[" + std::to_string(i) + "]", depth + 1));
    }
    return g;
}

void CheckItems(const std::vector<GroupSpec>& groups, const std::set<std::string>& names) {
    for (const auto& g : groups) {
        for (const auto& item : g.items)
            if (!names.count(item))
                Fail("group \"" + g.name + "\"", "item \"" + item + "\" is not a variable");
        CheckItems(g.groups, names);
    }
}

}  // namespace

bool ParseColour(const std::string& text, ZrkColour* out) {
    if (text.size() != 7 || text[0] != '#') return false;
    unsigned rgb = 0;
    for (size_t i = 1; i < 7; ++i) {
        char c = text[i];
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = unsigned(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = unsigned(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            digit = unsigned(c - 'A' + 10);
        else
            return false;
        rgb = rgb * 16 + digit;
    }
    unsigned r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
    *out = r | (g << 8) | (b << 16);
    return true;
}

bool ParseHostFile(const std::string& text, HostFile* out, std::string* error) {
    HostFile file;
    try {
        json root = json::parse(text);
        if (!root.is_object()) Fail("host file", "must be a JSON object");
        file.tasks = StringList(root, "tasks", "tasks");
        std::set<std::string> names;
        auto vars = root.find("variables");
        if (vars != root.end()) {
            if (!vars->is_array()) Fail("variables", "must be an array");
            for (size_t i = 0; i < vars->size(); ++i) {
                VariableSpec v = ReadVariable((*vars)[i], "variables[" + std::to_string(i) + "]");
                if (!names.insert(v.name).second) Fail("variables", "\"" + v.name + "\" is defined twice");
                file.variables.push_back(std::move(v));
            }
        }
        auto groups = root.find("groups");
        if (groups != root.end()) {
            if (!groups->is_array()) Fail("groups", "must be an array");
            for (size_t i = 0; i < groups->size(); ++i)
                file.groups.push_back(ReadGroup((*groups)[i], "groups[" + std::to_string(i) + "]", 0));
        }
        CheckItems(file.groups, names);
        auto theme = root.find("theme");
        if (theme != root.end()) {
            if (!theme->is_object()) Fail("theme", "must be an object of index: \"#RRGGBB\"");
            file.hasTheme = true;
            for (auto it = theme->begin(); it != theme->end(); ++it) {
                const std::string& key = it.key();
                size_t used = 0;
                int index = -1;
                try {
                    index = std::stoi(key, &used);
                } catch (const std::exception&) {
                    used = 0;
                }
                if (key.empty() || used != key.size() || index < 0)
                    Fail("theme." + key, "index must be a number");
                ZrkColour colour = 0;
                if (!it.value().is_string() || !ParseColour(it.value().get<std::string>(), &colour))
                    Fail("theme." + key, "colour must be \"#RRGGBB\"");
                file.theme[index] = colour;
            }
        }
    } catch (const FileError& e) {
        *error = e.message;
        return false;
    } catch (const json::exception& e) {
        *error = std::string("host file: ") + e.what();
        return false;
    }
    *out = std::move(file);
    return true;
}

const GroupSpec* FindGroup(const std::vector<GroupSpec>& groups, const std::string& name) {
    for (const auto& g : groups) {
        if (g.name == name) return &g;
        if (const GroupSpec* found = FindGroup(g.groups, name)) return found;
    }
    return nullptr;
}

}  // namespace zrkhost
