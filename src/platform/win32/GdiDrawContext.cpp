#include "platform/win32/GdiDrawContext.h"

#include "platform/TextConversion.h"

namespace platform {
namespace win32 {
namespace {

RECT ToRect(const ui::ScreenRect& r) {
    return RECT{r.left, r.top, r.right, r.bottom};
}

}  // namespace

GdiObjects::~GdiObjects() {
    for (auto& b : brushes_) DeleteObject(b.second);
    for (auto& p : pens_) DeleteObject(p.second);
}

HBRUSH GdiObjects::Brush(const ui::UiBrush* brush) {
    if (!brush) return nullptr;
    auto it = brushes_.find(brush);
    if (it != brushes_.end()) return it->second;
    HBRUSH made = CreateSolidBrush(brush->colour);
    brushes_[brush] = made;
    return made;
}

HPEN GdiObjects::Pen(const ui::UiPen* pen) {
    if (!pen) return nullptr;
    auto it = pens_.find(pen);
    if (it != pens_.end()) return it->second;
    HPEN made = CreatePen(PS_SOLID, pen->width, pen->colour);
    pens_[pen] = made;
    return made;
}

ZrkColour GdiDrawContext::SetTextColour(ZrkColour colour) {
    return ::SetTextColor(dc_, colour);
}

ZrkColour GdiDrawContext::SetBackgroundColour(ZrkColour colour) {
    return ::SetBkColor(dc_, colour);
}

int GdiDrawContext::SetBackgroundMode(int mode) {
    // The portable modes carry the platform's numbers; anything else is taken as opaque.
    const int previous = ::SetBkMode(dc_, mode == ui::kBackgroundTransparent ? TRANSPARENT : OPAQUE);
    return previous == TRANSPARENT ? ui::kBackgroundTransparent : ui::kBackgroundOpaque;
}

const ui::UiBrush* GdiDrawContext::SelectBrush(const ui::UiBrush* brush) {
    const ui::UiBrush* previous = brush_;
    HGDIOBJ object;
    if (brush == &originalBrush_) {
        if (!savedBrush_) return previous;  // never replaced: the original is still there
        object = savedBrush_;
    } else {
        object = brush ? static_cast<HGDIOBJ>(objects_->Brush(brush)) : GetStockObject(NULL_BRUSH);
    }
    HGDIOBJ old = SelectObject(dc_, object);
    if (!savedBrush_) savedBrush_ = old;
    brush_ = brush;
    return previous;
}

const ui::UiPen* GdiDrawContext::SelectPen(const ui::UiPen* pen) {
    const ui::UiPen* previous = pen_;
    HGDIOBJ object;
    if (pen == &originalPen_) {
        if (!savedPen_) return previous;
        object = savedPen_;
    } else {
        object = pen ? static_cast<HGDIOBJ>(objects_->Pen(pen)) : GetStockObject(NULL_PEN);
    }
    HGDIOBJ old = SelectObject(dc_, object);
    if (!savedPen_) savedPen_ = old;
    pen_ = pen;
    return previous;
}

void GdiDrawContext::FillRect(const ui::ScreenRect& rect, const ui::UiBrush* brush) {
    if (!brush) return;
    const RECT r = ToRect(rect);
    ::FillRect(dc_, &r, objects_->Brush(brush));
}

void GdiDrawContext::RoundRect(const ui::ScreenRect& rect, int ellipseWidth, int ellipseHeight) {
    ::RoundRect(dc_, rect.left, rect.top, rect.right, rect.bottom, ellipseWidth, ellipseHeight);
}

void GdiDrawContext::DrawText(const std::string& text, const ui::ScreenRect& rect, unsigned format) {
    // The portable flags carry the platform's numbers.
    const unsigned known = ui::kTextCenter | ui::kTextVCenter | ui::kTextSingleLine;
    std::wstring wide = platform::AnsiToWide(text.c_str());
    RECT r = ToRect(rect);
    ::DrawTextW(dc_, wide.c_str(), static_cast<int>(wide.size()), &r, format & known);
}

}  // namespace win32
}  // namespace platform
