// Loading the device definition for the host.
#include <gtest/gtest.h>

#include <cstring>

#include "framework/MZRKXmlDefinition.h"
#include "platform/Resources.h"

namespace {

TEST(XmlDefinition, LoadsTheDefinitionResourceAsATerminatedCopy) {
    MZRKXmlDefinition definition;
    EXPECT_EQ(definition.GetText(), nullptr);
    ASSERT_TRUE(definition.LoadFromResource(platform::OwnModule(), MZRKXmlDefinition::kDefinitionResourceId));
    const platform::Resource* r =
        platform::FindResource(platform::OwnModule(), platform::kResourceRcData, 10000);
    ASSERT_NE(r, nullptr);
    ASSERT_NE(definition.GetText(), nullptr);
    EXPECT_NE(static_cast<const void*>(definition.GetText()), static_cast<const void*>(r->data));
    EXPECT_EQ(std::strlen(definition.GetText()), r->size);
    EXPECT_EQ(std::memcmp(definition.GetText(), r->data, r->size), 0);
}

TEST(XmlDefinition, MissingResourceLeavesNoText) {
    MZRKXmlDefinition definition;
    EXPECT_FALSE(definition.LoadFromResource(platform::OwnModule(), 4242));
    EXPECT_EQ(definition.GetText(), nullptr);
    // A failed load also drops a text loaded before.
    ASSERT_TRUE(definition.LoadFromResource(platform::OwnModule(), 10000));
    EXPECT_FALSE(definition.LoadFromResource(platform::OwnModule(), 4242));
    EXPECT_EQ(definition.GetText(), nullptr);
}

TEST(XmlDefinition, SetTextCopiesAndNullClears) {
    MZRKXmlDefinition definition;
    char text[] = "<Device/>";
    definition.SetText(text);
    text[1] = 'X';
    EXPECT_STREQ(definition.GetText(), "<Device/>");
    // Its own text (or a tail of it) is copied before the old one is dropped.
    definition.SetText(definition.GetText() + 1);
    EXPECT_STREQ(definition.GetText(), "Device/>");
    definition.SetText(nullptr);
    EXPECT_EQ(definition.GetText(), nullptr);
}

}  // namespace
