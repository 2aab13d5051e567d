// The XML replies of the host's remote requests, built from the host file's groups. A reader starts at
// the first "Object" child of the root and visits it and its following siblings:
//   27 "GrantedRootGroup": the user group tree, every group an Object with Name and Type "UserGroup",
//      nested below one "User Groups" group (so the file's top-level groups sit at depth 1);
//   7 group: the group's data items, Object Name and Value "IntegerData" / "StringData" / "EnumData";
//   3 group: the group's second listing, Object Name.
#pragma once

#include <string>
#include <vector>

#include "HostFile.h"

namespace zrkhost {

constexpr int kRequestUserGroups = 27;
constexpr int kRequestGroupItems = 7;
constexpr int kRequestGroupListing = 3;

std::string UserGroupsReply(const std::vector<GroupSpec>& groups);
std::string GroupItemsReply(const GroupSpec& group, const std::vector<VariableSpec>& variables);
std::string GroupListingReply(const GroupSpec& group);

// Answers request code with argument text: 0 and *reply; 2 for a null or unknown argument (group or
// root name); 19 for a request code the host does not serve.
int AnswerRequest(const HostFile& file, const char* text, int code, std::string* reply);

}  // namespace zrkhost
