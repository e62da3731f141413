// The play window: panels painted through the platform's device contexts and blown up with
// nearest-neighbour scaling, pointer positions mapped back to panel pixels, the stock controls,
// and the timers that make the idle calls and carry the audio side's announcements in.
#include "play_window.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "jack_driver.h"
#include "mvp/gdi.h"
#include "mvp/window.h"
#ifdef MV_HAVE_PLATFORM_GTK
#include "mvp/gtk_user.h"
#endif

namespace mvh {

namespace {

constexpr int kTickMs = 10;        // how often the audio side's announcements are taken in
constexpr int kIdleEvery = 3;      // idle calls every third tick: about 30 a second
constexpr int kStatusEvery = 25;   // the load and xrun line, four times a second
constexpr int kMeterEvery = 5;     // the output meters, twenty times a second
constexpr mvp::COLORREF kPatchGrey = 0x00C0C0C0;

// The numbers of a pin's range text ("10,-10,10,-10"): the first two bound the range.
bool parse_range(const std::string& extra, double* lo, double* hi) {
    std::stringstream ss(extra);
    std::string item;
    std::vector<double> v;
    while (std::getline(ss, item, ',')) {
        char* end = nullptr;
        const double x = std::strtod(item.c_str(), &end);
        if (end == item.c_str() || !std::isfinite(x)) return false;
        v.push_back(x);
    }
    if (v.size() < 2 || v[0] == v[1]) return false;
    *lo = std::min(v[0], v[1]);
    *hi = std::max(v[0], v[1]);
    return true;
}

#ifdef MV_HAVE_PLATFORM_GTK
const char* cursor_name(const mvp::CursorInfo& info) { return mvp::gdk_cursor_name(info.instance, info.resource_id); }
#else
const char* cursor_name(const mvp::CursorInfo& info) {
    if (info.instance != 0) return "crosshair";  // a module's own cursor resource: a drawing tool
    switch (info.resource_id) {
    case mvp::IDC_IBEAM: return "text";
    case mvp::IDC_WAIT: return "wait";
    case mvp::IDC_CROSS: return "crosshair";
    case mvp::IDC_UPARROW: return "n-resize";
    case mvp::IDC_SIZEALL: return "move";
    case mvp::IDC_NO: return "not-allowed";
    case mvp::IDC_HAND: return "pointer";
    default: return "default";
    }
}
#endif

}  // namespace

struct PlayWindow::Panel {
    PlayWindow* window;
    Instance* inst;
    GtkWidget* area = nullptr;
    int width = 0, height = 0;  // panel pixels
    mvp::HDC dc = 0;
    cairo_surface_t* surface = nullptr;
    int seen_repaints = -1;
    bool pressed = false;
    mvp::HCURSOR shown_cursor = 0;

    ~Panel() {
        if (dc) mvp::delete_panel_dc(dc);
        if (surface) cairo_surface_destroy(surface);
    }
};

struct PlayWindow::Control {
    PlayWindow* window;
    Instance* inst;
    int pin;
    GtkWidget* widget = nullptr;  // what the listing names: the slider of a slider
    GtkWidget* number = nullptr;  // a slider's number field
    std::vector<Choice> choices;
};

PlayWindow::PlayWindow(Engine& engine, JackDriver& driver, const std::string& patch_name, const std::string& client_name,
                       int zoom)
    : m_engine(engine), m_driver(driver), m_patch_name(patch_name), m_client_name(client_name), m_zoom(zoom) {
    build();
}

PlayWindow::~PlayWindow() {
    if (m_tick) g_source_remove(m_tick);
    if (m_window) gtk_widget_destroy(m_window);
}

namespace {

// The card of the instance whose close-time questions are on screen stands out.
void install_style() {
    static bool done = false;
    if (done) return;
    done = true;
    GtkCssProvider* css = gtk_css_provider_new();
    gtk_css_provider_load_from_data(css,
                                    ".mv-card { border: 1px solid #b8b8b8; border-radius: 4px; padding: 4px; }\n"
                                    ".mv-closing { border: 3px solid #c01c28; background-color: #fbe3e4; }\n"
                                    // Compact controls, so that a patch's instances fit 1280 x 800.
                                    ".mv-card combobox button, .mv-card spinbutton, .mv-card entry, .mv-card button "
                                    "{ min-height: 18px; padding-top: 0; padding-bottom: 0; }\n"
                                    ".mv-card spinbutton button { padding: 0 2px; min-width: 16px; }\n"
                                    ".mv-card { font-size: 9pt; }\n",
                                    -1, nullptr);
    gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(css),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(css);
}

// The wheel over a control that the person has not clicked or focused scrolls the window, as it
// would over any other part of it: a value never changes by the pointer passing over it.
bool has_focus_within(GtkWidget* w) {
    GtkWidget* top = gtk_widget_get_toplevel(w);
    GtkWidget* focus = GTK_IS_WINDOW(top) ? gtk_window_get_focus(GTK_WINDOW(top)) : nullptr;
    return focus && (focus == w || gtk_widget_is_ancestor(focus, w));
}

// Whether a person may set this input: every input and parameter but MIDI, the modules' private
// pins, and the texts that link a GUI object to another (wave view messages), which are no
// person's to type. GUI-side pins are as settable as audio-side ones.
bool settable(const PinInfo& pin) {
    if (!pin.is_input() || pin.datatype == DT_MIDI || (pin.flags & IO_PRIVATE)) return false;
    if (pin.datatype == DT_TEXT && (pin.flags & IO_UI_COMMUNICATION) && !(pin.flags & IO_PATCH_STORE)) return false;
    return true;
}

constexpr int kLowestKey = 48;   // C3: three octaves on screen
constexpr int kKeyOctaves = 3;
constexpr int kWhiteWidth = 22, kKeysHeight = 72;
constexpr int kWhiteOffsets[7] = {0, 2, 4, 5, 7, 9, 11};

bool is_black(int note) {
    const int k = note % 12;
    return k == 1 || k == 3 || k == 6 || k == 8 || k == 10;
}

// The computer keyboard as two rows of piano keys, as trackers and most hosts lay them out: the
// lower row from Z is an octave, its upper neighbours (S, D, G, H, J) the black keys; the row
// from Q the octave above, with the digits as its black keys.
int key_offset(guint keyval) {
    static const char lower[] = "zsxdcvgbhnjm,l.;/";
    static const char upper[] = "q2w3er5t6y7ui9o0p";
    const guint k = gdk_keyval_to_lower(keyval);
    if (k < 0x20 || k > 0x7e) return -1;
    for (int i = 0; lower[i]; ++i)
        if (static_cast<guint>(lower[i]) == k) return i;
    for (int i = 0; upper[i]; ++i)
        if (static_cast<guint>(upper[i]) == k) return 12 + i;
    return -1;
}

}  // namespace

class PlayWindow::Calling {
public:
    Calling(PlayWindow* w, Instance* inst) : m_w(w) { m_w->m_calling.push_back(inst); }
    ~Calling() { m_w->m_calling.pop_back(); }
    Calling(const Calling&) = delete;
    Calling& operator=(const Calling&) = delete;

private:
    PlayWindow* m_w;
};

bool PlayWindow::in_call(const Instance* inst) const {
    for (const Instance* c : m_calling)
        if (!c || c == inst) return true;
    return false;
}

Instance* PlayWindow::calling() const {
    for (auto it = m_calling.rbegin(); it != m_calling.rend(); ++it)
        if (*it) return *it;
    return nullptr;
}

void PlayWindow::build() {
    install_style();
    m_window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    const std::string title = m_patch_name + " \u2014 JACK client " + m_client_name;
    gtk_window_set_title(GTK_WINDOW(m_window), title.c_str());
    gtk_window_move(GTK_WINDOW(m_window), 0, 0);
    g_signal_connect(m_window, "delete-event", G_CALLBACK(on_delete), this);
    g_signal_connect(m_window, "key-press-event", G_CALLBACK(on_key), this);
    g_signal_connect(m_window, "key-release-event", G_CALLBACK(on_key_release), this);

    GtkWidget* outer = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);
    gtk_container_add(GTK_CONTAINER(m_window), outer);

    // The status line: who this is in JACK, how it runs, how loud each output is, and what the
    // last command did.
    GtkWidget* status_row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
    gtk_widget_set_margin_start(status_row, 6);
    gtk_widget_set_margin_end(status_row, 6);
    gtk_box_pack_start(GTK_BOX(outer), status_row, FALSE, FALSE, 2);
    m_status = gtk_label_new("starting");
    gtk_box_pack_start(GTK_BOX(status_row), m_status, FALSE, FALSE, 0);
    for (const OutputChannel& channel : m_engine.outputs()) {
        GtkWidget* meter = gtk_level_bar_new_for_interval(0.0, 1.0);
        gtk_widget_set_size_request(meter, 70, 10);
        gtk_widget_set_valign(meter, GTK_ALIGN_CENTER);
        gtk_widget_set_tooltip_text(meter, channel.label.c_str());
        gtk_box_pack_start(GTK_BOX(status_row), meter, FALSE, FALSE, 0);
        m_meters.push_back(meter);
    }
    m_message = gtk_label_new("");
    gtk_box_pack_end(GTK_BOX(status_row), m_message, FALSE, FALSE, 0);

    m_scroll = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(m_scroll), GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
    gtk_box_pack_end(GTK_BOX(outer), m_scroll, TRUE, TRUE, 0);
    // The cards in columns, as many as fit the window's 1280 pixels, each card going to the
    // shortest column so far: the patch's order reads top to bottom, left to right, and no card is
    // stretched to the width of a wider one.
    std::vector<GtkWidget*> cards;
    int widest = 0;
    for (const auto& inst : m_engine.host().instances()) {
        GtkWidget* card = build_card(inst.get());
        if (!card) continue;
        gtk_widget_show_all(card);
        int w = 0;
        gtk_widget_get_preferred_width(card, nullptr, &w);
        widest = std::max(widest, w);
        cards.push_back(card);
        m_cards.push_back({inst.get(), card});
    }
    constexpr int kWindowWidth = 1280, kGap = 6;
    const int columns = std::clamp((kWindowWidth - 20) / std::max(1, widest + kGap), 1, 4);
    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, kGap);
    gtk_container_set_border_width(GTK_CONTAINER(row), 4);
    gtk_container_add(GTK_CONTAINER(m_scroll), row);
    std::vector<GtkWidget*> column(static_cast<size_t>(columns));
    std::vector<int> height(static_cast<size_t>(columns), 0);
    for (auto& c : column) {
        c = gtk_box_new(GTK_ORIENTATION_VERTICAL, kGap);
        gtk_box_pack_start(GTK_BOX(row), c, FALSE, FALSE, 0);
    }
    for (GtkWidget* card : cards) {
        const size_t k = static_cast<size_t>(std::min_element(height.begin(), height.end()) - height.begin());
        int h = 0;
        gtk_widget_get_preferred_height(card, nullptr, &h);
        height[k] += h + kGap;
        gtk_box_pack_start(GTK_BOX(column[k]), card, FALSE, FALSE, 0);
    }
    m_keys_row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
    gtk_widget_set_margin_start(m_keys_row, 6);
    gtk_box_pack_start(GTK_BOX(outer), m_keys_row, FALSE, FALSE, 0);
    gtk_window_set_default_size(GTK_WINDOW(m_window), 1280, 800);
}

GtkWidget* PlayWindow::build_card(Instance* inst) {
    GtkWidget* panel = build_panel(inst);
    GtkWidget* grid = gtk_grid_new();
    gtk_grid_set_column_spacing(GTK_GRID(grid), 6);
    gtk_grid_set_row_spacing(GTK_GRID(grid), 2);
    int row = 0;
    for (const PinInfo& pin : inst->pins()) {
        // The controls stand in for wires: a connected input is the wire's.
        if (!settable(pin) || m_engine.host().connected(inst, pin.index)) continue;
        GtkWidget* control = build_control(inst, pin.index);
        if (!control) continue;
        GtkWidget* label = gtk_label_new(pin.name.c_str());
        gtk_widget_set_halign(label, GTK_ALIGN_START);
        gtk_grid_attach(GTK_GRID(grid), label, 0, row, 1, 1);
        gtk_grid_attach(GTK_GRID(grid), control, 1, row, 1, 1);
        ++row;
    }
    if (!panel && row == 0) {
        g_object_ref_sink(grid);
        g_object_unref(grid);
        return nullptr;
    }
    GtkWidget* card = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);
    gtk_style_context_add_class(gtk_widget_get_style_context(card), "mv-card");
    gtk_widget_set_valign(card, GTK_ALIGN_START);
    GtkWidget* name = gtk_label_new(nullptr);
    gchar* markup = g_markup_printf_escaped("<b>%s</b>  <small>%s</small>", inst->name().c_str(),
                                            inst->plugin().name().c_str());
    gtk_label_set_markup(GTK_LABEL(name), markup);
    g_free(markup);
    gtk_widget_set_halign(name, GTK_ALIGN_START);
    gtk_box_pack_start(GTK_BOX(card), name, FALSE, FALSE, 0);
    // The panel beside its controls (below a wide one), so that the hands find both in one place.
    const bool wide = panel && inst->panel_width * m_zoom > 240;
    GtkWidget* body = gtk_box_new(wide ? GTK_ORIENTATION_VERTICAL : GTK_ORIENTATION_HORIZONTAL, 8);
    gtk_box_pack_start(GTK_BOX(card), body, FALSE, FALSE, 0);
    if (panel) gtk_box_pack_start(GTK_BOX(body), panel, FALSE, FALSE, 0);
    if (row > 0) {
        gtk_widget_set_valign(grid, GTK_ALIGN_START);
        gtk_box_pack_start(GTK_BOX(body), grid, FALSE, FALSE, 0);
    } else {
        g_object_ref_sink(grid);
        g_object_unref(grid);
    }
    return card;
}

GtkWidget* PlayWindow::build_panel(Instance* inst) {
    if (!inst->gui() || inst->panel_width <= 0 || inst->panel_height <= 0) return nullptr;
    auto panel = std::make_unique<Panel>();
    panel->window = this;
    panel->inst = inst;
    panel->area = gtk_drawing_area_new();
    gtk_widget_set_size_request(panel->area, inst->panel_width * m_zoom, inst->panel_height * m_zoom);
    gtk_widget_set_halign(panel->area, GTK_ALIGN_START);
    gtk_widget_set_valign(panel->area, GTK_ALIGN_START);
    gtk_widget_add_events(panel->area, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK | GDK_POINTER_MOTION_MASK);
    g_signal_connect(panel->area, "draw", G_CALLBACK(on_draw), panel.get());
    g_signal_connect(panel->area, "button-press-event", G_CALLBACK(on_button), panel.get());
    g_signal_connect(panel->area, "button-release-event", G_CALLBACK(on_button), panel.get());
    g_signal_connect(panel->area, "motion-notify-event", G_CALLBACK(on_motion), panel.get());
    GtkWidget* area = panel->area;
    m_panels.push_back(std::move(panel));
    return area;
}

void PlayWindow::set_control(Control& c, const PinValue& v) {
    // A GUI-side pin may make its module open a chooser or dialog right here (the colour picker's
    // "Open"): the timers must leave the modules alone meanwhile.
    Calling call(this, c.inst);
    m_engine.set_control(c.inst, c.pin, v);
}

GtkWidget* PlayWindow::build_control(Instance* inst, int pin) {
    const PinInfo& info = inst->pins()[static_cast<size_t>(pin)];
    const PinValue& now = inst->value(pin);
    auto control = std::make_unique<Control>();
    control->window = this;
    control->inst = inst;
    control->pin = pin;
    Control* c = control.get();
    GtkWidget* w = nullptr;       // what goes into the card
    GtkWidget* listed = nullptr;  // what the listing names
    std::vector<GtkWidget*> wheeled;
    double lo = 0, hi = 0;
    switch (info.datatype) {
    case DT_ENUM: {
        c->choices = parse_choices(info.extra);
        w = gtk_combo_box_text_new();
        int active = -1;
        for (size_t k = 0; k < c->choices.size(); ++k) {
            gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(w), c->choices[k].label.c_str());
            if (c->choices[k].value == now.i) active = static_cast<int>(k);
        }
        gtk_combo_box_set_active(GTK_COMBO_BOX(w), active);
        gtk_widget_set_halign(w, GTK_ALIGN_START);
        g_signal_connect(w, "changed", G_CALLBACK(+[](GtkComboBox* box, gpointer p) {
                             auto* c = static_cast<Control*>(p);
                             const int k = gtk_combo_box_get_active(box);
                             if (k < 0 || k >= static_cast<int>(c->choices.size())) return;
                             const int v = c->choices[static_cast<size_t>(k)].value;
                             c->window->set_control(*c, PinValue{v, static_cast<float>(v), {}});
                         }),
                         c);
        wheeled.push_back(w);
        break;
    }
    case DT_FSAMPLE: {
        // A slider to sweep, and its number to type into (Return or leaving it sets the value).
        if (!parse_range(info.extra, &lo, &hi)) lo = 0, hi = 10;
        GtkAdjustment* adj = gtk_adjustment_new(std::clamp(static_cast<double>(now.f) * 10.0, lo, hi), lo, hi,
                                                (hi - lo) / 1000.0, (hi - lo) / 20.0, 0.0);
        GtkWidget* scale = gtk_scale_new(GTK_ORIENTATION_HORIZONTAL, adj);
        gtk_scale_set_draw_value(GTK_SCALE(scale), FALSE);
        gtk_widget_set_size_request(scale, 220, -1);
        GtkWidget* number = gtk_spin_button_new(adj, (hi - lo) / 1000.0, 3);
        gtk_entry_set_width_chars(GTK_ENTRY(number), 6);
        w = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 4);
        gtk_box_pack_start(GTK_BOX(w), scale, TRUE, TRUE, 0);
        gtk_box_pack_start(GTK_BOX(w), number, FALSE, FALSE, 0);
        gtk_box_pack_start(GTK_BOX(w), gtk_label_new("V"), FALSE, FALSE, 0);
        g_signal_connect(adj, "value-changed", G_CALLBACK(+[](GtkAdjustment* a, gpointer p) {
                             auto* c = static_cast<Control*>(p);
                             const float f = static_cast<float>(gtk_adjustment_get_value(a) * 0.1);
                             c->window->set_control(*c, PinValue{static_cast<int32_t>(f), f, {}});
                         }),
                         c);
        listed = scale;
        c->number = number;
        wheeled = {scale, number};
        break;
    }
    case DT_FLOAT:
    case DT_INT: {
        const bool is_int = info.datatype == DT_INT;
        if (!parse_range(info.extra, &lo, &hi)) {
            lo = is_int ? -2147483648.0 : -1e9;
            hi = is_int ? 2147483647.0 : 1e9;
        }
        w = gtk_spin_button_new_with_range(lo, hi, is_int ? 1.0 : 0.01);
        gtk_widget_set_halign(w, GTK_ALIGN_START);
        gtk_entry_set_width_chars(GTK_ENTRY(w), 10);
        gtk_spin_button_set_digits(GTK_SPIN_BUTTON(w), is_int ? 0 : 3);
        gtk_spin_button_set_value(GTK_SPIN_BUTTON(w), is_int ? now.i : now.f);
        g_signal_connect(w, "value-changed", G_CALLBACK(+[](GtkSpinButton* s, gpointer p) {
                             auto* c = static_cast<Control*>(p);
                             const double x = gtk_spin_button_get_value(s);
                             PinValue v;
                             if (c->inst->pins()[static_cast<size_t>(c->pin)].datatype == DT_INT) {
                                 v.i = static_cast<int32_t>(std::llround(x));
                                 v.f = static_cast<float>(v.i);
                             } else {
                                 v.f = static_cast<float>(x);
                                 v.i = static_cast<int32_t>(v.f);
                             }
                             c->window->set_control(*c, v);
                         }),
                         c);
        wheeled.push_back(w);
        break;
    }
    case DT_BOOL:
        if (info.gui_only() && (info.flags & IO_UI_COMMUNICATION) && !(info.flags & IO_PATCH_STORE)) {
            // A GUI-side switch that is not stored is an action (the colour picker's "Open"):
            // down while pressed, and its module acts on the release, as on its own panel.
            w = gtk_button_new_with_label(info.name.c_str());
            g_signal_connect(w, "pressed", G_CALLBACK(+[](GtkButton*, gpointer p) {
                                 auto* c = static_cast<Control*>(p);
                                 c->window->set_control(*c, PinValue{1, 1.0f, {}});
                             }),
                             c);
            g_signal_connect(w, "released", G_CALLBACK(+[](GtkButton*, gpointer p) {
                                 auto* c = static_cast<Control*>(p);
                                 c->window->set_control(*c, PinValue{0, 0.0f, {}});
                             }),
                             c);
        } else {
            w = gtk_check_button_new();
            gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(w), now.i != 0);
            g_signal_connect(w, "toggled", G_CALLBACK(+[](GtkToggleButton* b, gpointer p) {
                                 auto* c = static_cast<Control*>(p);
                                 const int v = gtk_toggle_button_get_active(b) ? 1 : 0;
                                 c->window->set_control(*c, PinValue{v, static_cast<float>(v), {}});
                             }),
                             c);
        }
        break;
    case DT_TEXT:
        w = gtk_entry_new();
        gtk_entry_set_text(GTK_ENTRY(w), now.text.c_str());
        gtk_entry_set_width_chars(GTK_ENTRY(w), 24);
        // Return sets the text; typing alone does not, as a half-typed file name is no value.
        g_signal_connect(w, "activate", G_CALLBACK(+[](GtkEntry* e, gpointer p) {
                             auto* c = static_cast<Control*>(p);
                             c->window->set_control(*c, PinValue{0, 0.0f, gtk_entry_get_text(e)});
                         }),
                         c);
        break;
    default: return nullptr;
    }
    for (GtkWidget* x : wheeled) {
        gtk_widget_add_events(x, GDK_SCROLL_MASK | GDK_SMOOTH_SCROLL_MASK);
        g_signal_connect(x, "scroll-event", G_CALLBACK(on_scroll), this);
    }
    c->widget = listed ? listed : w;
    m_controls.push_back(std::move(control));
    return w;
}

gboolean PlayWindow::on_scroll(GtkWidget* w, GdkEventScroll* ev, gpointer p) {
    auto* self = static_cast<PlayWindow*>(p);
    if (has_focus_within(w)) return FALSE;  // the control's own handler takes it
    // Handed to the scrolled window, which moves the view instead.
    gtk_widget_event(self->m_scroll, reinterpret_cast<GdkEvent*>(ev));
    return TRUE;
}

// ---- the keyboards -----------------------------------------------------------------------------

GtkWidget* PlayWindow::build_keyboard() {
    m_keys = gtk_drawing_area_new();
    gtk_widget_set_size_request(m_keys, 7 * kKeyOctaves * kWhiteWidth + 1, kKeysHeight);
    gtk_widget_add_events(m_keys, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK);
    g_signal_connect(m_keys, "draw", G_CALLBACK(on_keys_draw), this);
    g_signal_connect(m_keys, "button-press-event", G_CALLBACK(on_keys_button), this);
    g_signal_connect(m_keys, "button-release-event", G_CALLBACK(on_keys_button), this);
    gtk_widget_set_tooltip_text(m_keys,
                                "Click to play (lower on a key is louder). Computer keys: Z S X D C ... and "
                                "Q 2 W 3 E ...; - and = shift the octave; Esc: Panic");
    gtk_box_pack_start(GTK_BOX(m_keys_row), m_keys, FALSE, FALSE, 0);

    GtkWidget* side = gtk_box_new(GTK_ORIENTATION_VERTICAL, 2);
    gtk_box_pack_start(GTK_BOX(m_keys_row), side, FALSE, FALSE, 0);
    m_by_height = gtk_check_button_new_with_label("Velocity from click height");
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(m_by_height), TRUE);
    gtk_widget_set_can_focus(m_by_height, FALSE);
    gtk_box_pack_start(GTK_BOX(side), m_by_height, FALSE, FALSE, 0);
    GtkWidget* fixed = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 4);
    gtk_box_pack_start(GTK_BOX(fixed), gtk_label_new("Fixed velocity"), FALSE, FALSE, 0);
    m_velocity = gtk_spin_button_new_with_range(1, 127, 1);
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(m_velocity), 100);
    // Set with its buttons or the wheel: a focused number field would take the letters that
    // play notes.
    gtk_widget_set_can_focus(m_velocity, FALSE);
    gtk_box_pack_start(GTK_BOX(fixed), m_velocity, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(side), fixed, FALSE, FALSE, 0);
    m_panic = gtk_button_new_with_label("Panic");
    gtk_widget_set_can_focus(m_panic, FALSE);
    gtk_widget_set_tooltip_text(m_panic, "All notes off on every MIDI input (Esc)");
    gtk_widget_set_valign(m_panic, GTK_ALIGN_CENTER);
    g_signal_connect_swapped(m_panic, "clicked", G_CALLBACK(+[](gpointer p) { static_cast<PlayWindow*>(p)->all_notes_off(); }),
                             this);
    gtk_box_pack_start(GTK_BOX(m_keys_row), m_panic, FALSE, FALSE, 0);
    GtkWidget* to = gtk_label_new(("into " + midi_target->name()).c_str());
    gtk_box_pack_start(GTK_BOX(m_keys_row), to, FALSE, FALSE, 0);
    return m_keys;
}

void PlayWindow::note(int n, bool on, int velocity) {
    if (!midi_target || n < 0 || n > 127) return;
    const int32_t word = on ? (0x90 | (n << 8) | (std::clamp(velocity, 1, 127) << 16)) : (0x80 | (n << 8) | (64 << 16));
    m_engine.send_midi(midi_target, midi_pin, word);
    if (on) m_held.insert(n);
    else m_held.erase(n);
    if (m_keys) gtk_widget_queue_draw(m_keys);
}

void PlayWindow::all_notes_off() {
    m_engine.all_notes_off();
    m_held.clear();
    m_key_notes.clear();
    m_mouse_note = -1;
    if (m_keys) gtk_widget_queue_draw(m_keys);
    say("all notes off");
}

// The key under a point of the on-screen keyboard: black keys over the upper three fifths.
static int key_at(double x, double y) {
    const int white = static_cast<int>(std::floor(x / kWhiteWidth));
    if (white < 0 || white >= 7 * kKeyOctaves || y < 0 || y >= kKeysHeight) return -1;
    const int base = kLowestKey + 12 * (white / 7) + kWhiteOffsets[white % 7];
    if (y < kKeysHeight * 0.6) {
        const double in = x - white * kWhiteWidth;
        if (in < kWhiteWidth * 0.3 && base > kLowestKey && is_black(base - 1)) return base - 1;
        if (in > kWhiteWidth * 0.7 && is_black(base + 1) && base + 1 < kLowestKey + 12 * kKeyOctaves) return base + 1;
    }
    return base;
}

gboolean PlayWindow::on_keys_button(GtkWidget*, GdkEventButton* ev, gpointer p) {
    auto* self = static_cast<PlayWindow*>(p);
    if (ev->button != 1) return TRUE;
    if (ev->type == GDK_BUTTON_PRESS) {
        const int n = key_at(ev->x, ev->y);
        if (n < 0) return TRUE;
        int velocity = gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(self->m_velocity));
        if (gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(self->m_by_height))) {
            const double depth = is_black(n) ? kKeysHeight * 0.6 : kKeysHeight;
            velocity = static_cast<int>(std::lround(127.0 * std::clamp(ev->y / depth, 0.0, 1.0)));
        }
        self->m_mouse_note = n;
        self->note(n, true, velocity);
    } else if (ev->type == GDK_BUTTON_RELEASE && self->m_mouse_note >= 0) {
        self->note(self->m_mouse_note, false, 0);
        self->m_mouse_note = -1;
    }
    return TRUE;
}

gboolean PlayWindow::on_keys_draw(GtkWidget*, cairo_t* cr, gpointer p) {
    auto* self = static_cast<PlayWindow*>(p);
    cairo_set_line_width(cr, 1.0);
    for (int k = 0; k < 7 * kKeyOctaves; ++k) {
        const int n = kLowestKey + 12 * (k / 7) + kWhiteOffsets[k % 7];
        if (self->m_held.count(n)) cairo_set_source_rgb(cr, 0.55, 0.75, 1.0);
        else cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_rectangle(cr, k * kWhiteWidth + 0.5, 0.5, kWhiteWidth, kKeysHeight - 1);
        cairo_fill_preserve(cr);
        cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
        cairo_stroke(cr);
        if (n % 12 == 0) {
            char name[16];
            std::snprintf(name, sizeof name, "C%d", n / 12 - 1);
            cairo_move_to(cr, k * kWhiteWidth + 4, kKeysHeight - 6);
            cairo_show_text(cr, name);
        }
    }
    for (int k = 0; k < 7 * kKeyOctaves; ++k) {
        const int n = kLowestKey + 12 * (k / 7) + kWhiteOffsets[k % 7] + 1;
        if (!is_black(n) || n >= kLowestKey + 12 * kKeyOctaves) continue;
        if (self->m_held.count(n)) cairo_set_source_rgb(cr, 0.2, 0.4, 0.9);
        else cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
        cairo_rectangle(cr, (k + 1) * kWhiteWidth - kWhiteWidth * 0.3, 0.5, kWhiteWidth * 0.6, kKeysHeight * 0.6);
        cairo_fill(cr);
    }
    return TRUE;
}

bool PlayWindow::piano_key(GdkEventKey* ev, bool press) {
    if (!midi_target) return false;
    if (press) {
        if (ev->keyval == GDK_KEY_minus || ev->keyval == GDK_KEY_KP_Subtract) {
            m_octave = std::max(0, m_octave - 1);
            say("computer keys from C" + std::to_string(m_octave - 1));
            return true;
        }
        if (ev->keyval == GDK_KEY_equal || ev->keyval == GDK_KEY_plus || ev->keyval == GDK_KEY_KP_Add) {
            m_octave = std::min(8, m_octave + 1);
            say("computer keys from C" + std::to_string(m_octave - 1));
            return true;
        }
    }
    const int offset = key_offset(ev->keyval);
    if (offset < 0) return false;
    auto held = std::find_if(m_key_notes.begin(), m_key_notes.end(),
                             [&](const std::pair<guint, int>& k) { return k.first == ev->hardware_keycode; });
    if (press) {
        if (held != m_key_notes.end()) return true;  // the key repeating
        const int n = 12 * m_octave + offset;
        if (n > 127) return true;
        m_key_notes.push_back({ev->hardware_keycode, n});
        note(n, true, gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(m_velocity)));
    } else if (held != m_key_notes.end()) {
        const int n = held->second;
        m_key_notes.erase(held);
        note(n, false, 0);
    }
    return true;
}

// ---- panels ------------------------------------------------------------------------------------

gboolean PlayWindow::on_draw(GtkWidget*, cairo_t* cr, gpointer p) {
    auto* panel = static_cast<Panel*>(p);
    PlayWindow* self = panel->window;
    Instance* inst = panel->inst;
    const int w = inst->panel_width, h = inst->panel_height;
    if (w <= 0 || h <= 0) return TRUE;
    // Inside a module's menu or dialog the last picture is shown again: painting would call into a
    // module that is still busy. So it is once the GUI object has closed (the window stays up
    // while the modules ask their close-time questions).
    if (!inst->gui() && !panel->surface) return TRUE;
    if (inst->gui() && (!self->in_call(inst) || !panel->surface)) {
        if (w != panel->width || h != panel->height || !panel->dc) {
            if (panel->dc) mvp::delete_panel_dc(panel->dc);
            if (panel->surface) cairo_surface_destroy(panel->surface);
            panel->dc = mvp::create_panel_dc(w, h, kPatchGrey);
            panel->surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
            panel->width = w;
            panel->height = h;
        }
        {
            Calling call(self, inst);
            inst->paint(panel->dc, w, h);
        }
        mvp::GdiFlush();
        mvp::Image image;
        if (mvp::read_image(panel->dc, &image) && image.width == w && image.height == h) {
            cairo_surface_flush(panel->surface);
            unsigned char* data = cairo_image_surface_get_data(panel->surface);
            const int stride = cairo_image_surface_get_stride(panel->surface);
            for (int y = 0; y < h; ++y) {
                auto* row = reinterpret_cast<uint32_t*>(data + static_cast<ptrdiff_t>(y) * stride);
                for (int x = 0; x < w; ++x) {
                    const mvp::COLORREF c = image.at(x, y);  // 0x00BBGGRR
                    row[x] = ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
                }
            }
            cairo_surface_mark_dirty(panel->surface);
        }
    }
    cairo_scale(cr, self->m_zoom, self->m_zoom);
    cairo_set_source_surface(cr, panel->surface, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
    cairo_paint(cr);
    return TRUE;
}

void PlayWindow::show_cursor(Panel& panel) {
    const mvp::HCURSOR cursor = mvp::GetCursor();
    if (cursor == panel.shown_cursor) return;
    panel.shown_cursor = cursor;
    GdkWindow* gw = gtk_widget_get_window(panel.area);
    if (!gw) return;
    mvp::CursorInfo info;
    const char* name = mvp::cursor_info(cursor, &info) ? cursor_name(info) : "default";
    GdkCursor* c = gdk_cursor_new_from_name(gdk_window_get_display(gw), name);
    gdk_window_set_cursor(gw, c);
    if (c) g_object_unref(c);
}

gboolean PlayWindow::on_button(GtkWidget*, GdkEventButton* ev, gpointer p) {
    auto* panel = static_cast<Panel*>(p);
    PlayWindow* self = panel->window;
    // The panels answer the primary button, as the modules know only one.
    if (ev->button != 1 || !self->m_calling.empty() || !panel->inst->gui()) return TRUE;
    const int x = static_cast<int>(std::floor(ev->x / self->m_zoom));
    const int y = static_cast<int>(std::floor(ev->y / self->m_zoom));
    if (ev->type == GDK_BUTTON_PRESS) {
        panel->pressed = true;
        Calling call(self, panel->inst);
        panel->inst->pointer(GD_POINTER_DOWN, x, y);
    } else if (ev->type == GDK_BUTTON_RELEASE && panel->pressed) {
        panel->pressed = false;
        Calling call(self, panel->inst);
        panel->inst->pointer(GD_POINTER_UP, x, y);
    }
    self->show_cursor(*panel);
    gtk_widget_queue_draw(panel->area);
    return TRUE;
}

gboolean PlayWindow::on_motion(GtkWidget*, GdkEventMotion* ev, gpointer p) {
    auto* panel = static_cast<Panel*>(p);
    PlayWindow* self = panel->window;
    if (!self->m_calling.empty() || !panel->inst->gui()) return TRUE;
    // While the button is held GTK keeps sending motion here even outside the panel, which is
    // what a module that captured the mouse expects; positions outside are passed as they are.
    {
        Calling call(self, panel->inst);
        panel->inst->pointer(GD_POINTER_MOVE, static_cast<int>(std::floor(ev->x / self->m_zoom)),
                             static_cast<int>(std::floor(ev->y / self->m_zoom)));
    }
    self->show_cursor(*panel);
    return TRUE;
}

// ---- the window --------------------------------------------------------------------------------

gboolean PlayWindow::on_key(GtkWidget* w, GdkEventKey* ev, gpointer p) {
    auto* self = static_cast<PlayWindow*>(p);
    const bool ctrl = (ev->state & GDK_CONTROL_MASK) != 0;
    if (ctrl && (ev->keyval == GDK_KEY_s || ev->keyval == GDK_KEY_S)) {
        if (self->on_save) self->say(self->on_save());
        return TRUE;
    }
    if (ctrl && (ev->keyval == GDK_KEY_q || ev->keyval == GDK_KEY_Q)) {
        self->m_close_requested = true;
        return TRUE;
    }
    if (ctrl || (ev->state & (GDK_MOD1_MASK | GDK_SUPER_MASK))) return FALSE;
    if (ev->keyval == GDK_KEY_Escape) {
        // Esc leaves a control (the wheel scrolls again) and silences every note.
        gtk_window_set_focus(GTK_WINDOW(w), nullptr);
        if (self->midi_target || !self->m_engine.midi_sources().empty()) self->all_notes_off();
        return TRUE;
    }
    // Typing into a number or a text goes there; everywhere else the letters are piano keys.
    GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(w));
    if (focus && GTK_IS_EDITABLE(focus)) return FALSE;
    return self->piano_key(ev, true) ? TRUE : FALSE;
}

gboolean PlayWindow::on_key_release(GtkWidget*, GdkEventKey* ev, gpointer p) {
    auto* self = static_cast<PlayWindow*>(p);
    return self->piano_key(ev, false) ? TRUE : FALSE;
}

gboolean PlayWindow::on_delete(GtkWidget*, GdkEvent*, gpointer p) {
    auto* self = static_cast<PlayWindow*>(p);
    // A module's own menu or dialog loop may still run: the next tick after it ends closes.
    self->m_close_requested = true;
    return TRUE;
}

void PlayWindow::interrupt() { m_interrupted = true; }

void PlayWindow::say(const std::string& message) {
    gtk_label_set_text(GTK_LABEL(m_message), message.c_str());
    m_message_ticks = 500;  // five seconds
}

gboolean PlayWindow::on_tick(gpointer p) { return static_cast<PlayWindow*>(p)->tick() ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE; }

bool PlayWindow::tick() {
    ++m_ticks;
    if (m_calling.empty()) {
        Calling call(this, nullptr);
        m_engine.pump(true);
    } else {
        // Inside a module's dialog: the others get what the sound sent them.
        Calling call(this, nullptr);
        const std::vector<Instance*> busy(m_calling.begin(), m_calling.end() - 1);
        m_engine.pump_except([&busy](const Instance* inst) {
            for (const Instance* b : busy)
                if (!b || b == inst) return true;
            return false;
        });
    }
    if (m_calling.empty() && m_ticks % kIdleEvery == 0) {
        Calling call(this, nullptr);
        m_engine.idle();
    }
    for (const auto& panel : m_panels) {
        Instance* inst = panel->inst;
        if (in_call(inst)) continue;
        if (inst->repaint_requests != panel->seen_repaints || inst->panel_width != panel->width ||
            inst->panel_height != panel->height) {
            panel->seen_repaints = inst->repaint_requests;
            gtk_widget_set_size_request(panel->area, inst->panel_width * m_zoom, inst->panel_height * m_zoom);
            gtk_widget_queue_draw(panel->area);
        }
    }
    if (m_ticks % kMeterEvery == 0) update_meters();
    if (m_ticks % kStatusEvery == 0) update_status();
    if (m_message_ticks > 0 && --m_message_ticks == 0) gtk_label_set_text(GTK_LABEL(m_message), "");
    if (m_quit) return true;
    // Without a person (time up, a signal, the server gone) what is on the screen is dismissed
    // first: nobody would answer it.
    const bool unattended = m_interrupted || m_driver.finished() || m_driver.server_gone();
    const bool busy = !m_calling.empty() || (user_busy && user_busy());
    if (unattended && busy && !m_dismissed) {
        m_dismissed = true;
        if (dismiss_user) dismiss_user();
    }
    if ((m_close_requested || unattended) && !busy) {
        m_quit = true;
        m_end = m_interrupted ? End::Interrupted
                : m_driver.server_gone() ? End::ServerGone
                : m_close_requested ? End::Closed
                                    : End::TimeUp;
        gtk_main_quit();
    }
    return true;
}

void PlayWindow::update_meters() {
    for (size_t c = 0; c < m_meters.size(); ++c) {
        const float peak = m_engine.take_peak(c);
        // 60 dB of range, full at 0 dBFS.
        const double level = peak > 0 ? std::clamp((20.0 * std::log10(peak) + 60.0) / 60.0, 0.0, 1.0) : 0.0;
        gtk_level_bar_set_value(GTK_LEVEL_BAR(m_meters[c]), level);
    }
}

void PlayWindow::update_status() {
    uint64_t busy = 0, period = 0;
    m_driver.load_counters(&busy, &period);
    if (period > m_last_period) m_load = static_cast<double>(busy - m_last_busy) / static_cast<double>(period - m_last_period);
    m_last_busy = busy;
    m_last_period = period;
    const HostConfig& cfg = m_engine.host().config();
    char line[512];
    std::snprintf(line, sizeof line, "%s   %.1f s   DSP load %.1f %%   xruns %d   %.0f Hz, %d frames%s",
                  m_client_name.c_str(), static_cast<double>(m_driver.frames_played()) / cfg.sample_rate,
                  100.0 * m_load, m_driver.xruns(), static_cast<double>(cfg.sample_rate), cfg.block_size,
                  m_driver.server_gone() ? "   (the JACK server went away)" : "");
    gtk_label_set_text(GTK_LABEL(m_status), line);
}

void PlayWindow::show_closing(Instance* inst) {
    for (const auto& [owner, card] : m_cards) {
        GtkStyleContext* style = gtk_widget_get_style_context(card);
        if (owner == inst) {
            gtk_style_context_add_class(style, "mv-closing");
            // In view, so that the person sees whose question follows.
            GtkAdjustment* v = gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(m_scroll));
            int x = 0, y = 0;
            GtkWidget* content = gtk_bin_get_child(GTK_BIN(m_scroll));
            if (content && gtk_widget_translate_coordinates(card, content, 0, 0, &x, &y))
                gtk_adjustment_clamp_page(v, y, y + gtk_widget_get_allocated_height(card));
        } else {
            gtk_style_context_remove_class(style, "mv-closing");
        }
    }
    if (inst) gtk_label_set_text(GTK_LABEL(m_status), ("closing " + inst->name() + "...").c_str());
    else gtk_label_set_text(GTK_LABEL(m_status), "closed");
    for (const auto& panel : m_panels) gtk_widget_queue_draw(panel->area);
    // Drawn now, before the module's question takes the screen.
    for (int k = 0; k < 100 && gtk_events_pending(); ++k) gtk_main_iteration_do(FALSE);
}

std::string PlayWindow::ask_save_as(const std::string& folder, const std::string& name) {
    GtkWidget* box = gtk_message_dialog_new(GTK_WINDOW(m_window), GTK_DIALOG_MODAL, GTK_MESSAGE_QUESTION,
                                            GTK_BUTTONS_NONE, "The patch was changed. Save it?");
    gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(box),
                                             "Without saving, what was set in this session is lost.");
    gtk_dialog_add_buttons(GTK_DIALOG(box), "Close without saving", GTK_RESPONSE_REJECT, "Save as...",
                           GTK_RESPONSE_ACCEPT, nullptr);
    gtk_dialog_set_default_response(GTK_DIALOG(box), GTK_RESPONSE_ACCEPT);
    gtk_window_set_title(GTK_WINDOW(box), "mvhost play");
    const int answer = gtk_dialog_run(GTK_DIALOG(box));
    gtk_widget_destroy(box);
    if (answer != GTK_RESPONSE_ACCEPT) return "";
    GtkWidget* chooser = gtk_file_chooser_dialog_new("Save the patch as", GTK_WINDOW(m_window), GTK_FILE_CHOOSER_ACTION_SAVE,
                                                     "_Cancel", GTK_RESPONSE_CANCEL, "_Save", GTK_RESPONSE_ACCEPT, nullptr);
    gtk_dialog_set_default_response(GTK_DIALOG(chooser), GTK_RESPONSE_ACCEPT);
    gtk_file_chooser_set_do_overwrite_confirmation(GTK_FILE_CHOOSER(chooser), TRUE);
    gchar* abs = g_canonicalize_filename(folder.empty() ? "." : folder.c_str(), nullptr);
    gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(chooser), abs);
    g_free(abs);
    gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(chooser), name.c_str());
    std::string path;
    if (gtk_dialog_run(GTK_DIALOG(chooser)) == GTK_RESPONSE_ACCEPT) {
        gchar* chosen = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(chooser));
        if (chosen) path = chosen;
        g_free(chosen);
    }
    gtk_widget_destroy(chooser);
    return path;
}

gboolean PlayWindow::on_mapped(gpointer p) {
    auto* self = static_cast<PlayWindow*>(p);
    gtk_window_set_focus(GTK_WINDOW(self->m_window), nullptr);
    self->print_panels();
    if (self->on_ready) self->on_ready();
    return G_SOURCE_REMOVE;
}

void PlayWindow::print_panels() {
    if (m_printed || !m_out) return;
    m_printed = true;
    GdkWindow* top = gtk_widget_get_window(m_window);
    if (!top) return;
    int ox = 0, oy = 0;
    gdk_window_get_origin(top, &ox, &oy);
    auto place = [&](const char* kind, const std::string& name, GtkWidget* w, int width, int height) {
        int x = 0, y = 0;
        if (!gtk_widget_translate_coordinates(w, m_window, 0, 0, &x, &y)) return;
        *m_out << kind << " " << name << " " << ox + x << " " << oy + y << " " << width << " " << height << "\n";
    };
    auto size = [](GtkWidget* w) { return std::make_pair(gtk_widget_get_allocated_width(w), gtk_widget_get_allocated_height(w)); };
    for (const auto& panel : m_panels)
        place("panel", panel->inst->name(), panel->area, panel->inst->panel_width * m_zoom,
              panel->inst->panel_height * m_zoom);
    // The controls and the keyboard too, so that scripts can reach them: "control INSTANCE.PIN X
    // Y W H", "widget NAME X Y W H".
    for (const auto& c : m_controls) {
        const auto [w, h] = size(c->widget);
        const std::string name = c->inst->name() + "." + c->inst->pins()[static_cast<size_t>(c->pin)].name;
        place("control", name, c->widget, w, h);
        if (c->number) {
            const auto [nw, nh] = size(c->number);
            place("number", name, c->number, nw, nh);
        }
    }
    for (const auto& [name, widget] : {std::pair<const char*, GtkWidget*>{"keyboard", m_keys}, {"panic", m_panic},
                                       {"status", m_status}, {"message", m_message}}) {
        if (!widget) continue;
        const auto [w, h] = size(widget);
        place("widget", name, widget, w, h);
    }
    *m_out << "ready\n";
    m_out->flush();
}

PlayWindow::End PlayWindow::run(std::ostream& out) {
    m_out = &out;
    if (midi_target && !m_keys) build_keyboard();
    gtk_widget_show_all(m_window);
    // No control starts with the focus: the letters are piano keys until a control is clicked.
    gtk_window_set_focus(GTK_WINDOW(m_window), nullptr);
    // Once the window manager (if any) has placed the window and the layout is done.
    g_signal_connect_swapped(m_window, "map-event", G_CALLBACK(+[](gpointer p) -> gboolean {
                                 g_timeout_add(200, on_mapped, p);
                                 return FALSE;
                             }),
                             this);
    update_status();
    m_tick = g_timeout_add(kTickMs, on_tick, this);
    gdk_event_handler_set(on_gdk_event, this, nullptr);
    gtk_main();
    gdk_event_handler_set(+[](GdkEvent* ev, gpointer) { gtk_main_do_event(ev); }, nullptr, nullptr);
    g_source_remove(m_tick);
    m_tick = 0;
    return m_end;
}

// A modal dialog's grab makes GTK drop the window manager's close request for every other window:
// it is noted here, before GTK sees it, and honoured once the dialog has ended.
void PlayWindow::on_gdk_event(GdkEvent* ev, gpointer p) {
    auto* self = static_cast<PlayWindow*>(p);
    if (ev->type == GDK_DELETE && self->m_window && ev->any.window == gtk_widget_get_window(self->m_window))
        self->m_close_requested = true;
    gtk_main_do_event(ev);
}

}  // namespace mvh
