// The theme helper's drawing context over GDI, for the Win32 setup dialog's owner-drawn buttons and control
// colours. The helper's brushes and pen are portable descriptions; GdiObjects turns each into one GDI object
// the first time it is used and keeps it for the dialog's life, so painting creates nothing after that.
#pragma once

#include <windows.h>
// The platform's macro would rename the drawing context's own DrawText.
#undef DrawText

#include <map>
#include <string>

#include "ui/VCThemeHelper.h"

namespace platform {
namespace win32 {

class GdiObjects {
public:
    GdiObjects() = default;
    ~GdiObjects();
    GdiObjects(const GdiObjects&) = delete;
    GdiObjects& operator=(const GdiObjects&) = delete;

    // The solid brush or pen for a description; null for null.
    HBRUSH Brush(const ui::UiBrush* brush);
    HPEN Pen(const ui::UiPen* pen);

private:
    std::map<const ui::UiBrush*, HBRUSH> brushes_;
    std::map<const ui::UiPen*, HPEN> pens_;
};

class GdiDrawContext : public ui::IDrawContext {
public:
    // Neither is owned. The context's brush and pen as they were are handed out as OriginalBrush() and
    // OriginalPen(), so that selecting those back restores the device context exactly.
    GdiDrawContext(HDC dc, GdiObjects* objects) : dc_(dc), objects_(objects) {}

    ZrkColour SetTextColour(ZrkColour colour) override;
    ZrkColour SetBackgroundColour(ZrkColour colour) override;
    int SetBackgroundMode(int mode) override;
    const ui::UiBrush* SelectBrush(const ui::UiBrush* brush) override;
    const ui::UiPen* SelectPen(const ui::UiPen* pen) override;
    void FillRect(const ui::ScreenRect& rect, const ui::UiBrush* brush) override;
    void RoundRect(const ui::ScreenRect& rect, int ellipseWidth, int ellipseHeight) override;
    void DrawText(const std::string& text, const ui::ScreenRect& rect, unsigned format) override;

    const ui::UiBrush* OriginalBrush() const { return &originalBrush_; }
    const ui::UiPen* OriginalPen() const { return &originalPen_; }

private:
    HDC dc_;
    GdiObjects* objects_;
    // Stand for whatever the context held before the first Select; their colours are not used.
    const ui::UiBrush originalBrush_{0};
    const ui::UiPen originalPen_{0, 0};
    HGDIOBJ savedBrush_ = nullptr;
    HGDIOBJ savedPen_ = nullptr;
    const ui::UiBrush* brush_ = &originalBrush_;
    const ui::UiPen* pen_ = &originalPen_;
};

}  // namespace win32
}  // namespace platform
