// The setup dialog's window on POSIX desktops, built with GTK 3 from the embedded dialog layout. Every rule
// lives in the presenter (CalendarSetupDialog); this file only places the controls, paints them in the
// host's theme and reports presses and picks. Loading this library installs the view for the presenter.
#include <dlfcn.h>
#include <gtk/gtk.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/gtk/CairoDrawContext.h"
#include "ui/CalendarSetupDialog.h"
#include "ui/ISetupDialogView.h"
#include "ui/SetupDialogLayout.h"
#include "ui/VCThemeHelper.h"

namespace platform {
namespace gtk {
namespace {

// Names the dialog's window for its style sheet, which touches nothing else of a host that uses GTK itself.
constexpr const char* kWindowName = "ZrkSetupCalendar";
// The font standing in for the layout's shell dialog font.
constexpr const char* kFontFamily = "Sans";

// Test hook: a file of actions that the dialog performs on itself once shown (see RunScriptStep).
constexpr const char* kScriptVariable = "ZRK_SETUP_DIALOG_SCRIPT";

// The toolkit can be started once per process; without a display the dialog cannot be shown.
bool StartToolkit() {
    static int state = -1;
    if (state >= 0) return state == 1;
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if ((!display || !*display) && (!wayland || !*wayland)) {
        state = 0;
        return false;
    }
    // The host's locale stays as it is: numbers it prints must not change their decimal sign.
    gtk_disable_setlocale();
    state = gtk_init_check(nullptr, nullptr) ? 1 : 0;
    return state == 1;
}

// Text the toolkit can show: invalid UTF-8 sequences become replacement characters.
std::string ValidText(const std::string& text) {
    if (g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr) &&
        std::memchr(text.data(), 0, text.size()) == nullptr) {
        return text;
    }
    std::string clean(text.c_str());  // stops at an embedded NUL, as a window text would
    gchar* valid = g_utf8_make_valid(clean.data(), static_cast<gssize>(clean.size()));
    std::string result(valid);
    g_free(valid);
    return result;
}

// At most `maxChars` characters of a UTF-8 text.
std::string FirstChars(const char* text, size_t maxChars) {
    if (!text) return std::string();
    const glong length = g_utf8_strlen(text, -1);
    if (static_cast<size_t>(length) <= maxChars) return text;
    const char* end = g_utf8_offset_to_pointer(text, static_cast<glong>(maxChars));
    return std::string(text, end);
}

std::string CssColour(ZrkColour c) {
    char text[16];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
    return text;
}

// The average character width and the height of the dialog font, as dialog units are measured.
ui::DialogUnits MeasureUnits(int pointSize) {
    ui::DialogUnits units{6, 13};
    GdkScreen* screen = gdk_screen_get_default();
    if (!screen) return units;
    PangoContext* context = gdk_pango_context_get_for_screen(screen);
    double dpi = gdk_screen_get_resolution(screen);
    if (dpi <= 0) dpi = 96.0;
    pango_cairo_context_set_resolution(context, dpi);
    PangoFontDescription* font = pango_font_description_new();
    pango_font_description_set_family(font, kFontFamily);
    pango_font_description_set_size(font, pointSize * PANGO_SCALE);
    PangoLayout* layout = pango_layout_new(context);
    pango_layout_set_font_description(layout, font);
    pango_layout_set_text(layout, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", -1);
    int width = 0, height = 0;
    pango_layout_get_pixel_size(layout, &width, &height);
    if (width > 0) units.charWidth = (width / 26 + 1) / 2;
    if (height > 0) units.charHeight = height;
    g_object_unref(layout);
    pango_font_description_free(font);
    g_object_unref(context);
    return units;
}

class GtkSetupDialogView;

// Ties a widget's signal to the view and the control id it stands for.
struct ControlLink {
    GtkSetupDialogView* view;
    int id;
};

class GtkSetupDialogView : public ui::ISetupDialogView {
public:
    GtkSetupDialogView(CalendarSetupDialog* presenter, const ui::DialogLayout& layout, GtkWindow* owner)
        : presenter_(presenter), layout_(layout), owner_(owner), units_(MeasureUnits(layout.pointSize)) {
        Build();
    }

    ~GtkSetupDialogView() override {
        if (scriptSource_) g_source_remove(scriptSource_);
        if (window_) gtk_widget_destroy(window_);
        if (css_) {
            gtk_style_context_remove_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(css_));
            g_object_unref(css_);
        }
        if (loop_) g_main_loop_unref(loop_);
        // Lets the window disappear at once, before the host goes on.
        while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
    }

    int Run() {
        presenter_->OnInitDialog(this);
        gtk_widget_show_all(window_);
        // As on the platform's dialogs whose set-up sets no focus, no control starts with it.
        gtk_window_set_focus(GTK_WINDOW(window_), nullptr);
        StartScript();
        if (!ended_) {
            loop_ = g_main_loop_new(nullptr, FALSE);
            g_main_loop_run(loop_);
        }
        presenter_->OnDialogEnd();
        return result_;
    }

    // --- ISetupDialogView ---

    void SetText(int id, const std::string& text) override {
        GtkWidget* widget = Widget(id);
        if (!widget) return;
        const std::string valid = ValidText(text);
        if (GTK_IS_ENTRY(widget)) {
            gtk_entry_set_text(GTK_ENTRY(widget), valid.c_str());
        } else if (GTK_IS_LABEL(widget)) {
            gtk_label_set_text(GTK_LABEL(widget), valid.c_str());
        } else if (GTK_IS_BUTTON(widget)) {
            gtk_button_set_label(GTK_BUTTON(widget), valid.c_str());
        }
    }

    std::string GetText(int id, size_t maxChars) override {
        GtkWidget* widget = Widget(id);
        if (!widget) return std::string();
        if (GTK_IS_ENTRY(widget)) return FirstChars(gtk_entry_get_text(GTK_ENTRY(widget)), maxChars);
        if (GTK_IS_LABEL(widget)) return FirstChars(gtk_label_get_text(GTK_LABEL(widget)), maxChars);
        if (GTK_IS_BUTTON(widget)) return FirstChars(gtk_button_get_label(GTK_BUTTON(widget)), maxChars);
        return std::string();
    }

    void SetSpinRange(int id, int low, int high) override { ranges_[id] = {low, high}; }

    void ComboReset(int id) override {
        GtkWidget* widget = Widget(id);
        if (!widget || !GTK_IS_COMBO_BOX_TEXT(widget)) return;
        ++quiet_;
        gtk_combo_box_text_remove_all(GTK_COMBO_BOX_TEXT(widget));
        --quiet_;
    }

    void ComboInsert(int id, int index, const std::string& text) override {
        GtkWidget* widget = Widget(id);
        if (!widget || !GTK_IS_COMBO_BOX_TEXT(widget)) return;
        ++quiet_;
        gtk_combo_box_text_insert(GTK_COMBO_BOX_TEXT(widget), index, nullptr, ValidText(text).c_str());
        --quiet_;
    }

    void ComboSelect(int id, int index) override {
        GtkWidget* widget = Widget(id);
        if (!widget || !GTK_IS_COMBO_BOX(widget)) return;
        // Selecting from the program is no user's pick: no selection change is reported.
        ++quiet_;
        gtk_combo_box_set_active(GTK_COMBO_BOX(widget), index);
        --quiet_;
    }

    int ComboSelection(int id) override {
        GtkWidget* widget = Widget(id);
        if (!widget || !GTK_IS_COMBO_BOX(widget)) return -1;
        return gtk_combo_box_get_active(GTK_COMBO_BOX(widget));
    }

    void SetStatus(const std::string& text) override {
        SetText(ui::kIdStatus, text);
        // A long call may follow at once: let the new text reach the screen first.
        if (window_ && gtk_widget_get_mapped(window_)) {
            gtk_widget_queue_draw(window_);
            const gint64 until = g_get_monotonic_time() + 40 * 1000;
            while (g_get_monotonic_time() < until) {
                if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(2000);
            }
        }
    }

    bool GetWindowRect(ui::ScreenRect* rect) override {
        *rect = ui::ScreenRect{x_, y_, x_ + width_, y_ + height_};
        return true;
    }

    bool GetWorkArea(ui::ScreenRect* area) override {
        GdkDisplay* display = gdk_display_get_default();
        if (!display) return false;
        GdkMonitor* monitor = nullptr;
        GdkWindow* ownerWindow = owner_ ? gtk_widget_get_window(GTK_WIDGET(owner_)) : nullptr;
        if (ownerWindow) {
            monitor = gdk_display_get_monitor_at_window(display, ownerWindow);
        } else {
            monitor = gdk_display_get_monitor_at_point(display, x_ + width_ / 2, y_ + height_ / 2);
        }
        if (!monitor) monitor = gdk_display_get_primary_monitor(display);
        if (!monitor && gdk_display_get_n_monitors(display) > 0)
            monitor = gdk_display_get_monitor(display, 0);
        if (!monitor) return false;
        GdkRectangle work;
        gdk_monitor_get_workarea(monitor, &work);
        if (work.width <= 0 || work.height <= 0) return false;
        *area = ui::ScreenRect{work.x, work.y, work.x + work.width, work.y + work.height};
        return true;
    }

    void MoveTo(int x, int y) override {
        x_ = x;
        y_ = y;
        gtk_window_move(GTK_WINDOW(window_), x, y);
    }

    void EndDialog(int result) override {
        result_ = result;
        ended_ = true;
        if (loop_ && g_main_loop_is_running(loop_)) g_main_loop_quit(loop_);
    }

private:
    struct Placed {
        int id;
        GtkWidget* widget;
    };

    GtkWidget* Widget(int id) const {
        auto it = widgets_.find(id);
        return it == widgets_.end() ? nullptr : it->second;
    }

    ControlLink* Link(int id) {
        links_.push_back(std::unique_ptr<ControlLink>(new ControlLink{this, id}));
        return links_.back().get();
    }

    void Build() {
        width_ = units_.X(layout_.width);
        height_ = units_.Y(layout_.height);

        window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_widget_set_name(window_, kWindowName);
        gtk_window_set_title(GTK_WINDOW(window_), ValidText(layout_.caption).c_str());
        gtk_window_set_modal(GTK_WINDOW(window_), TRUE);
        gtk_window_set_resizable(GTK_WINDOW(window_), FALSE);
        gtk_window_set_type_hint(GTK_WINDOW(window_), GDK_WINDOW_TYPE_HINT_DIALOG);
        gtk_window_set_skip_taskbar_hint(GTK_WINDOW(window_), TRUE);
        if (owner_) gtk_window_set_transient_for(GTK_WINDOW(window_), owner_);
        gtk_window_set_default_size(GTK_WINDOW(window_), width_, height_);
        g_signal_connect(window_, "delete-event", G_CALLBACK(OnDelete), this);
        g_signal_connect(window_, "key-press-event", G_CALLBACK(OnKey), this);

        fixed_ = gtk_fixed_new();
        gtk_widget_set_size_request(fixed_, width_, height_);
        g_signal_connect(fixed_, "draw", G_CALLBACK(OnBackgroundDraw), this);
        gtk_container_add(GTK_CONTAINER(window_), fixed_);

        const auto& controls = layout_.controls;
        for (size_t i = 0; i < controls.size(); ++i) {
            const ui::LayoutControl& c = controls[i];
            int x = units_.X(c.x), y = units_.Y(c.y), w = units_.X(c.width), h = units_.Y(c.height);
            GtkWidget* widget = nullptr;
            if (c.kind == "Static" && c.id == ui::kIdBand) {
                widget = gtk_drawing_area_new();
                g_signal_connect(widget, "draw", G_CALLBACK(OnBandDraw), this);
            } else if (c.kind == "Static") {
                widget = gtk_label_new(ValidText(c.text).c_str());
                gtk_label_set_xalign(GTK_LABEL(widget), 0.0f);
                gtk_label_set_yalign(GTK_LABEL(widget), 0.0f);
                gtk_label_set_ellipsize(GTK_LABEL(widget), PANGO_ELLIPSIZE_END);
                gtk_label_set_single_line_mode(GTK_LABEL(widget), TRUE);
            } else if (c.kind == "Button") {
                widget = gtk_button_new_with_label(ValidText(c.text).c_str());
                gtk_widget_set_can_focus(widget, TRUE);
                g_signal_connect(widget, "clicked", G_CALLBACK(OnClicked), Link(c.id));
                g_signal_connect(widget, "draw", G_CALLBACK(OnButtonDraw), Link(c.id));
            } else if (c.kind == "Edit") {
                widget = gtk_entry_new();
                gtk_entry_set_width_chars(GTK_ENTRY(widget), 1);
                gtk_entry_set_has_frame(GTK_ENTRY(widget), TRUE);
                g_signal_connect(widget, "key-press-event", G_CALLBACK(OnEditKey), Link(c.id));
            } else if (c.kind == "ComboBox") {
                widget = gtk_combo_box_text_new();
                // The closed box is one field high; the layout's height is that of the opened list.
                h = units_.Y(14);
                g_signal_connect(widget, "changed", G_CALLBACK(OnComboChanged), Link(c.id));
            } else if (c.kind == "msctls_updown32") {
                // Sits at the right edge of its field (the control before it), which gives up the room.
                if (i == 0 || controls[i - 1].kind != "Edit") continue;
                const int buddy = controls[i - 1].id;
                GtkWidget* field = Widget(buddy);
                Placed* placed = Find(buddy);
                if (!field || !placed) continue;
                int fx = 0, fy = 0, fw = 0, fh = 0;
                Geometry(field, &fx, &fy, &fw, &fh);
                w = std::min(w, fw / 2);
                x = fx + fw - w;
                y = fy;
                h = fh;
                gtk_widget_set_size_request(field, fw - w, fh);
                buddies_[c.id] = buddy;
                widget = gtk_drawing_area_new();
                gtk_widget_add_events(widget, GDK_BUTTON_PRESS_MASK);
                g_signal_connect(widget, "draw", G_CALLBACK(OnArrowsDraw), Link(c.id));
                g_signal_connect(widget, "button-press-event", G_CALLBACK(OnArrowsPress), Link(c.id));
                arrowsOf_[buddy] = c.id;
            }
            if (!widget) continue;
            gtk_widget_set_size_request(widget, w, h);
            gtk_fixed_put(GTK_FIXED(fixed_), widget, x, y);
            g_object_set_data(G_OBJECT(widget), "zrk-x", GINT_TO_POINTER(x));
            g_object_set_data(G_OBJECT(widget), "zrk-y", GINT_TO_POINTER(y));
            if (c.id >= 0) widgets_[c.id] = widget;
            placed_.push_back(Placed{c.id, widget});
            if (c.kind == "Button" || c.kind == "Edit") tabOrder_.push_back(widget);
            if (c.kind == "ComboBox") tabOrder_.push_back(FocusTarget(widget));
        }
        ApplyStyle();
    }

    // The button inside a pick list, which is what takes the focus; the list itself when none is found.
    static GtkWidget* FocusTarget(GtkWidget* combo) {
        GtkWidget* button = FindToggle(combo);
        if (!button) return combo;
        gtk_widget_set_can_focus(button, TRUE);
        return button;
    }

    static GtkWidget* FindToggle(GtkWidget* widget) {
        if (GTK_IS_TOGGLE_BUTTON(widget)) return widget;
        if (!GTK_IS_CONTAINER(widget)) return nullptr;
        struct Search {
            GtkWidget* found = nullptr;
        } search;
        gtk_container_forall(
            GTK_CONTAINER(widget),
            [](GtkWidget* child, gpointer data) {
                auto* s = static_cast<Search*>(data);
                if (!s->found) s->found = FindToggle(child);
            },
            &search);
        return search.found;
    }

    Placed* Find(int id) {
        for (auto& p : placed_) {
            if (p.id == id) return &p;
        }
        return nullptr;
    }

    static void Geometry(GtkWidget* widget, int* x, int* y, int* w, int* h) {
        *x = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(widget), "zrk-x"));
        *y = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(widget), "zrk-y"));
        gtk_widget_get_size_request(widget, w, h);
    }

    // The dialog's font and compact controls everywhere; the theme's text colour on its labels.
    void ApplyStyle() {
        std::ostringstream css;
        const std::string self = std::string("#") + kWindowName;
        css << self << ", " << self << " * { font-family: " << kFontFamily
            << "; font-size: " << layout_.pointSize << "pt; }\n"
            << self << " entry { min-height: 0; padding: 0 3px; }\n"
            << self << " button { min-height: 0; min-width: 0; padding: 0 2px; }\n"
            << self << " combobox button { padding: 0 4px; }\n"
            << self << " combobox box { min-height: 0; }\n";
        if (presenter_->ColourKindFor(0) >= 0) {
            RecordingContext dc;
            presenter_->Theme().CtlColor(&dc, presenter_->ColourKindFor(0));
            css << self << " label { color: " << CssColour(dc.text) << "; }\n";
        }
        css_ = gtk_css_provider_new();
        gtk_css_provider_load_from_data(css_, css.str().c_str(), -1, nullptr);
        gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(css_),
                                                  GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    }

    // Paints a control's background in the colours the presenter asks for; false without a theme.
    bool PaintBackground(GtkWidget* widget, cairo_t* cr, int id) {
        const int kind = presenter_->ColourKindFor(id);
        if (kind < 0) return false;
        CairoDrawContext dc(cr, widget);
        const ui::UiBrush* brush = presenter_->Theme().CtlColor(&dc, kind);
        GtkAllocation a;
        gtk_widget_get_allocation(widget, &a);
        dc.FillRect(ui::ScreenRect{0, 0, a.width, a.height}, brush);
        return true;
    }

    // Commands from the window go to the presenter one at a time; script steps wait for them.
    void Command(int id, int notification) {
        ++inCommand_;
        presenter_->OnCommand(id, notification);
        --inCommand_;
    }

    void StepArrows(int arrowsId, int delta) {
        auto buddy = buddies_.find(arrowsId);
        if (buddy == buddies_.end()) return;
        auto range = ranges_.find(arrowsId);
        const int low = range == ranges_.end() ? 0 : range->second.first;
        const int high = range == ranges_.end() ? 100 : range->second.second;
        const std::string text = GetText(buddy->second, 64);
        SetText(buddy->second, std::to_string(CalendarSetupDialog::StepArrow(text, low, high, delta)));
    }

    static gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer data) {
        static_cast<GtkSetupDialogView*>(data)->Command(ui::kIdCancel, 0);
        return TRUE;  // the window goes when the dialog ends
    }

    static gboolean OnKey(GtkWidget* window, GdkEventKey* event, gpointer data) {
        auto* view = static_cast<GtkSetupDialogView*>(data);
        if (event->keyval == GDK_KEY_Escape) {
            view->Command(ui::kIdCancel, 0);
            return TRUE;
        }
        if (event->keyval == GDK_KEY_Return || event->keyval == GDK_KEY_KP_Enter) {
            // Enter presses the focused button, and OK from anywhere else.
            GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(window));
            if (focus && GTK_IS_BUTTON(focus)) return FALSE;
            view->Command(ui::kIdOk, 0);
            return TRUE;
        }
        if (event->keyval == GDK_KEY_Tab || event->keyval == GDK_KEY_ISO_Left_Tab ||
            event->keyval == GDK_KEY_KP_Tab) {
            const bool back = event->keyval == GDK_KEY_ISO_Left_Tab || (event->state & GDK_SHIFT_MASK);
            view->MoveFocus(back ? -1 : +1);
            return TRUE;
        }
        return FALSE;
    }

    // Tab walks the controls in layout order, as the platform's dialogs do, not by their position.
    void MoveFocus(int step) {
        if (tabOrder_.empty()) return;
        GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(window_));
        int current = -1;
        for (size_t i = 0; i < tabOrder_.size(); ++i) {
            if (focus && (focus == tabOrder_[i] || gtk_widget_is_ancestor(focus, tabOrder_[i]))) {
                current = static_cast<int>(i);
                break;
            }
        }
        const int count = static_cast<int>(tabOrder_.size());
        int next = current < 0 ? (step > 0 ? 0 : count - 1) : current;
        for (int tries = 0; tries < count; ++tries) {
            if (current >= 0 || tries > 0) next = (next + step + count) % count;
            GtkWidget* candidate = tabOrder_[next];
            if (!gtk_widget_is_sensitive(candidate) || !gtk_widget_get_visible(candidate)) continue;
            // A pick list takes the focus on the button inside it.
            if (gtk_widget_get_can_focus(candidate)) {
                gtk_widget_grab_focus(candidate);
            } else {
                gtk_widget_child_focus(candidate, GTK_DIR_TAB_FORWARD);
            }
            GtkWidget* now = gtk_window_get_focus(GTK_WINDOW(window_));
            if (now && (now == candidate || gtk_widget_is_ancestor(now, candidate))) return;
        }
    }

    static gboolean OnEditKey(GtkWidget*, GdkEventKey* event, gpointer data) {
        auto* link = static_cast<ControlLink*>(data);
        auto arrows = link->view->arrowsOf_.find(link->id);
        if (arrows == link->view->arrowsOf_.end()) return FALSE;
        if (event->keyval == GDK_KEY_Up || event->keyval == GDK_KEY_KP_Up) {
            link->view->StepArrows(arrows->second, +1);
            return TRUE;
        }
        if (event->keyval == GDK_KEY_Down || event->keyval == GDK_KEY_KP_Down) {
            link->view->StepArrows(arrows->second, -1);
            return TRUE;
        }
        return FALSE;
    }

    static void OnClicked(GtkButton*, gpointer data) {
        auto* link = static_cast<ControlLink*>(data);
        link->view->Command(link->id, 0);
    }

    static void OnComboChanged(GtkComboBox*, gpointer data) {
        auto* link = static_cast<ControlLink*>(data);
        if (link->view->quiet_ > 0) return;
        link->view->Command(link->id, ui::kSelectionChanged);
    }

    static gboolean OnBackgroundDraw(GtkWidget* widget, cairo_t* cr, gpointer data) {
        static_cast<GtkSetupDialogView*>(data)->PaintBackground(widget, cr, 0);
        return FALSE;  // the controls are drawn over it
    }

    static gboolean OnBandDraw(GtkWidget* widget, cairo_t* cr, gpointer data) {
        static_cast<GtkSetupDialogView*>(data)->PaintBackground(widget, cr, ui::kIdBand);
        return FALSE;
    }

    static gboolean OnButtonDraw(GtkWidget* widget, cairo_t* cr, gpointer data) {
        auto* link = static_cast<ControlLink*>(data);
        const ui::VCThemeHelper& theme = link->view->presenter_->Theme();
        if (!theme.IsReady()) return FALSE;  // the toolkit's own button
        ui::OwnerDrawItem item;
        item.id = link->id;
        const GtkStateFlags flags = gtk_widget_get_state_flags(widget);
        if (flags & GTK_STATE_FLAG_ACTIVE) item.state |= ui::kItemSelected;
        if (!gtk_widget_is_sensitive(widget)) item.state |= ui::kItemDisabled;
        if (gtk_widget_has_focus(widget)) item.state |= ui::kItemFocus;
        GtkAllocation a;
        gtk_widget_get_allocation(widget, &a);
        item.rect = ui::ScreenRect{0, 0, a.width, a.height};
        const char* label = gtk_button_get_label(GTK_BUTTON(widget));
        item.text = label ? label : "";
        CairoDrawContext dc(cr, widget);
        theme.DrawItem(item, &dc);
        return TRUE;
    }

    // Two stacked arrow buttons, in the theme's face and text colours or in neutral greys without a theme.
    static gboolean OnArrowsDraw(GtkWidget* widget, cairo_t* cr, gpointer data) {
        auto* link = static_cast<ControlLink*>(data);
        const ui::VCThemeHelper& theme = link->view->presenter_->Theme();
        const ui::UiBrush face{theme.IsReady() ? theme.FaceColour() : 0xE8E8E8u};
        const ui::UiPen border{theme.IsReady() ? theme.BorderColour() : 0x9A9A9Au, 1};
        const ZrkColour arrow = theme.IsReady() ? theme.TextColour() : 0x303030u;
        const int w = gtk_widget_get_allocated_width(widget);
        const int h = gtk_widget_get_allocated_height(widget);
        CairoDrawContext dc(cr, widget);
        dc.SelectBrush(&face);
        dc.SelectPen(&border);
        const ui::ScreenRect halves[2] = {{0, 0, w, h / 2}, {0, h / 2, w, h}};
        for (int i = 0; i < 2; ++i) {
            const ui::ScreenRect& r = halves[i];
            dc.RoundRect(r, 4, 4);
            const double cx = (r.left + r.right) / 2.0, cy = (r.top + r.bottom) / 2.0;
            const double half = std::max(2.0, std::min(w, r.bottom - r.top) * 0.22);
            cairo_set_source_rgb(cr, (arrow & 0xFF) / 255.0, ((arrow >> 8) & 0xFF) / 255.0,
                                 ((arrow >> 16) & 0xFF) / 255.0);
            const double tip = i == 0 ? -half / 1.5 : half / 1.5;
            cairo_move_to(cr, cx - half, cy - tip);
            cairo_line_to(cr, cx + half, cy - tip);
            cairo_line_to(cr, cx, cy + tip);
            cairo_close_path(cr);
            cairo_fill(cr);
        }
        return TRUE;
    }

    static gboolean OnArrowsPress(GtkWidget* widget, GdkEventButton* event, gpointer data) {
        if (event->button != 1) return FALSE;
        auto* link = static_cast<ControlLink*>(data);
        const int h = gtk_widget_get_allocated_height(widget);
        link->view->StepArrows(link->id, event->y < h / 2 ? +1 : -1);
        return TRUE;
    }

    // --- test hook: actions read from the file named by ZRK_SETUP_DIALOG_SCRIPT, one a line:
    //   type ID TEXT | click ID | pick ID TEXT | arrow ID up|down | tab 1|-1 | wait MS | screenshot PATH |
    //   dump PATH
    // Each runs from the main loop as a user's action would, after the previous one has finished.
    void StartScript() {
        const char* path = std::getenv(kScriptVariable);
        if (!path || !*path) return;
        std::ifstream file(path);
        std::string line;
        while (std::getline(file, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (!line.empty() && line[0] != '#') script_.push_back(line);
        }
        if (!script_.empty()) scriptSource_ = g_timeout_add(150, OnScriptTimer, this);
    }

    static gboolean OnScriptTimer(gpointer data) {
        auto* view = static_cast<GtkSetupDialogView*>(data);
        if (view->inCommand_ > 0) return G_SOURCE_CONTINUE;
        if (view->scriptWaitUntil_ > g_get_monotonic_time()) return G_SOURCE_CONTINUE;
        if (view->scriptNext_ >= view->script_.size() || view->ended_) {
            view->scriptSource_ = 0;
            return G_SOURCE_REMOVE;
        }
        view->RunScriptStep(view->script_[view->scriptNext_++]);
        return G_SOURCE_CONTINUE;
    }

    void RunScriptStep(const std::string& line) {
        std::istringstream in(line);
        std::string verb, rest;
        in >> verb;
        int id = 0;
        if (verb != "wait" && verb != "screenshot" && verb != "dump") in >> id;
        std::getline(in >> std::ws, rest);
        GtkWidget* widget = Widget(id);
        if (verb == "type" && widget && GTK_IS_ENTRY(widget)) {
            gtk_entry_set_text(GTK_ENTRY(widget), ValidText(rest).c_str());
        } else if (verb == "click" && widget && GTK_IS_BUTTON(widget)) {
            gtk_button_clicked(GTK_BUTTON(widget));
        } else if (verb == "pick" && widget && GTK_IS_COMBO_BOX(widget)) {
            GtkTreeModel* model = gtk_combo_box_get_model(GTK_COMBO_BOX(widget));
            GtkTreeIter iter;
            int index = 0;
            for (gboolean ok = gtk_tree_model_get_iter_first(model, &iter); ok;
                 ok = gtk_tree_model_iter_next(model, &iter), ++index) {
                gchar* text = nullptr;
                gtk_tree_model_get(model, &iter, 0, &text, -1);
                const bool match = text && rest == text;
                g_free(text);
                if (match) {
                    gtk_combo_box_set_active(GTK_COMBO_BOX(widget), index);  // reported as the user's pick
                    break;
                }
            }
        } else if (verb == "tab") {
            MoveFocus(id < 0 ? -1 : +1);
        } else if (verb == "arrow") {
            StepArrows(id, rest == "down" ? -1 : +1);
        } else if (verb == "wait") {
            scriptWaitUntil_ = g_get_monotonic_time() + 1000 * static_cast<gint64>(std::atoi(rest.c_str()));
        } else if (verb == "screenshot") {
            Screenshot(rest);
        } else if (verb == "dump") {
            Dump(rest);
        }
    }

    void Screenshot(const std::string& path) {
        GdkWindow* window = gtk_widget_get_window(window_);
        if (!window) return;
        while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
        GdkPixbuf* pixbuf = gdk_pixbuf_get_from_window(window, 0, 0, gdk_window_get_width(window),
                                                       gdk_window_get_height(window));
        if (!pixbuf) return;
        gdk_pixbuf_save(pixbuf, path.c_str(), "png", nullptr, nullptr);
        g_object_unref(pixbuf);
    }

    // What the window shows, as "id: text" lines and "id: [selection] entry|entry" for the pick lists.
    void Dump(const std::string& path) {
        std::ofstream out(path, std::ios::app);
        out << "title: " << gtk_window_get_title(GTK_WINDOW(window_)) << "\n";
        GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(window_));
        int focusId = 0;
        for (const auto& p : placed_) {
            if (focus && (focus == p.widget || gtk_widget_is_ancestor(focus, p.widget))) focusId = p.id;
        }
        out << "focus: " << focusId << "\n";
        out << "size: " << width_ << "x" << height_ << " at " << x_ << "," << y_ << "\n";
        for (const auto& p : placed_) {
            if (p.id < 0) continue;
            if (GTK_IS_COMBO_BOX(p.widget)) {
                out << p.id << ": [" << ComboSelection(p.id) << "]";
                GtkTreeModel* model = gtk_combo_box_get_model(GTK_COMBO_BOX(p.widget));
                GtkTreeIter iter;
                for (gboolean ok = gtk_tree_model_get_iter_first(model, &iter); ok;
                     ok = gtk_tree_model_iter_next(model, &iter)) {
                    gchar* text = nullptr;
                    gtk_tree_model_get(model, &iter, 0, &text, -1);
                    out << " " << (text ? text : "") << "|";
                    g_free(text);
                }
                out << "\n";
            } else {
                out << p.id << ": " << GetText(p.id, 2048) << "\n";
            }
        }
        for (const auto& r : ranges_)
            out << "range " << r.first << ": " << r.second.first << ".." << r.second.second << "\n";
    }

    CalendarSetupDialog* presenter_;
    ui::DialogLayout layout_;
    GtkWindow* owner_;
    ui::DialogUnits units_;
    GtkWidget* window_ = nullptr;
    GtkWidget* fixed_ = nullptr;
    GtkCssProvider* css_ = nullptr;
    GMainLoop* loop_ = nullptr;
    std::map<int, GtkWidget*> widgets_;
    std::vector<Placed> placed_;
    std::vector<GtkWidget*> tabOrder_;  // the controls Tab reaches, in layout order
    std::vector<std::unique_ptr<ControlLink>> links_;
    std::map<int, std::pair<int, int>> ranges_;
    std::map<int, int> buddies_;   // up-down id -> field id
    std::map<int, int> arrowsOf_;  // field id -> up-down id
    int x_ = 0, y_ = 0, width_ = 0, height_ = 0;
    int quiet_ = 0;
    int inCommand_ = 0;
    bool ended_ = false;
    int result_ = ui::kDialogCancel;
    std::vector<std::string> script_;
    size_t scriptNext_ = 0;
    gint64 scriptWaitUntil_ = 0;
    guint scriptSource_ = 0;
};

class GtkSetupDialogViewFactory : public ui::ISetupDialogViewFactory {
public:
    bool MeasureDialog(int* width, int* height) override {
        ui::DialogLayout layout;
        if (!StartToolkit() || !ui::LoadSetupDialogLayout(&layout)) return false;
        const ui::DialogUnits units = MeasureUnits(layout.pointSize);
        *width = units.X(layout.width);
        *height = units.Y(layout.height);
        return true;
    }

    int RunModal(CalendarSetupDialog* presenter, ZrkWindowHandle owner) override {
        ui::DialogLayout layout;
        if (!presenter || !StartToolkit() || !ui::LoadSetupDialogLayout(&layout)) return ui::kDialogFailed;
        // On this platform the host's main window, when it has one, is a GTK window of the same process.
        GtkWindow* ownerWindow = nullptr;
        if (owner && GTK_IS_WINDOW(reinterpret_cast<GtkWidget*>(owner))) {
            ownerWindow = GTK_WINDOW(reinterpret_cast<GtkWidget*>(owner));
        }
        GtkSetupDialogView view(presenter, layout, ownerWindow);
        return view.Run();
    }
};

GtkSetupDialogViewFactory g_factory;

// Installs the view while the library is loaded.
struct Installer {
    Installer() {
        // The toolkit cannot be unloaded safely once loaded (it keeps types and handlers for the process's
        // life): it stays when the host unloads the plug-in.
        for (const char* library : {"libgtk-3.so.0", "libgdk-3.so.0"})
            dlopen(library, RTLD_NOW | RTLD_NODELETE);
        ui::InstallSetupDialogViewFactory(&g_factory);
    }
    ~Installer() {
        if (ui::SetupDialogViewFactory() == &g_factory) ui::InstallSetupDialogViewFactory(nullptr);
    }
} g_installer;

}  // namespace
}  // namespace gtk
}  // namespace platform
