// The host's look for the setup dialog: six colours read from the host's theme, the brushes and the pen made
// from them once, the colours of the dialog's background and static texts, and the owner-drawn buttons.
// Drawing goes through IDrawContext, which each view implements over its toolkit.
#pragma once

#include <memory>
#include <string>

#include "ui/ISetupDialogView.h"
#include "zrk/IThemeManager.h"
#include "zrk/ZrkHandles.h"

namespace ui {

// A solid fill colour. Made once by the theme helper and reused for every paint.
struct UiBrush {
    ZrkColour colour;
};

// A solid outline colour of a given width in pixels.
struct UiPen {
    ZrkColour colour;
    int width;
};

// How text backgrounds are painted.
enum BackgroundMode : int {
    kBackgroundTransparent = 1,
    kBackgroundOpaque = 2,
};

// State bits of an owner-drawn button, numbered as the platform numbers them.
constexpr unsigned kItemSelected = 0x0001;  // pressed
constexpr unsigned kItemDisabled = 0x0004;
constexpr unsigned kItemFocus = 0x0010;

// Text placement flags, numbered as the platform numbers them.
constexpr unsigned kTextCenter = 0x0001;
constexpr unsigned kTextVCenter = 0x0004;
constexpr unsigned kTextSingleLine = 0x0020;

// Colour requests: the dialog and its static texts, (unused by the dialog), the band behind the buttons.
constexpr int kColourKindDialog = 0;
constexpr int kColourKindAlternate = 1;
constexpr int kColourKindBand = 2;

// One owner-drawn button to paint: its state bits, its rectangle in the context's coordinates, its text.
struct OwnerDrawItem {
    int id = 0;
    unsigned state = 0;
    ScreenRect rect;
    std::string text;
};

// A drawing context in the manner of the platform's: it holds a selected brush and pen, a text colour, a
// background colour and mode. The Select and Set calls return what was there before.
class IDrawContext {
public:
    virtual ~IDrawContext() = default;
    virtual ZrkColour SetTextColour(ZrkColour colour) = 0;
    virtual ZrkColour SetBackgroundColour(ZrkColour colour) = 0;
    virtual int SetBackgroundMode(int mode) = 0;
    // Null selects nothing visible (no fill, no outline).
    virtual const UiBrush* SelectBrush(const UiBrush* brush) = 0;
    virtual const UiPen* SelectPen(const UiPen* pen) = 0;
    // Fills without outline; a null brush paints nothing.
    virtual void FillRect(const ScreenRect& rect, const UiBrush* brush) = 0;
    // A rectangle with corners rounded by an ellipse of the given size, outlined with the selected pen
    // and filled with the selected brush.
    virtual void RoundRect(const ScreenRect& rect, int ellipseWidth, int ellipseHeight) = 0;
    // Text in the current text colour, placed by the kText... flags.
    virtual void DrawText(const std::string& text, const ScreenRect& rect, unsigned format) = 0;
};

class VCThemeHelper {
public:
    // Theme colour indices read from the host.
    static constexpr int kThemeBackground = 0;
    static constexpr int kThemeText = 1;
    static constexpr int kThemePressedText = 5;
    static constexpr int kThemeBorder = 8;
    static constexpr int kThemeFace = 11;
    static constexpr int kThemePressedFace = 12;
    // Corner ellipse of a button's outline.
    static constexpr int kCornerSize = 10;

    VCThemeHelper() = default;
    virtual ~VCThemeHelper();
    VCThemeHelper(const VCThemeHelper&) = delete;
    VCThemeHelper& operator=(const VCThemeHelper&) = delete;

    // Reads the colours and makes the brushes and the pen; ready afterwards. A null theme changes nothing.
    // The theme is not kept and not released.
    void Init(IThemeManager* theme);
    bool IsReady() const { return ready_; }

    // Sets the context's text and background colours for a control of that kind and returns the brush for
    // its background; null when not ready (the toolkit's own colours apply).
    const UiBrush* CtlColor(IDrawContext* dc, int kind) const;

    // Paints an owner-drawn button and puts the context back as it was. Without a theme nothing is painted
    // and the result is false: the view then lets the toolkit draw the button in its own colours.
    bool DrawItem(const OwnerDrawItem& item, IDrawContext* dc) const;

    ZrkColour BackgroundColour() const { return background_; }
    ZrkColour TextColour() const { return text_; }
    ZrkColour FaceColour() const { return face_; }
    ZrkColour BorderColour() const { return border_; }
    ZrkColour PressedFaceColour() const { return pressedFace_; }
    ZrkColour PressedTextColour() const { return pressedText_; }

private:
    ZrkColour background_ = 0;
    ZrkColour text_ = 0;
    ZrkColour face_ = 0;
    ZrkColour border_ = 0;
    ZrkColour pressedFace_ = 0;
    ZrkColour pressedText_ = 0;
    std::unique_ptr<UiBrush> backgroundBrush_;
    std::unique_ptr<UiBrush> faceBrush_;
    std::unique_ptr<UiBrush> alternateBrush_;
    std::unique_ptr<UiBrush> pressedBrush_;
    std::unique_ptr<UiPen> borderPen_;
    bool ready_ = false;
};

}  // namespace ui
