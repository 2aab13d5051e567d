// The host file as zrkhost reads it, and the XML replies it builds from the groups.
#include <gtest/gtest.h>

#include <random>

#include "HostFile.h"
#include "HostReplies.h"
#include "ReplyWalk.h"
#include "ZrkhostRun.h"
#include "zrk/ZrkTypes.h"

namespace zrkhost_test {
namespace {

using zrkhost::HostFile;
using zrkhost::ParseHostFile;

HostFile Parse(const std::string& text) {
    HostFile file;
    std::string error;
    EXPECT_TRUE(ParseHostFile(text, &file, &error)) << error;
    return file;
}

std::string Error(const std::string& text) {
    HostFile file;
    std::string error;
    EXPECT_FALSE(ParseHostFile(text, &file, &error)) << text;
    return error;
}

TEST(HostFile, ReadsEveryMember) {
    HostFile f = Parse(StandardHostFile());
    EXPECT_EQ(f.tasks, (std::vector<std::string>{"Show A", "Show B"}));
    ASSERT_EQ(f.variables.size(), 3u);
    EXPECT_EQ(f.variables[0].kind, zrkhost::VariableKind::Integer);
    EXPECT_EQ(f.variables[0].number, 5);
    EXPECT_EQ(f.variables[1].text, "Opening");
    EXPECT_EQ(f.variables[2].kind, zrkhost::VariableKind::Enum);
    EXPECT_EQ(f.variables[2].text, "Night");
    ASSERT_EQ(f.groups.size(), 2u);
    EXPECT_EQ(f.groups[0].groups[0].name, "Lights");
    EXPECT_TRUE(f.hasTheme);
    EXPECT_EQ(f.theme.at(0), 0x302010u);
    EXPECT_EQ(f.theme.at(11), 0xFFFFFFu);
}

TEST(HostFile, DefaultsForWhatIsLeftOut) {
    HostFile f = Parse(R"({"variables": [{"name": "N", "type": "integer"}, {"name": "E", "type": "enum",
                          "items": ["x", "y"]}, {"name": "S", "type": "string"},
                          {"name": "I", "type": "enum", "items": ["a", "b"], "value": 1}]})");
    EXPECT_EQ(f.variables[0].number, 0);
    EXPECT_EQ(f.variables[1].text, "x");
    EXPECT_EQ(f.variables[2].text, "");
    EXPECT_EQ(f.variables[3].text, "b");
    EXPECT_FALSE(f.hasTheme);
    EXPECT_FALSE(Parse("{}").hasTheme);
}

TEST(HostFile, RefusesMalformedMembersNamingThem) {
    EXPECT_NE(Error("[]").find("object"), std::string::npos);
    EXPECT_NE(Error("{").find("host file"), std::string::npos);
    EXPECT_NE(Error(R"({"tasks": "Show"})").find("tasks"), std::string::npos);
    EXPECT_NE(Error(R"({"variables": [{"name": "V", "type": "float"}]})").find("type"), std::string::npos);
    EXPECT_NE(Error(R"({"variables": [{"type": "string"}]})").find("name"), std::string::npos);
    EXPECT_NE(Error(R"({"variables": [{"name": "V", "type": "integer", "value": "5"}]})").find("value"),
              std::string::npos);
    EXPECT_NE(Error(R"({"variables": [{"name": "V", "type": "integer", "value": 1.5}]})").find("value"),
              std::string::npos);
    EXPECT_NE(Error(R"({"variables": [{"name": "V", "type": "integer", "value": 18446744073709551615}]})")
                  .find("value"),
              std::string::npos);
    EXPECT_NE(Error(R"({"variables": [{"name": "E", "type": "enum", "items": ["a"], "value": "b"}]})")
                  .find("value"),
              std::string::npos);
    EXPECT_NE(
        Error(R"({"variables": [{"name": "E", "type": "enum", "items": ["a"], "value": 1}]})").find("value"),
        std::string::npos);
    EXPECT_NE(Error(R"({"variables": [{"name": "E", "type": "enum"}]})").find("items"), std::string::npos);
    EXPECT_NE(Error(R"({"variables": [{"name": "V", "type": "string"}, {"name": "V", "type": "string"}]})")
                  .find("twice"),
              std::string::npos);
    EXPECT_NE(Error(R"({"groups": [{"name": "G", "items": ["Nobody"]}]})").find("Nobody"), std::string::npos);
    EXPECT_NE(Error(R"({"groups": [{"name": "G", "groups": [{"items": []}]}]})").find("groups[0].groups[0]"),
              std::string::npos);
    EXPECT_NE(Error(R"({"theme": {"x": "#000000"}})").find("theme.x"), std::string::npos);
    EXPECT_NE(Error(R"({"theme": {"1": "red"}})").find("theme.1"), std::string::npos);
    EXPECT_NE(Error(R"({"theme": {"-1": "#000000"}})").find("theme.-1"), std::string::npos);
}

TEST(HostFile, ColoursAreReadAsThePlatformStoresThem) {
    ZrkColour c = 0;
    EXPECT_TRUE(zrkhost::ParseColour("#A0b1C2", &c));
    EXPECT_EQ(c, 0xC2B1A0u);
    EXPECT_FALSE(zrkhost::ParseColour("A0B1C2", &c));
    EXPECT_FALSE(zrkhost::ParseColour("#A0B1C", &c));
    EXPECT_FALSE(zrkhost::ParseColour("#A0B1CG", &c));
    EXPECT_FALSE(zrkhost::ParseColour("#A0B1C2D", &c));
}

TEST(HostFile, SurvivesArbitraryBytes) {
    std::mt19937 random(1234);
    std::string base = StandardHostFile();
    for (int round = 0; round < 2000; ++round) {
        std::string text = base;
        int edits = 1 + int(random() % 8);
        for (int i = 0; i < edits; ++i) text[random() % text.size()] = char(random() % 256);
        if (round % 3 == 0) text.resize(random() % text.size());
        HostFile f;
        std::string error;
        if (!ParseHostFile(text, &f, &error)) {
            EXPECT_FALSE(error.empty());
        }
    }
    // Groups nested without end are refused rather than followed.
    std::string deep = R"({"groups": [)";
    for (int i = 0; i < 200; ++i) deep += R"({"name": "g", "groups": [)";
    for (int i = 0; i < 200; ++i) deep += "]}";
    deep += "]}";
    EXPECT_NE(Error(deep).find("deep"), std::string::npos);
}

TEST(HostReplies, RequestCodesAndArguments) {
    HostFile f = Parse(StandardHostFile());
    std::string reply = "stale";
    EXPECT_EQ(zrkhost::AnswerRequest(f, "GrantedRootGroup", 27, &reply), kZrkOk);
    EXPECT_FALSE(reply.empty());
    EXPECT_EQ(zrkhost::AnswerRequest(f, "Other", 27, &reply), kZrkBadArgument);
    EXPECT_TRUE(reply.empty());
    EXPECT_EQ(zrkhost::AnswerRequest(f, nullptr, 7, &reply), kZrkBadArgument);
    EXPECT_EQ(zrkhost::AnswerRequest(f, "stage", 7, &reply), kZrkBadArgument);  // names are exact
    EXPECT_EQ(zrkhost::AnswerRequest(f, "Lights", 7, &reply), kZrkOk);          // nested groups are found
    for (int code : {0, 1, 26, 28, 30, 100, 1000, -1}) {
        EXPECT_EQ(zrkhost::AnswerRequest(f, "Stage", code, &reply), kZrkNotSupported) << code;
    }
}

TEST(HostReplies, EmptyTreeAndEmptyGroupStillParse) {
    std::vector<ReadItem> read;
    EXPECT_TRUE(ReadUserGroups(zrkhost::UserGroupsReply({}), &read));
    EXPECT_TRUE(read.empty());
    zrkhost::GroupSpec empty;
    empty.name = "Foyer";
    EXPECT_TRUE(ReadItems(zrkhost::GroupItemsReply(empty, {}), false, &read));
    EXPECT_TRUE(ReadItems(zrkhost::GroupListingReply(empty), true, &read));
    EXPECT_TRUE(read.empty());
}

TEST(HostReplies, NamesWithMarkupCharactersComeBackUnchanged) {
    HostFile f = Parse(R"({"variables": [{"name": "A&B <\"x\"> 'y'", "type": "string"},
                                        {"name": "Bühne", "type": "enum", "items": ["1"]}],
                          "groups": [{"name": "R&D <1>", "items": ["A&B <\"x\"> 'y'", "Bühne"],
                                      "listing": ["a\"b"]}]})");
    std::vector<ReadItem> groups, items, listing;
    ASSERT_TRUE(ReadUserGroups(zrkhost::UserGroupsReply(f.groups), &groups));
    EXPECT_EQ(groups, (std::vector<ReadItem>{{"R&D <1>", 1}}));
    ASSERT_TRUE(ReadItems(zrkhost::GroupItemsReply(f.groups[0], f.variables), false, &items));
    EXPECT_EQ(items, (std::vector<ReadItem>{{"A&B <\"x\"> 'y'", 2}, {"Bühne", 4}}));
    ASSERT_TRUE(ReadItems(zrkhost::GroupListingReply(f.groups[0]), true, &listing));
    EXPECT_EQ(listing, (std::vector<ReadItem>{{"a\"b", 3}}));
}

}  // namespace
}  // namespace zrkhost_test
