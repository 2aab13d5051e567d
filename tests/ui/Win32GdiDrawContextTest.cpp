// The theme helper painting through GDI: owner-drawn buttons on a bitmap in memory show the theme's
// colours where they belong, and the device context gets back the brush, pen, text colour and background
// mode it held; the control colours come with a brush of the right colour.
#ifdef _WIN32
#include <windows.h>
// After windows.h, which it needs.
#include <gtest/gtest.h>

#include "platform/win32/GdiDrawContext.h"
#include "ui/VCThemeHelper.h"

namespace {

using platform::win32::GdiDrawContext;
using platform::win32::GdiObjects;

constexpr COLORREF kBackground = RGB(0x20, 0x28, 0x30);
constexpr COLORREF kText = RGB(0xE0, 0xE0, 0xE0);
constexpr COLORREF kPressedText = RGB(0xFF, 0xFF, 0xFF);
constexpr COLORREF kBorder = RGB(0x80, 0xA0, 0xC0);
constexpr COLORREF kFace = RGB(0x30, 0x40, 0x50);
constexpr COLORREF kPressedFace = RGB(0x50, 0x70, 0xA0);

class Theme : public IThemeManager {
public:
    int ZRK_CALL QueryInterface(const char*, void**) override { return kZrkUnknownInterface; }
    int ZRK_CALL Release() override { return 0; }
    ZrkColour ZRK_CALL GetColour(int index) override {
        switch (index) {
            case 0:
                return kBackground;
            case 1:
                return kText;
            case 5:
                return kPressedText;
            case 8:
                return kBorder;
            case 11:
                return kFace;
            case 12:
                return kPressedFace;
            default:
                return 0;
        }
    }
};

// A 60 x 20 button on a white bitmap, in a context holding brush, pen, text colour and mode of its own.
class GdiButton : public ::testing::Test {
protected:
    void SetUp() override {
        theme_.Init(&host_);
        dc_ = CreateCompatibleDC(nullptr);
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = kWidth;
        info.bmiHeader.biHeight = -kHeight;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, nullptr, nullptr, 0);
        oldBitmap_ = SelectObject(dc_, bitmap_);
        const RECT all{0, 0, kWidth, kHeight};
        FillRect(dc_, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        SelectObject(dc_, ownBrush_);
        SelectObject(dc_, ownPen_);
        SetTextColor(dc_, RGB(1, 2, 3));
        SetBkMode(dc_, OPAQUE);
    }
    void TearDown() override {
        SelectObject(dc_, oldBitmap_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
        DeleteObject(ownBrush_);
        DeleteObject(ownPen_);
    }

    void Draw(unsigned state) {
        ui::OwnerDrawItem item;
        item.id = 1;
        item.state = state;
        item.rect = ui::ScreenRect{0, 0, kWidth, kHeight};
        item.text = "OK";
        GdiDrawContext context(dc_, &objects_);
        ASSERT_TRUE(theme_.DrawItem(item, &context));
    }

    // What the context holds after the helper painted: exactly what it held before.
    void ExpectRestored() {
        EXPECT_EQ(GetCurrentObject(dc_, OBJ_BRUSH), ownBrush_);
        EXPECT_EQ(GetCurrentObject(dc_, OBJ_PEN), ownPen_);
        EXPECT_EQ(GetTextColor(dc_), RGB(1, 2, 3));
        EXPECT_EQ(GetBkMode(dc_), OPAQUE);
    }

    static constexpr int kWidth = 60;
    static constexpr int kHeight = 20;
    Theme host_;
    ui::VCThemeHelper theme_;
    GdiObjects objects_;
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ oldBitmap_ = nullptr;
    HBRUSH ownBrush_ = CreateSolidBrush(RGB(9, 9, 9));
    HPEN ownPen_ = CreatePen(PS_SOLID, 1, RGB(7, 7, 7));
};

TEST_F(GdiButton, NormalButtonIsFaceColouredAndOutlinedInTheBorderColour) {
    Draw(0);
    EXPECT_EQ(GetPixel(dc_, kWidth / 2, 0), kBorder);     // the top edge of the outline
    EXPECT_EQ(GetPixel(dc_, 4, kHeight / 2 + 4), kFace);  // inside, away from the text
    EXPECT_EQ(GetPixel(dc_, 0, 0), kFace);                // the fill behind the rounded corner
    ExpectRestored();
}

TEST_F(GdiButton, PressedButtonHasThePressedFaceAndNoOutline) {
    Draw(ui::kItemSelected);
    EXPECT_EQ(GetPixel(dc_, kWidth / 2, 0), kPressedFace);
    EXPECT_EQ(GetPixel(dc_, 4, kHeight / 2 + 4), kPressedFace);
    // The text is painted in the pressed text colour (white here) somewhere in the middle; smoothed edges
    // may blend it with the face, so a clearly light pixel is enough.
    bool textSeen = false;
    for (int x = kWidth / 4; x < 3 * kWidth / 4 && !textSeen; ++x) {
        for (int y = 2; y < kHeight - 2 && !textSeen; ++y) textSeen = GetRValue(GetPixel(dc_, x, y)) >= 0xB0;
    }
    EXPECT_TRUE(textSeen);
    ExpectRestored();
}

TEST_F(GdiButton, ControlColoursComeWithABrushOfTheirColour) {
    GdiDrawContext context(dc_, &objects_);
    HBRUSH band = objects_.Brush(theme_.CtlColor(&context, ui::kColourKindBand));
    LOGBRUSH brush = {};
    ASSERT_EQ(GetObjectW(band, sizeof brush, &brush), static_cast<int>(sizeof brush));
    EXPECT_EQ(brush.lbColor, kFace);
    EXPECT_EQ(GetBkColor(dc_), kFace);
    HBRUSH dialog = objects_.Brush(theme_.CtlColor(&context, ui::kColourKindDialog));
    ASSERT_EQ(GetObjectW(dialog, sizeof brush, &brush), static_cast<int>(sizeof brush));
    EXPECT_EQ(brush.lbColor, kBackground);
    EXPECT_EQ(GetTextColor(dc_), kText);
    // Asked again, the same brush: nothing is made per paint.
    EXPECT_EQ(objects_.Brush(theme_.CtlColor(&context, ui::kColourKindDialog)), dialog);
}

}  // namespace
#endif  // _WIN32
