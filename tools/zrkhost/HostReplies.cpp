#include "HostReplies.h"

#include <tinyxml.h>

#include <cstring>

#include "zrk/ZrkTypes.h"

namespace zrkhost {

namespace {

std::string Print(const TiXmlDocument& doc) {
    TiXmlPrinter printer;
    printer.SetIndent("\t");
    doc.Accept(&printer);
    return printer.CStr();
}

TiXmlElement* AddObject(TiXmlNode* parent, const std::string& name) {
    TiXmlElement* object = new TiXmlElement("Object");
    object->SetAttribute("Name", name.c_str());
    parent->LinkEndChild(object);
    return object;
}

void AddGroups(TiXmlNode* parent, const std::vector<GroupSpec>& groups) {
    for (const auto& g : groups) {
        TiXmlElement* object = AddObject(parent, g.name);
        object->SetAttribute("Type", "UserGroup");
        AddGroups(object, g.groups);
    }
}

const char* ItemValue(VariableKind kind) {
    switch (kind) {
        case VariableKind::Integer:
            return "IntegerData";
        case VariableKind::Enum:
            return "EnumData";
        case VariableKind::Text:
            break;
    }
    return "StringData";
}

}  // namespace

std::string UserGroupsReply(const std::vector<GroupSpec>& groups) {
    TiXmlDocument doc;
    TiXmlElement* root = new TiXmlElement("Objects");
    doc.LinkEndChild(root);
    TiXmlElement* all = AddObject(root, "User Groups");
    all->SetAttribute("Type", "UserGroup");
    AddGroups(all, groups);
    return Print(doc);
}

std::string GroupItemsReply(const GroupSpec& group, const std::vector<VariableSpec>& variables) {
    TiXmlDocument doc;
    TiXmlElement* root = new TiXmlElement("Objects");
    doc.LinkEndChild(root);
    for (const auto& item : group.items) {
        for (const auto& v : variables) {
            if (v.name != item) continue;
            AddObject(root, item)->SetAttribute("Value", ItemValue(v.kind));
            break;
        }
    }
    return Print(doc);
}

std::string GroupListingReply(const GroupSpec& group) {
    TiXmlDocument doc;
    TiXmlElement* root = new TiXmlElement("Objects");
    doc.LinkEndChild(root);
    for (const auto& name : group.listing) AddObject(root, name);
    return Print(doc);
}

int AnswerRequest(const HostFile& file, const char* text, int code, std::string* reply) {
    reply->clear();
    if (code != kRequestUserGroups && code != kRequestGroupItems && code != kRequestGroupListing)
        return kZrkNotSupported;
    if (!text) return kZrkBadArgument;
    if (code == kRequestUserGroups) {
        if (std::strcmp(text, "GrantedRootGroup") != 0) return kZrkBadArgument;
        *reply = UserGroupsReply(file.groups);
        return kZrkOk;
    }
    const GroupSpec* group = FindGroup(file.groups, text);
    if (!group) return kZrkBadArgument;
    *reply = code == kRequestGroupItems ? GroupItemsReply(*group, file.variables) : GroupListingReply(*group);
    return kZrkOk;
}

}  // namespace zrkhost
