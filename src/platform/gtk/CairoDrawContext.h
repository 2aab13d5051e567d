// The theme helper's drawing context over cairo, for the GTK view's owner-drawn buttons and backgrounds.
#pragma once

#include <gtk/gtk.h>

#include "ui/VCThemeHelper.h"

namespace platform {
namespace gtk {

class CairoDrawContext : public ui::IDrawContext {
public:
    // Text is laid out with the widget's font. Neither is owned.
    CairoDrawContext(cairo_t* cr, GtkWidget* widget) : cr_(cr), widget_(widget) {}

    ZrkColour SetTextColour(ZrkColour colour) override;
    ZrkColour SetBackgroundColour(ZrkColour colour) override;
    int SetBackgroundMode(int mode) override;
    const ui::UiBrush* SelectBrush(const ui::UiBrush* brush) override;
    const ui::UiPen* SelectPen(const ui::UiPen* pen) override;
    void FillRect(const ui::ScreenRect& rect, const ui::UiBrush* brush) override;
    void RoundRect(const ui::ScreenRect& rect, int ellipseWidth, int ellipseHeight) override;
    void DrawText(const std::string& text, const ui::ScreenRect& rect, unsigned format) override;

private:
    void SetSource(ZrkColour colour);

    cairo_t* cr_;
    GtkWidget* widget_;
    ZrkColour text_ = 0;
    ZrkColour background_ = 0xFFFFFF;
    int mode_ = ui::kBackgroundOpaque;
    const ui::UiBrush* brush_ = nullptr;
    const ui::UiPen* pen_ = nullptr;
};

// Keeps the colours a control would be given, without drawing (for style sheets).
class RecordingContext : public ui::IDrawContext {
public:
    ZrkColour SetTextColour(ZrkColour colour) override { return Swap(text, colour); }
    ZrkColour SetBackgroundColour(ZrkColour colour) override { return Swap(background, colour); }
    int SetBackgroundMode(int mode) override { return mode; }
    const ui::UiBrush* SelectBrush(const ui::UiBrush* brush) override { return brush; }
    const ui::UiPen* SelectPen(const ui::UiPen* pen) override { return pen; }
    void FillRect(const ui::ScreenRect&, const ui::UiBrush*) override {}
    void RoundRect(const ui::ScreenRect&, int, int) override {}
    void DrawText(const std::string&, const ui::ScreenRect&, unsigned) override {}

    ZrkColour text = 0;
    ZrkColour background = 0;

private:
    static ZrkColour Swap(ZrkColour& field, ZrkColour value) {
        const ZrkColour old = field;
        field = value;
        return old;
    }
};

}  // namespace gtk
}  // namespace platform
