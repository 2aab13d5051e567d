// The setup dialog's layout (dialog resource 101) read into plain values, for views that build the window
// themselves rather than through a platform dialog manager.
#pragma once

#include <string>
#include <vector>

namespace ui {

// One control of the layout; positions and sizes in dialog units.
struct LayoutControl {
    int id = -1;       // -1 for labels the code never addresses
    std::string kind;  // "Static", "Button", "Edit", "ComboBox" or "msctls_updown32"
    std::string text;
    std::string style;
    int x = 0, y = 0, width = 0, height = 0;
};

struct DialogLayout {
    std::string caption;
    int width = 0, height = 0;  // client size in dialog units
    std::string font;
    int pointSize = 8;
    std::vector<LayoutControl> controls;  // in layout order, which is also the tab order
};

// Largest position or size taken from a layout; larger values are cut to it.
constexpr int kMaxLayoutUnits = 4000;

// Reads a layout text; false when it is not one (no "Dialog" root). Controls of other kinds are skipped.
bool ParseDialogLayout(const char* text, DialogLayout* layout);
// The layout embedded in the plug-in; false when it is missing or unreadable.
bool LoadSetupDialogLayout(DialogLayout* layout);

// Dialog units to pixels with the font's average character width and height.
struct DialogUnits {
    int charWidth = 0;
    int charHeight = 0;
    int X(int units) const { return units * charWidth / 4; }
    int Y(int units) const { return units * charHeight / 8; }
};

}  // namespace ui
