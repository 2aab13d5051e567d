// The server's answers read the slow, obvious way: a whole JSON document first, then the list and every
// field by the rules of the REST client (the answer's root an object or null; the list the root's member
// under the kind's key; its elements the items of an array, the values of an object, nothing for null,
// the value itself for a scalar; each field kept at its default unless its value has the field's type).
// The fuzz targets check the client's own reading against this one.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace reference {

using json = nlohmann::json;

// A number (or true / false) as the client keeps it in a 32-bit field: integers keep their low 32 bits,
// fractions are cut toward zero, a value no 32-bit integer holds becomes the "indefinite" integer.
inline bool Int32(const json& value, int32_t* out) {
    switch (value.type()) {
        case json::value_t::number_integer:
            *out = static_cast<int32_t>(static_cast<uint32_t>(value.get<int64_t>()));
            return true;
        case json::value_t::number_unsigned:
            *out = static_cast<int32_t>(static_cast<uint32_t>(value.get<uint64_t>()));
            return true;
        case json::value_t::number_float: {
            double d = value.get<double>();
            if (!std::isfinite(d) || d <= -2147483649.0 || d >= 2147483648.0)
                *out = std::numeric_limits<int32_t>::min();
            else
                *out = static_cast<int32_t>(d);
            return true;
        }
        case json::value_t::boolean:
            *out = value.get<bool>() ? 1 : 0;
            return true;
        default:
            return false;
    }
}

inline void ReadInt(const json& element, const char* key, int32_t* field) {
    if (!element.is_object()) return;
    auto it = element.find(key);
    int32_t v;
    if (it != element.end() && Int32(*it, &v)) *field = v;
}

inline void ReadText(const json& element, const char* key, std::string* field) {
    if (!element.is_object()) return;
    auto it = element.find(key);
    if (it != element.end() && it->is_string()) *field = it->get<std::string>();
}

// The elements of the list under `key`; false when the answer cannot be read as a whole.
inline bool Elements(const std::string& body, const char* key, std::vector<json>* out) {
    json root = json::parse(body, nullptr, false, false);
    if (root.is_discarded()) return false;
    if (root.is_null()) return true;
    if (!root.is_object()) return false;
    auto it = root.find(key);
    if (it == root.end() || it->is_null()) return true;
    if (it->is_array() || it->is_object()) {
        for (const json& element : *it) out->push_back(element);
    } else {
        out->push_back(*it);
    }
    return true;
}

}  // namespace reference
