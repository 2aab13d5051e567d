#include "platform/gtk/CairoDrawContext.h"

#include <cmath>

namespace platform {
namespace gtk {

ZrkColour CairoDrawContext::SetTextColour(ZrkColour colour) {
    const ZrkColour old = text_;
    text_ = colour;
    return old;
}

ZrkColour CairoDrawContext::SetBackgroundColour(ZrkColour colour) {
    const ZrkColour old = background_;
    background_ = colour;
    return old;
}

int CairoDrawContext::SetBackgroundMode(int mode) {
    const int old = mode_;
    mode_ = mode;
    return old;
}

const ui::UiBrush* CairoDrawContext::SelectBrush(const ui::UiBrush* brush) {
    const ui::UiBrush* old = brush_;
    brush_ = brush;
    return old;
}

const ui::UiPen* CairoDrawContext::SelectPen(const ui::UiPen* pen) {
    const ui::UiPen* old = pen_;
    pen_ = pen;
    return old;
}

void CairoDrawContext::SetSource(ZrkColour colour) {
    // Colours are stored 0x00BBGGRR.
    cairo_set_source_rgb(cr_, (colour & 0xFF) / 255.0, ((colour >> 8) & 0xFF) / 255.0,
                         ((colour >> 16) & 0xFF) / 255.0);
}

void CairoDrawContext::FillRect(const ui::ScreenRect& rect, const ui::UiBrush* brush) {
    if (!brush || rect.right <= rect.left || rect.bottom <= rect.top) return;
    cairo_save(cr_);
    SetSource(brush->colour);
    cairo_rectangle(cr_, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
    cairo_fill(cr_);
    cairo_restore(cr_);
}

void CairoDrawContext::RoundRect(const ui::ScreenRect& rect, int ellipseWidth, int ellipseHeight) {
    if (rect.right <= rect.left || rect.bottom <= rect.top) return;
    // The outline runs inside the rectangle, on pixel centres, as the platform's rounded rectangle does.
    const double lineWidth = pen_ ? std::max(1, pen_->width) : 0.0;
    const double inset = lineWidth / 2.0;
    const double x0 = rect.left + inset, y0 = rect.top + inset;
    const double x1 = rect.right - inset, y1 = rect.bottom - inset;
    const double rx = std::min(ellipseWidth / 2.0, (x1 - x0) / 2.0);
    const double ry = std::min(ellipseHeight / 2.0, (y1 - y0) / 2.0);
    cairo_save(cr_);
    cairo_new_path(cr_);
    auto corner = [&](double cx, double cy, double start) {
        cairo_save(cr_);
        cairo_translate(cr_, cx, cy);
        cairo_scale(cr_, rx > 0 ? rx : 1e-6, ry > 0 ? ry : 1e-6);
        cairo_arc(cr_, 0, 0, 1, start, start + M_PI / 2);
        cairo_restore(cr_);
    };
    corner(x1 - rx, y0 + ry, -M_PI / 2);
    corner(x1 - rx, y1 - ry, 0);
    corner(x0 + rx, y1 - ry, M_PI / 2);
    corner(x0 + rx, y0 + ry, M_PI);
    cairo_close_path(cr_);
    if (brush_) {
        SetSource(brush_->colour);
        cairo_fill_preserve(cr_);
    }
    if (pen_) {
        SetSource(pen_->colour);
        cairo_set_line_width(cr_, lineWidth);
        cairo_stroke(cr_);
    }
    cairo_new_path(cr_);
    cairo_restore(cr_);
}

void CairoDrawContext::DrawText(const std::string& text, const ui::ScreenRect& rect, unsigned format) {
    PangoLayout* layout = gtk_widget_create_pango_layout(widget_, nullptr);
    if (format & ui::kTextSingleLine) pango_layout_set_single_paragraph_mode(layout, TRUE);
    pango_layout_set_text(layout, text.c_str(), static_cast<int>(text.size()));
    int width = 0, height = 0;
    pango_layout_get_pixel_size(layout, &width, &height);
    const int boxWidth = rect.right - rect.left, boxHeight = rect.bottom - rect.top;
    const int x = (format & ui::kTextCenter) ? rect.left + (boxWidth - width) / 2 : rect.left;
    const int y = (format & ui::kTextVCenter) ? rect.top + (boxHeight - height) / 2 : rect.top;
    cairo_save(cr_);
    cairo_rectangle(cr_, rect.left, rect.top, boxWidth, boxHeight);
    cairo_clip(cr_);
    if (mode_ == ui::kBackgroundOpaque) {
        SetSource(background_);
        cairo_rectangle(cr_, x, y, width, height);
        cairo_fill(cr_);
    }
    SetSource(text_);
    cairo_move_to(cr_, x, y);
    pango_cairo_show_layout(cr_, layout);
    cairo_restore(cr_);
    g_object_unref(layout);
}

}  // namespace gtk
}  // namespace platform
