// How the device reads the host's XML replies, written out independently of the host's builder so that
// the tests check the replies against the reader, not against themselves.
#pragma once

#include <tinyxml.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace zrkhost_test {

struct ReadItem {
    std::string name;
    int value;  // depth for user groups, item kind for data items and listings
    bool operator==(const ReadItem& o) const { return name == o.name && value == o.value; }
};

inline void WalkGroups(const TiXmlElement* e, int depth, std::vector<ReadItem>* out) {
    for (; e; e = e->NextSiblingElement()) {
        const char* name = e->Attribute("Name");
        const char* type = e->Attribute("Type");
        if (!name || !type || std::strcmp(type, "UserGroup") != 0) continue;
        if (std::strcmp(name, "User Groups") != 0) out->push_back({name, depth});
        WalkGroups(e->FirstChildElement("Object"), depth + 1, out);
    }
}

// false when the reply is not XML.
inline bool ReadUserGroups(const std::string& reply, std::vector<ReadItem>* out) {
    TiXmlDocument doc;
    doc.Parse(reply.c_str(), nullptr, TIXML_ENCODING_UTF8);
    if (doc.Error() || !doc.RootElement()) return false;
    WalkGroups(doc.RootElement()->FirstChildElement("Object"), 0, out);
    return true;
}

inline bool ReadItems(const std::string& reply, bool listing, std::vector<ReadItem>* out) {
    TiXmlDocument doc;
    doc.Parse(reply.c_str(), nullptr, TIXML_ENCODING_UTF8);
    if (doc.Error() || !doc.RootElement()) return false;
    for (const TiXmlElement* e = doc.RootElement()->FirstChildElement("Object"); e;
         e = e->NextSiblingElement()) {
        const char* name = e->Attribute("Name");
        if (!name) continue;
        if (listing) {
            out->push_back({name, 3});
            continue;
        }
        const char* value = e->Attribute("Value");
        if (!value) continue;
        if (!strcasecmp(value, "EnumData")) out->push_back({name, 4});
        if (!strcasecmp(value, "IntegerData")) out->push_back({name, 1});
        if (!strcasecmp(value, "StringData")) out->push_back({name, 2});
    }
    return true;
}

}  // namespace zrkhost_test
