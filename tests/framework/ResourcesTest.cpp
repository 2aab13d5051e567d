// The embedded resources: what the host and the device read from the plug-in's own module.
#include <gtest/gtest.h>
#include <tinyxml.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/Resources.h"

namespace {

using platform::FindNamedResource;
using platform::FindResource;
using platform::OwnModule;

std::string Text(const platform::Resource* r) {
    return std::string(reinterpret_cast<const char*>(r->data), r->size);
}

uint32_t Le32(const unsigned char* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24;
}
uint16_t Le16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
uint32_t Be32(const unsigned char* p) {
    return uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}

std::string Attr(const TiXmlElement* e, const char* name) {
    const char* v = e->Attribute(name);
    return v ? v : "<missing>";
}

std::vector<std::string> AttributeNamesOf(const TiXmlElement* e) {
    std::vector<std::string> names;
    for (const TiXmlAttribute* a = e->FirstAttribute(); a; a = a->Next()) names.push_back(a->Name());
    return names;
}

TEST(Resources, MissingIdsAndNamesGiveNull) {
    EXPECT_EQ(FindResource(OwnModule(), platform::kResourceRcData, 10001), nullptr);
    EXPECT_EQ(FindResource(OwnModule(), platform::kResourceBitmap, 10000), nullptr);  // right id, wrong type
    EXPECT_EQ(FindResource(OwnModule(), platform::kResourceString, 1009), nullptr);
    EXPECT_EQ(FindNamedResource(OwnModule(), "IMAGE", "IDR_OTHER"), nullptr);
    EXPECT_EQ(FindNamedResource(OwnModule(), nullptr, "IDR_DEVICEICONPNG"), nullptr);
    EXPECT_EQ(FindNamedResource(OwnModule(), "IMAGE", nullptr), nullptr);
    // A named resource is not found by number, whatever its id field holds.
    EXPECT_EQ(FindResource(OwnModule(), platform::kResourceNamed, 0), nullptr);
}

#if !defined(_WIN32)  // Windows keeps resources in the module, not in an embedded table.
TEST(Resources, EveryEntryIsFollowedByANul) {
    int entries = 0;
    for (const platform::Resource* r = platform::EmbeddedResources(); r->type != 0; ++r, ++entries) {
        ASSERT_NE(r->data, nullptr);
        EXPECT_EQ(r->data[r->size], 0) << "entry " << entries;
    }
    EXPECT_GE(entries, 7);
}
#endif

TEST(Resources, StringTableHoldsTheManufacturer) {
    char buffer[64];
    EXPECT_EQ(platform::LoadStringResource(OwnModule(), 1008, buffer, sizeof buffer), 8);
    EXPECT_STREQ(buffer, "Veltrano");
    // The loader truncates to the buffer and always terminates.
    EXPECT_EQ(platform::LoadStringResource(OwnModule(), 1008, buffer, 4), 3);
    EXPECT_STREQ(buffer, "Vel");
    // The other strings of its block are empty.
    std::strcpy(buffer, "stale");
    EXPECT_EQ(platform::LoadStringResource(OwnModule(), 1007, buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(platform::LoadStringResource(OwnModule(), 1008, nullptr, 10), 0);
}

TEST(Resources, BitmapIsA16By16PackedDibOf24Bits) {
    const platform::Resource* r = FindResource(OwnModule(), platform::kResourceBitmap, 5);
    ASSERT_NE(r, nullptr);
    ASSERT_GE(r->size, 40u);
    EXPECT_NE(r->data[0], 'B') << "the file header must be stripped";
    EXPECT_EQ(Le32(r->data), 40u);                           // info header size
    EXPECT_EQ(static_cast<int32_t>(Le32(r->data + 4)), 16);  // width
    EXPECT_EQ(static_cast<int32_t>(Le32(r->data + 8)), 16);  // height, bottom-up
    EXPECT_EQ(Le16(r->data + 12), 1);                        // planes
    EXPECT_EQ(Le16(r->data + 14), 24);                       // bits per pixel
    EXPECT_EQ(Le32(r->data + 16), 0u);                       // uncompressed
    EXPECT_EQ(r->size, 40u + 16u * 16u * 3u);                // rows of 48 bytes need no padding
}

TEST(Resources, IconIsA32By32RgbaPng) {
    const platform::Resource* r = FindNamedResource(OwnModule(), "IMAGE", "IDR_DEVICEICONPNG");
    ASSERT_NE(r, nullptr);
    ASSERT_GE(r->size, 33u);
    EXPECT_EQ(std::memcmp(r->data, "\x89PNG\r\n\x1a\n", 8), 0);
    EXPECT_EQ(std::memcmp(r->data + 12, "IHDR", 4), 0);
    EXPECT_EQ(Be32(r->data + 16), 32u);
    EXPECT_EQ(Be32(r->data + 20), 32u);
    EXPECT_EQ(r->data[24], 8);  // bits per channel
    EXPECT_EQ(r->data[25], 6);  // colour type: RGB with alpha
    EXPECT_EQ(std::memcmp(r->data + r->size - 8, "IEND", 4), 0);
}

TEST(Resources, VersionBlockCarriesBothVersions) {
    const platform::Resource* r = FindResource(OwnModule(), platform::kResourceVersion, 1);
    ASSERT_NE(r, nullptr);
    const std::string text = "\n" + Text(r);
    EXPECT_NE(text.find("\nFileVersion=6.7.2.3\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nProductVersion=6.7.0.0\n"), std::string::npos) << text;
}

TEST(Resources, ManifestAsksForTheInvokersLevelWithoutUiAccess) {
    const platform::Resource* r = FindResource(OwnModule(), platform::kResourceManifest, 2);
    ASSERT_NE(r, nullptr);
    TiXmlDocument doc;
    doc.Parse(Text(r).c_str());
    ASSERT_FALSE(doc.Error()) << doc.ErrorDesc();
    TiXmlElement* level = TiXmlHandle(&doc)
                              .FirstChild("assembly")
                              .FirstChild("trustInfo")
                              .FirstChild("security")
                              .FirstChild("requestedPrivileges")
                              .FirstChild("requestedExecutionLevel")
                              .ToElement();
    ASSERT_NE(level, nullptr);
    EXPECT_EQ(Attr(level, "level"), "asInvoker");
    EXPECT_EQ(Attr(level, "uiAccess"), "false");
}

// The definition is what the host builds its command and variable lists from.
class DefinitionResource : public ::testing::Test {
protected:
    void SetUp() override {
        const platform::Resource* r = FindResource(OwnModule(), platform::kResourceRcData, 10000);
        ASSERT_NE(r, nullptr);
        text_ = Text(r);
        doc_.Parse(text_.c_str());
        ASSERT_FALSE(doc_.Error()) << doc_.ErrorDesc();
        root_ = doc_.RootElement();
        ASSERT_NE(root_, nullptr);
    }
    std::string text_;
    TiXmlDocument doc_;
    TiXmlElement* root_ = nullptr;
};

TEST_F(DefinitionResource, IsPlainAscii) {
    for (unsigned char c : text_) EXPECT_LT(c, 0x80);
    EXPECT_EQ(text_.find('\0'), std::string::npos);
}

TEST_F(DefinitionResource, RootHasEmptyIdAndNameAndThreeSections) {
    EXPECT_STREQ(root_->Value(), "Device");
    EXPECT_EQ(AttributeNamesOf(root_), (std::vector<std::string>{"ID", "Name"}));
    EXPECT_EQ(Attr(root_, "ID"), "");
    EXPECT_EQ(Attr(root_, "Name"), "");
    std::vector<std::string> sections;
    for (TiXmlElement* e = root_->FirstChildElement(); e; e = e->NextSiblingElement())
        sections.push_back(e->Value());
    EXPECT_EQ(sections, (std::vector<std::string>{"Info", "Commands", "Variables"}));
    TiXmlElement* info = root_->FirstChildElement("Info");
    ASSERT_NE(info, nullptr);
    TiXmlElement* description = info->FirstChildElement();
    ASSERT_NE(description, nullptr);
    EXPECT_STREQ(description->Value(), "Description");
    EXPECT_EQ(description->GetText(), nullptr);
    EXPECT_EQ(description->NextSiblingElement(), nullptr);
}

TEST_F(DefinitionResource, ListsTheFourCommandsWithUniqueIds) {
    const char* names[] = {"Enable", "Disable", "Refresh", "Sync DB"};
    int n = 0;
    for (TiXmlElement* c = root_->FirstChildElement("Commands")->FirstChildElement(); c;
         c = c->NextSiblingElement(), ++n) {
        ASSERT_LT(n, 4);
        EXPECT_STREQ(c->Value(), "Command");
        EXPECT_EQ(AttributeNamesOf(c), (std::vector<std::string>{"ID", "Name", "Version", "Status"}));
        int id = -1;
        EXPECT_EQ(c->QueryIntAttribute("ID", &id), TIXML_SUCCESS);
        EXPECT_EQ(id, n);  // the codes that reach the command handler
        EXPECT_EQ(Attr(c, "Name"), names[n]);
        EXPECT_EQ(Attr(c, "Version"), "0");
        EXPECT_EQ(Attr(c, "Status"), "Active");
        TiXmlElement* params = c->FirstChildElement();
        ASSERT_NE(params, nullptr);
        EXPECT_STREQ(params->Value(), "ObjectParams");
        EXPECT_EQ(Attr(params, "Version"), "0");
        EXPECT_EQ(params->FirstChild(), nullptr);
        EXPECT_EQ(params->NextSiblingElement(), nullptr);
    }
    EXPECT_EQ(n, 4);
}

TEST_F(DefinitionResource, ListsTheEightVariablesInOrder) {
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"TimeData", "NextRefreshTime"}, {"TimeData", "LastRefreshTime"},   {"StringData", "LastEvent"},
        {"StringData", "LastEventTime"}, {"StringData", "LastEventAction"}, {"StringData", "NextEvent"},
        {"StringData", "NextEventTime"}, {"StringData", "NextEventAction"},
    };
    std::vector<std::pair<std::string, std::string>> found;
    for (TiXmlElement* v = root_->FirstChildElement("Variables")->FirstChildElement(); v;
         v = v->NextSiblingElement()) {
        found.emplace_back(v->Value(), Attr(v, "Name"));
        EXPECT_EQ(AttributeNamesOf(v), (std::vector<std::string>{"InstanceID", "Name"}));
        EXPECT_EQ(Attr(v, "InstanceID"), "0");
    }
    EXPECT_EQ(found, expected);
}

// The dialog layout read by the dialog views.
TEST(DialogResource, SetupDialogLayout) {
    const platform::Resource* r =
        FindResource(OwnModule(), platform::kResourceRcData, platform::kSetupDialogLayoutId);
    ASSERT_NE(r, nullptr);
    TiXmlDocument doc;
    doc.Parse(Text(r).c_str());
    ASSERT_FALSE(doc.Error()) << doc.ErrorDesc();
    TiXmlElement* dialog = doc.RootElement();
    ASSERT_NE(dialog, nullptr);
    EXPECT_STREQ(dialog->Value(), "Dialog");
    EXPECT_EQ(Attr(dialog, "ID"), "101");
    EXPECT_EQ(Attr(dialog, "Caption"), "Setup Calendar");
    EXPECT_EQ(Attr(dialog, "Width"), "289");
    EXPECT_EQ(Attr(dialog, "Height"), "168");
    EXPECT_EQ(Attr(dialog, "Font"), "MS Shell Dlg");
    EXPECT_EQ(Attr(dialog, "PointSize"), "8");
    EXPECT_EQ(Attr(dialog, "Style").find("WS_VISIBLE"), std::string::npos);

    struct Expected {
        int id;
        const char* cls;
        const char* text;
        int x, y, w, h;
    };
    // Template order is the tab order and decides the up-down buddies.
    const Expected controls[] = {
        {1015, "Static", "", 0, 136, 289, 30},
        {1, "Button", "OK", 147, 143, 60, 15},
        {2, "Button", "Cancel", 216, 144, 60, 15},
        {-1, "Static", "Refresh Period:", 9, 87, 64, 8},
        {-1, "Static", "Lookahead:", 9, 110, 63, 8},
        {-1, "Static", "Instance Name:", 9, 49, 70, 8},
        {-1, "Static", "Server URL:", 9, 9, 70, 8},
        {-1, "Static", "Minutes", 143, 87, 25, 8},
        {-1, "Static", "Days", 142, 108, 25, 8},
        {1001, "Edit", "", 79, 84, 49, 14},
        {1012, "msctls_updown32", "", 131, 85, 12, 13},
        {1010, "Edit", "", 79, 105, 49, 14},
        {1013, "msctls_updown32", "", 129, 107, 12, 14},
        {1002, "ComboBox", "", 79, 46, 198, 61},
        {1006, "Edit", "", 79, 8, 198, 14},
        {1008, "Static", "", 9, 31, 166, 8},
        {1007, "Button", "Verify Connection", 188, 28, 90, 14},
        {1004, "ComboBox", "", 79, 66, 129, 61},
        {-1, "Static", "Calendar Group:", 9, 67, 59, 8},
        {1011, "Button", "Sync", 217, 65, 60, 14},
    };
    size_t n = 0;
    for (TiXmlElement* c = dialog->FirstChildElement(); c; c = c->NextSiblingElement(), ++n) {
        ASSERT_LT(n, std::size(controls));
        const Expected& e = controls[n];
        SCOPED_TRACE("control " + std::to_string(n));
        EXPECT_STREQ(c->Value(), "Control");
        EXPECT_EQ(Attr(c, "ID"), std::to_string(e.id));
        EXPECT_EQ(Attr(c, "Class"), e.cls);
        EXPECT_EQ(Attr(c, "Text"), e.text);
        EXPECT_EQ(Attr(c, "X"), std::to_string(e.x));
        EXPECT_EQ(Attr(c, "Y"), std::to_string(e.y));
        EXPECT_EQ(Attr(c, "Width"), std::to_string(e.w));
        EXPECT_EQ(Attr(c, "Height"), std::to_string(e.h));
        std::string style = Attr(c, "Style");
        if (std::strcmp(e.cls, "Button") == 0) {
            EXPECT_NE(style.find("BS_OWNERDRAW"), std::string::npos);
        }
        if (std::strcmp(e.cls, "ComboBox") == 0) {
            EXPECT_NE(style.find("CBS_DROPDOWNLIST"), std::string::npos);
            EXPECT_NE(style.find("CBS_SORT"), std::string::npos);
        }
    }
    EXPECT_EQ(n, std::size(controls));
}

}  // namespace
