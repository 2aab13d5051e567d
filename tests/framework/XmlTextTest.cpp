// Outside XML texts: UTF-8 recognised exactly, ANSI texts read byte by byte so that they read back as
// written, and nesting too deep for the parser's recursion refused before parsing.
#include <gtest/gtest.h>

#include <string>

#include "framework/XmlText.h"

TEST(XmlTextUtf8, AcceptsWellFormedAndRefusesEveryMalformedKind) {
    for (const char* good : {"", "plain", "caf\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x8E\xB5",
                             "\xEF\xBB\xBF<a/>", "\xF4\x8F\xBF\xBF"}) {
        EXPECT_TRUE(xml_text::IsUtf8(good)) << good;
    }
    for (const char* bad : {"caf\xE9", "\xC3", "\xC3>", "\x80", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80",
                            "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xFF", "\xE2\x82"}) {
        EXPECT_FALSE(xml_text::IsUtf8(bad)) << bad;
    }
    EXPECT_FALSE(xml_text::IsUtf8(nullptr));
    EXPECT_EQ(xml_text::EncodingOf("caf\xC3\xA9"), TIXML_ENCODING_UTF8);
    EXPECT_EQ(xml_text::EncodingOf("caf\xE9"), TIXML_ENCODING_LEGACY);
}

TEST(XmlTextParse, AnsiAttributesReadBackAsWrittenWhatEverFollowsTheLetter) {
    // An ANSI letter right before an entity or a tag: read as UTF-8, its "lead byte" would swallow them.
    for (const std::string value : {"caf\xE9&x", "\xC3>", "\xE9<\"'", "\xF0&amp;"}) {
        TiXmlElement element("Setup");
        element.SetAttribute("URL", value.c_str());
        TiXmlPrinter printer;
        element.Accept(&printer);
        TiXmlDocument document;
        ASSERT_TRUE(xml_text::Parse(&document, printer.CStr())) << printer.CStr();
        ASSERT_NE(document.RootElement(), nullptr);
        EXPECT_EQ(std::string(document.RootElement()->Attribute("URL")), value) << printer.CStr();
    }
    // UTF-8 texts are still read as UTF-8: a character reference becomes its UTF-8 bytes.
    TiXmlDocument utf8;
    ASSERT_TRUE(xml_text::Parse(&utf8, "<a v=\"caf\xC3\xA9 &#233;\"/>"));
    EXPECT_STREQ(utf8.RootElement()->Attribute("v"), "caf\xC3\xA9 \xC3\xA9");
}

TEST(XmlTextParse, NestingBeyondTheLimitIsRefusedBeforeParsingEvenBehindAnAnsiLetter) {
    std::string deep;
    for (int i = 0; i < 100000; ++i) deep += "<a>";
    TiXmlDocument document;
    EXPECT_FALSE(xml_text::Parse(&document, ("<r>" + deep).c_str()));
    // Read as UTF-8, the letter before the comment would hide the comment's start from the parser, which
    // would then recurse into the tags the scan rightly passed over. Read byte by byte, both see a comment.
    EXPECT_EQ(xml_text::NestingDepth(("<r>\xE0<!--" + deep + "--></r>").c_str()), 1);
    ASSERT_TRUE(xml_text::Parse(&document, ("<r>\xE0<!--" + deep + "--></r>").c_str()));
    EXPECT_EQ(document.RootElement()->FirstChildElement(), nullptr);

    std::string fits = "<r>";
    for (int i = 1; i < xml_text::kMaxDepth; ++i) fits += "<a>";
    for (int i = 1; i < xml_text::kMaxDepth; ++i) fits += "</a>";
    EXPECT_TRUE(xml_text::Parse(&document, (fits + "</r>").c_str()));
    EXPECT_FALSE(xml_text::Parse(&document, ""));
    EXPECT_FALSE(xml_text::Parse(&document, nullptr));
    EXPECT_FALSE(xml_text::Parse(&document, "<a><b></a>"));
}
