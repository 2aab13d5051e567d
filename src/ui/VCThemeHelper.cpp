#include "ui/VCThemeHelper.h"

namespace ui {

VCThemeHelper::~VCThemeHelper() = default;

void VCThemeHelper::Init(IThemeManager* theme) {
    if (!theme) return;
    background_ = theme->GetColour(kThemeBackground);
    text_ = theme->GetColour(kThemeText);
    face_ = theme->GetColour(kThemeFace);
    border_ = theme->GetColour(kThemeBorder);
    pressedFace_ = theme->GetColour(kThemePressedFace);
    pressedText_ = theme->GetColour(kThemePressedText);

    backgroundBrush_.reset(new UiBrush{background_});
    faceBrush_.reset(new UiBrush{face_});
    // The alternate brush takes its colour from a fresh query, as the theme may answer differently now.
    alternateBrush_.reset(new UiBrush{theme->GetColour(kThemePressedFace)});
    borderPen_.reset(new UiPen{border_, 1});
    pressedBrush_.reset(new UiBrush{pressedFace_});
    ready_ = true;
}

const UiBrush* VCThemeHelper::CtlColor(IDrawContext* dc, int kind) const {
    if (!ready_ || !dc) return nullptr;
    if (kind == kColourKindAlternate || kind == kColourKindBand) {
        // Text in the band takes the face colour too: the band shows no text.
        dc->SetTextColour(face_);
        dc->SetBackgroundColour(face_);
        return kind == kColourKindAlternate ? alternateBrush_.get() : faceBrush_.get();
    }
    dc->SetTextColour(text_);
    dc->SetBackgroundColour(background_);
    return backgroundBrush_.get();
}

bool VCThemeHelper::DrawItem(const OwnerDrawItem& item, IDrawContext* dc) const {
    if (!ready_ || !dc) return false;

    const UiBrush* oldBrush = nullptr;
    const UiPen* oldPen = nullptr;
    bool brushSelected = false;
    bool penSelected = false;
    ZrkColour oldText = 0;
    int oldMode = 0;

    if (item.state & kItemDisabled) {
        dc->FillRect(item.rect, faceBrush_.get());
        oldBrush = dc->SelectBrush(faceBrush_.get());
        oldPen = dc->SelectPen(borderPen_.get());
        brushSelected = penSelected = true;
        oldText = dc->SetTextColour(text_);
        oldMode = dc->SetBackgroundMode(kBackgroundTransparent);
    } else if (item.state & kItemSelected) {
        dc->FillRect(item.rect, pressedBrush_.get());
        oldBrush = dc->SelectBrush(pressedBrush_.get());
        brushSelected = true;
        oldText = dc->SetTextColour(pressedText_);
        oldMode = dc->SetBackgroundMode(kBackgroundTransparent);
    } else {
        dc->FillRect(item.rect, faceBrush_.get());
        oldBrush = dc->SelectBrush(faceBrush_.get());
        oldPen = dc->SelectPen(borderPen_.get());
        brushSelected = penSelected = true;
        oldText = dc->SetTextColour(text_);
        oldMode = dc->SetBackgroundMode(kBackgroundTransparent);
        dc->RoundRect(item.rect, kCornerSize, kCornerSize);
    }

    if (!item.text.empty()) {
        dc->DrawText(item.text, item.rect, kTextSingleLine | kTextVCenter | kTextCenter);
    }

    if (brushSelected) dc->SelectBrush(oldBrush);
    if (penSelected) dc->SelectPen(oldPen);
    dc->SetTextColour(oldText);
    dc->SetBackgroundMode(oldMode);
    return true;
}

}  // namespace ui
