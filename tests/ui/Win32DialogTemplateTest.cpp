// The dialog template compiled into the Windows plug-in (dialog resource 101) against the layout file it is
// written from: the dialog's caption, font and size, and every control's id, class, text, rectangle and
// styles, in order (which is the tab order and decides the up-down controls' fields).
#ifdef _WIN32
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "ui/SetupDialogLayout.h"

namespace {

// Paths of this machine as the program under Wine reaches them.
std::string WinePath(std::string path) {
    if (!path.empty() && path[0] == '/') path = "Z:" + path;
    return path;
}

std::string Narrow(const std::wstring& wide) {
    return std::string(wide.begin(), wide.end());  // the layout's texts are plain ASCII
}

// The parts of an extended dialog template that the layout decides.
struct TemplateControl {
    DWORD style = 0;
    int x = 0, y = 0, width = 0, height = 0;
    int id = 0;
    std::string className;
    std::string text;
};

struct DialogTemplate {
    DWORD style = 0;
    int width = 0, height = 0;
    std::string caption;
    int pointSize = 0, weight = 0, charset = 0;
    std::string font;
    std::vector<TemplateControl> controls;
};

class Reader {
public:
    Reader(const BYTE* data, size_t size) : at_(data), end_(data + size) {}
    template <typename T>
    T Get() {
        T value{};
        if (at_ + sizeof(T) <= end_) std::memcpy(&value, at_, sizeof(T));
        at_ += sizeof(T);
        return value;
    }
    // A text, or an ordinal (0xFFFF and a number) given as "#number"; the predefined control classes
    // by their names.
    std::string TextOrOrdinal() {
        const WORD first = Get<WORD>();
        if (first == 0xFFFF) {
            const WORD ordinal = Get<WORD>();
            static const std::map<WORD, std::string> kClasses = {
                {0x80, "Button"}, {0x81, "Edit"}, {0x82, "Static"}, {0x85, "ComboBox"}};
            auto it = kClasses.find(ordinal);
            return it != kClasses.end() ? it->second : "#" + std::to_string(ordinal);
        }
        std::wstring text;
        for (WORD c = first; c != 0 && at_ < end_; c = Get<WORD>()) text.push_back(static_cast<wchar_t>(c));
        return Narrow(text);
    }
    void AlignToDword(const BYTE* base) {
        while ((at_ - base) % 4) ++at_;
    }
    bool Ok() const { return at_ <= end_; }

private:
    const BYTE* at_;
    const BYTE* end_;
};

bool ReadTemplate(const BYTE* data, size_t size, DialogTemplate* dialog) {
    Reader in(data, size);
    if (in.Get<WORD>() != 1 || in.Get<WORD>() != 0xFFFF) return false;  // not an extended template
    in.Get<DWORD>();                                                    // help id
    in.Get<DWORD>();                                                    // extended style
    dialog->style = in.Get<DWORD>();
    const WORD count = in.Get<WORD>();
    in.Get<short>();
    in.Get<short>();
    dialog->width = in.Get<short>();
    dialog->height = in.Get<short>();
    in.TextOrOrdinal();  // menu
    in.TextOrOrdinal();  // window class
    dialog->caption = in.TextOrOrdinal();
    if (dialog->style & (DS_SETFONT | DS_SHELLFONT)) {
        dialog->pointSize = in.Get<WORD>();
        dialog->weight = in.Get<WORD>();
        in.Get<BYTE>();  // italic
        dialog->charset = in.Get<BYTE>();
        dialog->font = in.TextOrOrdinal();
    }
    for (WORD i = 0; i < count && in.Ok(); ++i) {
        in.AlignToDword(data);
        TemplateControl c;
        in.Get<DWORD>();  // help id
        in.Get<DWORD>();  // extended style
        c.style = in.Get<DWORD>();
        c.x = in.Get<short>();
        c.y = in.Get<short>();
        c.width = in.Get<short>();
        c.height = in.Get<short>();
        c.id = static_cast<int>(in.Get<DWORD>());
        c.className = in.TextOrOrdinal();
        c.text = in.TextOrOrdinal();
        const WORD extra = in.Get<WORD>();
        for (WORD b = 0; b < extra; ++b) in.Get<BYTE>();
        dialog->controls.push_back(c);
    }
    return in.Ok();
}

// The layout's style names; a name missing here fails the test rather than being ignored.
DWORD StyleBits(const std::string& names, bool* known) {
    static const std::map<std::string, DWORD> kStyles = {
        {"WS_GROUP", WS_GROUP},
        {"WS_TABSTOP", WS_TABSTOP},
        {"WS_BORDER", WS_BORDER},
        {"WS_VSCROLL", WS_VSCROLL},
        {"WS_HSCROLL", WS_HSCROLL},
        {"WS_DISABLED", WS_DISABLED},
        {"SS_LEFT", SS_LEFT},
        {"SS_RIGHT", SS_RIGHT},
        {"SS_CENTER", SS_CENTER},
        {"BS_OWNERDRAW", BS_OWNERDRAW},
        {"BS_PUSHBUTTON", BS_PUSHBUTTON},
        {"BS_DEFPUSHBUTTON", BS_DEFPUSHBUTTON},
        {"ES_AUTOHSCROLL", ES_AUTOHSCROLL},
        {"ES_NUMBER", ES_NUMBER},
        {"CBS_DROPDOWNLIST", CBS_DROPDOWNLIST},
        {"CBS_SORT", CBS_SORT},
        {"UDS_SETBUDDYINT", UDS_SETBUDDYINT},
        {"UDS_ALIGNRIGHT", UDS_ALIGNRIGHT},
        {"UDS_AUTOBUDDY", UDS_AUTOBUDDY},
        {"UDS_ARROWKEYS", UDS_ARROWKEYS},
        {"UDS_NOTHOUSANDS", UDS_NOTHOUSANDS},
    };
    DWORD bits = 0;
    std::stringstream parts(names);
    std::string name;
    while (std::getline(parts, name, '|')) {
        if (name.empty()) continue;
        auto it = kStyles.find(name);
        if (it == kStyles.end()) {
            *known = false;
            ADD_FAILURE() << "style " << name << " is not in the test's table";
            continue;
        }
        bits |= it->second;
    }
    return bits;
}

TEST(Win32DialogTemplate, PluginCarriesTheLayoutAsDialog101) {
    HMODULE plugin = LoadLibraryExA(WinePath(ZRK_PLUGIN_PATH).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(plugin, nullptr) << ZRK_PLUGIN_PATH;
    HRSRC found = FindResourceW(plugin, MAKEINTRESOURCEW(101), MAKEINTRESOURCEW(5));  // RT_DIALOG
    ASSERT_NE(found, nullptr);
    const BYTE* data = static_cast<const BYTE*>(LockResource(LoadResource(plugin, found)));
    DialogTemplate dialog;
    ASSERT_TRUE(ReadTemplate(data, SizeofResource(plugin, found), &dialog));

    std::ifstream file(WinePath(SETUP_DIALOG_LAYOUT), std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    ui::DialogLayout layout;
    ASSERT_TRUE(ui::ParseDialogLayout(text.str().c_str(), &layout));

    EXPECT_EQ(dialog.caption, layout.caption);
    EXPECT_EQ(dialog.width, layout.width);
    EXPECT_EQ(dialog.height, layout.height);
    EXPECT_EQ(dialog.font, layout.font);
    EXPECT_EQ(dialog.pointSize, layout.pointSize);
    EXPECT_EQ(dialog.weight, 400);
    EXPECT_EQ(dialog.charset, 1);
    // A hidden modal popup with caption and system menu in the shell font; made visible by the dialog
    // manager when it runs.
    EXPECT_EQ(dialog.style, static_cast<DWORD>(DS_SETFONT | DS_MODALFRAME | DS_FIXEDSYS | WS_POPUP |
                                               WS_CAPTION | WS_SYSMENU));

    ASSERT_EQ(dialog.controls.size(), layout.controls.size());
    for (size_t i = 0; i < layout.controls.size(); ++i) {
        const ui::LayoutControl& want = layout.controls[i];
        const TemplateControl& got = dialog.controls[i];
        SCOPED_TRACE("control " + std::to_string(i) + " (" + std::to_string(want.id) + ")");
        EXPECT_EQ(got.id, want.id);
        EXPECT_EQ(lstrcmpiA(got.className.c_str(), want.kind.c_str()), 0) << got.className;  // any case
        EXPECT_EQ(got.text, want.text);
        EXPECT_EQ(got.x, want.x);
        EXPECT_EQ(got.y, want.y);
        EXPECT_EQ(got.width, want.width);
        EXPECT_EQ(got.height, want.height);
        bool known = true;
        const DWORD style = WS_CHILD | WS_VISIBLE | StyleBits(want.style, &known);
        if (known) {
            EXPECT_EQ(got.style, style) << std::hex << got.style << " " << style;
        }
    }
    FreeLibrary(plugin);
}

}  // namespace
#endif  // _WIN32
