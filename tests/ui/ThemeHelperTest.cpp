// The theme helper's colours and button drawing, recorded through a drawing context in memory.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/VCThemeHelper.h"

namespace {

using ui::IDrawContext;
using ui::OwnerDrawItem;
using ui::ScreenRect;
using ui::UiBrush;
using ui::UiPen;
using ui::VCThemeHelper;

class FakeTheme : public IThemeManager {
public:
    int ZRK_CALL QueryInterface(const char*, void**) override { return kZrkUnknownInterface; }
    int ZRK_CALL Release() override { return 0; }
    ZrkColour ZRK_CALL GetColour(int index) override {
        queries.push_back(index);
        // Index 12 answers differently the second time, as a theme changing under the dialog would.
        if (index == 12 && ++pressedAsked > 1) return 0xAA0012u;
        return 0x100000u + static_cast<unsigned>(index);
    }
    std::vector<int> queries;
    int pressedAsked = 0;
};

constexpr ZrkColour kBackground = 0x100000;
constexpr ZrkColour kText = 0x100001;
constexpr ZrkColour kPressedText = 0x100005;
constexpr ZrkColour kBorder = 0x100008;
constexpr ZrkColour kFace = 0x10000B;
constexpr ZrkColour kPressedFace = 0x10000C;

// Records every call as a line and keeps the context's state.
class Recorder : public IDrawContext {
public:
    ZrkColour SetTextColour(ZrkColour c) override {
        log.push_back("text " + Hex(c));
        std::swap(c, textColour);
        return c;
    }
    ZrkColour SetBackgroundColour(ZrkColour c) override {
        log.push_back("bk " + Hex(c));
        std::swap(c, bkColour);
        return c;
    }
    int SetBackgroundMode(int mode) override {
        log.push_back("mode " + std::to_string(mode));
        std::swap(mode, bkMode);
        return mode;
    }
    const UiBrush* SelectBrush(const UiBrush* b) override {
        log.push_back("brush " + (b ? Hex(b->colour) : std::string("null")));
        std::swap(b, brush);
        return b;
    }
    const UiPen* SelectPen(const UiPen* p) override {
        log.push_back("pen " + (p ? Hex(p->colour) + "/" + std::to_string(p->width) : std::string("null")));
        std::swap(p, pen);
        return p;
    }
    void FillRect(const ScreenRect& r, const UiBrush* b) override {
        log.push_back("fill " + Rect(r) + " " + (b ? Hex(b->colour) : std::string("null")));
    }
    void RoundRect(const ScreenRect& r, int w, int h) override {
        log.push_back("round " + Rect(r) + " " + std::to_string(w) + "x" + std::to_string(h) + " pen " +
                      (pen ? Hex(pen->colour) : std::string("null")) + " brush " +
                      (brush ? Hex(brush->colour) : std::string("null")));
    }
    void DrawText(const std::string& t, const ScreenRect& r, unsigned format) override {
        log.push_back("draw '" + t + "' " + Rect(r) + " " + std::to_string(format) + " in " +
                      Hex(textColour) + " mode " + std::to_string(bkMode));
    }

    bool Has(const std::string& prefix) const {
        for (const auto& line : log) {
            if (line.compare(0, prefix.size(), prefix) == 0) return true;
        }
        return false;
    }
    static std::string Hex(ZrkColour c) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%06X", c);
        return buf;
    }
    static std::string Rect(const ScreenRect& r) {
        return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
               std::to_string(r.bottom);
    }

    std::vector<std::string> log;
    ZrkColour textColour = 0x777777;
    ZrkColour bkColour = 0x888888;
    int bkMode = ui::kBackgroundOpaque;
    UiBrush ownBrush{0x999999};
    UiPen ownPen{0x666666, 3};
    const UiBrush* brush = &ownBrush;
    const UiPen* pen = &ownPen;
};

OwnerDrawItem Button(unsigned state, const std::string& text = "OK") {
    OwnerDrawItem item;
    item.id = 1;
    item.state = state;
    item.rect = {2, 3, 92, 28};
    item.text = text;
    return item;
}

class ThemeHelperTest : public ::testing::Test {
protected:
    void SetUp() override { helper.Init(&theme); }
    FakeTheme theme;
    VCThemeHelper helper;
    Recorder dc;
};

TEST_F(ThemeHelperTest, InitReadsTheSixColoursAndTheAlternateOnceMore) {
    EXPECT_TRUE(helper.IsReady());
    EXPECT_EQ(theme.queries, (std::vector<int>{0, 1, 11, 8, 12, 5, 12}));
    EXPECT_EQ(helper.BackgroundColour(), kBackground);
    EXPECT_EQ(helper.TextColour(), kText);
    EXPECT_EQ(helper.FaceColour(), kFace);
    EXPECT_EQ(helper.BorderColour(), kBorder);
    EXPECT_EQ(helper.PressedFaceColour(), kPressedFace);
    EXPECT_EQ(helper.PressedTextColour(), kPressedText);
}

TEST_F(ThemeHelperTest, ControlColoursByKind) {
    const UiBrush* band = helper.CtlColor(&dc, ui::kColourKindBand);
    ASSERT_NE(band, nullptr);
    EXPECT_EQ(band->colour, kFace);
    // Text in the band takes the face colour: it cannot be seen.
    EXPECT_EQ(dc.textColour, kFace);
    EXPECT_EQ(dc.bkColour, kFace);

    const UiBrush* alternate = helper.CtlColor(&dc, ui::kColourKindAlternate);
    ASSERT_NE(alternate, nullptr);
    EXPECT_EQ(alternate->colour, 0xAA0012u);  // from the second query of index 12
    EXPECT_EQ(dc.textColour, kFace);

    const UiBrush* dialog = helper.CtlColor(&dc, ui::kColourKindDialog);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->colour, kBackground);
    EXPECT_EQ(dc.textColour, kText);
    EXPECT_EQ(dc.bkColour, kBackground);
    EXPECT_EQ(helper.CtlColor(&dc, 7), dialog);  // any other kind is the dialog's

    // Brushes are made once and handed out again.
    EXPECT_EQ(helper.CtlColor(&dc, ui::kColourKindBand), band);
    EXPECT_EQ(helper.CtlColor(nullptr, ui::kColourKindBand), nullptr);
}

TEST_F(ThemeHelperTest, NormalButtonIsFilledOutlinedAndLabelled) {
    EXPECT_TRUE(helper.DrawItem(Button(0), &dc));
    EXPECT_EQ(dc.log, (std::vector<std::string>{
                          "fill 2,3,92,28 10000B",
                          "brush 10000B",
                          "pen 100008/1",
                          "text 100001",
                          "mode 1",
                          "round 2,3,92,28 10x10 pen 100008 brush 10000B",
                          "draw 'OK' 2,3,92,28 37 in 100001 mode 1",
                          "brush 999999",
                          "pen 666666/3",
                          "text 777777",
                          "mode 2",
                      }));
    // The context is as it was.
    EXPECT_EQ(dc.brush, &dc.ownBrush);
    EXPECT_EQ(dc.pen, &dc.ownPen);
    EXPECT_EQ(dc.textColour, 0x777777u);
    EXPECT_EQ(dc.bkMode, ui::kBackgroundOpaque);
}

TEST_F(ThemeHelperTest, FocusIsNotDrawn) {
    Recorder plain;
    helper.DrawItem(Button(0), &plain);
    helper.DrawItem(Button(ui::kItemFocus), &dc);
    EXPECT_EQ(dc.log, plain.log);
}

TEST_F(ThemeHelperTest, PressedButtonHasPressedColoursAndNoOutline) {
    EXPECT_TRUE(helper.DrawItem(Button(ui::kItemSelected | ui::kItemFocus, "Sync"), &dc));
    EXPECT_TRUE(dc.Has("fill 2,3,92,28 10000C"));
    EXPECT_TRUE(dc.Has("draw 'Sync' 2,3,92,28 37 in 100005 mode 1"));
    EXPECT_FALSE(dc.Has("round"));
    EXPECT_FALSE(dc.Has("pen"));  // no pen selected, none to restore
    EXPECT_EQ(dc.brush, &dc.ownBrush);
    EXPECT_EQ(dc.textColour, 0x777777u);
}

TEST_F(ThemeHelperTest, DisabledWinsOverPressed) {
    EXPECT_TRUE(helper.DrawItem(Button(ui::kItemDisabled | ui::kItemSelected), &dc));
    EXPECT_TRUE(dc.Has("fill 2,3,92,28 10000B"));
    EXPECT_FALSE(dc.Has("fill 2,3,92,28 10000C"));
    EXPECT_FALSE(dc.Has("round"));
    EXPECT_TRUE(dc.Has("draw 'OK' 2,3,92,28 37 in 100001"));
    EXPECT_EQ(dc.pen, &dc.ownPen);
    EXPECT_EQ(dc.brush, &dc.ownBrush);
}

TEST_F(ThemeHelperTest, EmptyTextIsFilledAndOutlinedWithoutText) {
    EXPECT_TRUE(helper.DrawItem(Button(0, ""), &dc));
    EXPECT_TRUE(dc.Has("fill"));
    EXPECT_TRUE(dc.Has("round 2,3,92,28 10x10"));
    EXPECT_FALSE(dc.Has("draw"));
}

TEST(ThemeHelperUnready, DrawsNothingAndLeavesColoursToTheToolkit) {
    VCThemeHelper helper;
    Recorder dc;
    EXPECT_FALSE(helper.IsReady());
    EXPECT_EQ(helper.CtlColor(&dc, ui::kColourKindDialog), nullptr);
    EXPECT_EQ(helper.CtlColor(&dc, ui::kColourKindBand), nullptr);
    EXPECT_FALSE(helper.DrawItem(Button(0), &dc));
    EXPECT_TRUE(dc.log.empty());
    helper.Init(nullptr);
    EXPECT_FALSE(helper.IsReady());
}

}  // namespace
