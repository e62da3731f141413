// Dialogs from the modules' templates as GTK windows: laid out from dialog units, kept on screen
// from dialog_shown to dialog_closed, showing the state the handler leaves after each step, and
// turning what the person does into the same actions a script gives.
#include <algorithm>
#include <cmath>
#include <deque>

#include "gtk_support.h"
#include "mvp/gtk_user.h"
#include "mvp/message_box.h"

namespace mvp {

using namespace gtk_detail;

// ---- dialog units ------------------------------------------------------------------------------

DialogBaseUnits dialog_base_units(const std::string& font, int points) {
    // The average width of the 52 letters and the line height of the font, as Windows measures
    // them for a dialog's font.
    PangoFontMap* map = pango_cairo_font_map_get_default();
    PangoContext* context = pango_font_map_create_context(map);
    pango_cairo_context_set_resolution(context, 96.0);
    PangoFontDescription* description = pango_font_description_new();
    pango_font_description_set_family(description, font.c_str());
    pango_font_description_set_size(description, std::max(1, points) * PANGO_SCALE);
    PangoLayout* layout = pango_layout_new(context);
    pango_layout_set_font_description(layout, description);
    pango_layout_set_text(layout, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", -1);
    int width = 0, height = 0;
    pango_layout_get_pixel_size(layout, &width, &height);
    g_object_unref(layout);
    pango_font_description_free(description);
    g_object_unref(context);
    DialogBaseUnits base;
    base.x = std::max(1, (width / 26 + 1) / 2);
    base.y = std::max(1, height);
    return base;
}

int dialog_units_to_x(int units, const DialogBaseUnits& base) {
    return static_cast<int>(std::lround(static_cast<double>(units) * base.x / 4.0));
}
int dialog_units_to_y(int units, const DialogBaseUnits& base) {
    return static_cast<int>(std::lround(static_cast<double>(units) * base.y / 8.0));
}

// ---- the live dialog -----------------------------------------------------------------------------

struct GtkUser::LiveDialog {
    struct Control {
        DialogControl control;
        GtkWidget* widget = nullptr;  // what sits in the layout (a scrolled window for a text view)
        GtkWidget* input = nullptr;   // what the person operates
        LiveDialog* dialog = nullptr;
    };
    HWND hwnd = 0;
    GtkWidget* window = nullptr;
    GtkCssProvider* css = nullptr;
    DialogBaseUnits base;
    std::deque<Control> controls;  // stable addresses: the signal handlers keep pointers
    std::deque<DialogAction> pending;
    bool reflecting = false;  // set while the handler's state is copied into the widgets

    void push(DialogAction action) {
        if (!reflecting) pending.push_back(std::move(action));
    }
    ~LiveDialog() {
        if (css) {
            gtk_style_context_remove_provider_for_screen(gtk_widget_get_screen(window), GTK_STYLE_PROVIDER(css));
            g_object_unref(css);
        }
        if (window) {
            gtk_widget_destroy(window);
            g_object_unref(window);
        }
    }
};

namespace {

using Live = GtkUser::LiveDialog;

DialogAction make(DialogAction::Kind kind, int id, std::string text = {}, int value = 0) {
    DialogAction a;
    a.kind = kind;
    a.id = id;
    a.text = std::move(text);
    a.value = value;
    return a;
}

// Windows edits report line breaks as CR LF; GTK text views use LF.
std::string to_windows_lines(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}
std::string from_windows_lines(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out += text[i];
    return out;
}

// A group box's caption: GTK frames take no mnemonic, so the '&' marks go.
std::string plain_label(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && i + 1 < text.size()) ++i;
        out += text[i];
    }
    return out;
}

std::string text_view_text(GtkWidget* view) {
    GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(view));
    GtkTextIter start, end;
    gtk_text_buffer_get_bounds(buffer, &start, &end);
    gchar* text = gtk_text_buffer_get_text(buffer, &start, &end, FALSE);
    std::string out = to_windows_lines(text);
    g_free(text);
    return out;
}

void on_entry_changed(GtkEditable* entry, gpointer data) {
    auto* c = static_cast<Live::Control*>(data);
    c->dialog->push(make(DialogAction::Kind::SetText, c->control.id, gtk_entry_get_text(GTK_ENTRY(entry))));
}

// ES_NUMBER edits take digits only, as Windows' do.
void on_number_insert(GtkEditable* editable, const gchar* text, gint length, gint*, gpointer) {
    for (gint i = 0; i < length; ++i)
        if (!g_ascii_isdigit(text[i])) {
            g_signal_stop_emission_by_name(editable, "insert-text");
            gtk_widget_error_bell(GTK_WIDGET(editable));
            return;
        }
}

void on_buffer_changed(GtkTextBuffer*, gpointer data) {
    auto* c = static_cast<Live::Control*>(data);
    c->dialog->push(make(DialogAction::Kind::SetText, c->control.id, text_view_text(c->input)));
}

void on_clicked(GtkButton*, gpointer data) {
    auto* c = static_cast<Live::Control*>(data);
    c->dialog->push(make(DialogAction::Kind::Press, c->control.id));
}

void on_toggled(GtkToggleButton* button, gpointer data) {
    auto* c = static_cast<Live::Control*>(data);
    c->dialog->push(make(DialogAction::Kind::SetCheck, c->control.id, {}, gtk_toggle_button_get_active(button) ? 1 : 0));
}

void on_scale_moved(GtkRange* range, gpointer data) {
    auto* c = static_cast<Live::Control*>(data);
    c->dialog->push(
        make(DialogAction::Kind::SetPosition, c->control.id, {}, static_cast<int>(std::lround(gtk_range_get_value(range)))));
}

gboolean on_delete(GtkWidget*, GdkEvent*, gpointer data) {
    static_cast<Live*>(data)->push(make(DialogAction::Kind::Close, 0));
    return TRUE;  // the dialog stays until the handler ends it
}

// Return presses the default button (a focused push button takes it itself, and so does a
// multi-line edit that wants returns); Escape closes, as the Windows dialog manager does.
gboolean on_key(GtkWidget* window, GdkEventKey* event, gpointer data) {
    auto* d = static_cast<Live*>(data);
    const guint key = event->keyval;
    if (key == GDK_KEY_Escape) {
        d->push(make(DialogAction::Kind::Close, 0));
        return TRUE;
    }
    if (key != GDK_KEY_Return && key != GDK_KEY_KP_Enter && key != GDK_KEY_ISO_Enter) return FALSE;
    GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(window));
    for (const Live::Control& c : d->controls) {
        if (c.input != focus) continue;
        const ControlKind k = c.control.kind;
        if (k == ControlKind::PushButton || k == ControlKind::DefPushButton) return FALSE;
        if (k == ControlKind::Edit && (c.control.style & ES_MULTILINE) && (c.control.style & ES_WANTRETURN)) return FALSE;
    }
    d->push(make(DialogAction::Kind::Enter, 0));
    return TRUE;
}

void add_control(Live* d, GtkWidget* fixed, const DialogControl& ctl) {
    d->controls.push_back({ctl, nullptr, nullptr, d});
    Live::Control* c = &d->controls.back();
    const std::string label = mnemonic_label(ctl.text);
    switch (ctl.kind) {
    case ControlKind::PushButton:
    case ControlKind::DefPushButton:
        c->widget = c->input = gtk_button_new_with_mnemonic(label.c_str());
        g_signal_connect(c->input, "clicked", G_CALLBACK(on_clicked), c);
        if (ctl.kind == ControlKind::DefPushButton) {
            gtk_widget_set_can_default(c->input, TRUE);
            gtk_window_set_default(GTK_WINDOW(d->window), c->input);
        }
        break;
    case ControlKind::Edit:
        if (ctl.style & ES_MULTILINE) {
            c->input = gtk_text_view_new();
            gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(c->input),
                                        (ctl.style & WS_HSCROLL) ? GTK_WRAP_NONE : GTK_WRAP_WORD_CHAR);
            c->widget = gtk_scrolled_window_new(nullptr, nullptr);
            gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(c->widget), GTK_SHADOW_IN);
            gtk_container_add(GTK_CONTAINER(c->widget), c->input);
            g_signal_connect(gtk_text_view_get_buffer(GTK_TEXT_VIEW(c->input)), "changed", G_CALLBACK(on_buffer_changed),
                             c);
        } else {
            c->widget = c->input = gtk_entry_new();
            gtk_entry_set_width_chars(GTK_ENTRY(c->input), 1);  // the template sets the width
            g_signal_connect(c->input, "changed", G_CALLBACK(on_entry_changed), c);
            if (ctl.style & ES_NUMBER) g_signal_connect(c->input, "insert-text", G_CALLBACK(on_number_insert), nullptr);
        }
        break;
    case ControlKind::Static:
        c->widget = gtk_label_new_with_mnemonic(label.c_str());
        gtk_label_set_xalign(GTK_LABEL(c->widget), 0.0f);
        gtk_label_set_yalign(GTK_LABEL(c->widget), 0.0f);
        gtk_label_set_line_wrap(GTK_LABEL(c->widget), TRUE);
        gtk_label_set_max_width_chars(GTK_LABEL(c->widget), 1);  // wrap at the template width
        break;
    case ControlKind::CheckBox:
        c->widget = c->input = gtk_check_button_new_with_mnemonic(label.c_str());
        g_signal_connect(c->input, "toggled", G_CALLBACK(on_toggled), c);
        break;
    case ControlKind::GroupBox:
        c->widget = gtk_frame_new(plain_label(ctl.text).c_str());
        break;
    case ControlKind::Trackbar:
        c->widget = c->input = gtk_scale_new_with_range(
            (ctl.style & TBS_VERT) ? GTK_ORIENTATION_VERTICAL : GTK_ORIENTATION_HORIZONTAL, 0, 100, 1);
        gtk_scale_set_draw_value(GTK_SCALE(c->input), FALSE);
        g_signal_connect(c->input, "value-changed", G_CALLBACK(on_scale_moved), c);
        break;
    }
    gtk_widget_set_name(c->widget, ("mvp-control-" + std::to_string(ctl.id)).c_str());
    gtk_widget_set_size_request(c->widget, dialog_units_to_x(ctl.width, d->base), dialog_units_to_y(ctl.height, d->base));
    gtk_fixed_put(GTK_FIXED(fixed), c->widget, dialog_units_to_x(ctl.x, d->base), dialog_units_to_y(ctl.y, d->base));
}

// The handler's view of the dialog, copied into the widgets. Texts the person is editing are
// only replaced when the handler changed them, so the cursor stays where it is.
void reflect(Live* d, const DialogState& state) {
    d->reflecting = true;
    if (gtk_window_get_title(GTK_WINDOW(d->window)) != state.caption)
        gtk_window_set_title(GTK_WINDOW(d->window), state.caption.c_str());
    // The snapshot lists the controls in template order, as they were built.
    for (size_t i = 0; i < d->controls.size() && i < state.controls.size(); ++i) {
        Live::Control& c = d->controls[i];
        const DialogControlState* s = &state.controls[i];
        if (!s) continue;
        gtk_widget_set_visible(c.widget, s->visible);
        gtk_widget_set_sensitive(c.widget, s->enabled);
        switch (c.control.kind) {
        case ControlKind::PushButton:
        case ControlKind::DefPushButton:
        case ControlKind::CheckBox:
            if (mnemonic_label(s->text) != gtk_button_get_label(GTK_BUTTON(c.input)))
                gtk_button_set_label(GTK_BUTTON(c.input), mnemonic_label(s->text).c_str());
            if (c.control.kind == ControlKind::CheckBox)
                gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(c.input), s->checked);
            break;
        case ControlKind::Edit:
            if (c.control.style & ES_MULTILINE) {
                gtk_text_view_set_editable(GTK_TEXT_VIEW(c.input), (c.control.style & ES_READONLY) == 0);
                if (text_view_text(c.input) != s->text) {
                    const std::string text = from_windows_lines(s->text);
                    gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(c.input)), text.c_str(), -1);
                }
            } else {
                gtk_editable_set_editable(GTK_EDITABLE(c.input), (c.control.style & ES_READONLY) == 0);
                if (s->text != gtk_entry_get_text(GTK_ENTRY(c.input))) gtk_entry_set_text(GTK_ENTRY(c.input), s->text.c_str());
            }
            break;
        case ControlKind::Static:
            if (mnemonic_label(s->text) != gtk_label_get_label(GTK_LABEL(c.widget)))
                gtk_label_set_text_with_mnemonic(GTK_LABEL(c.widget), mnemonic_label(s->text).c_str());
            break;
        case ControlKind::GroupBox:
            gtk_frame_set_label(GTK_FRAME(c.widget), plain_label(s->text).c_str());
            break;
        case ControlKind::Trackbar: {
            // GTK needs a non-empty range; a trackbar whose range is one value still shows it.
            const int low = s->range_min, high = std::max(s->range_max, s->range_min + 1);
            gtk_range_set_range(GTK_RANGE(c.input), low, high);
            gtk_range_set_value(GTK_RANGE(c.input), s->position);
            break;
        }
        }
    }
    d->reflecting = false;
}

// Sizes and fonts of the dialog's widgets. GTK themes give widgets minimum sizes far above what
// a template allows (an edit is 12 dialog units, about 20 pixels, tall), so inside a template
// dialog they shrink to their template rectangles, in the template's font.
std::string dialog_css(const std::string& name, const DialogTemplate& t) {
    const double pixels = std::max(1, t.font_size) * 96.0 / 72.0;
    std::string family;
    for (char ch : t.font)
        if (ch != '"' && ch != '\\' && ch != ';' && ch != '}') family += ch;
    const std::string scope = "#" + name;
    return scope + ", " + scope + " * { font-family: \"" + family + "\", sans-serif; font-size: " + std::to_string(pixels) +
           "px; }\n" + scope + " entry, " + scope + " button, " + scope + " textview, " + scope + " scrolledwindow { " +
           "min-height: 0; min-width: 0; padding-top: 0; padding-bottom: 0; }\n" + scope + " entry { padding-left: 3px; " +
           "padding-right: 3px; }\n" + scope + " button { padding-left: 4px; padding-right: 4px; }\n" + scope +
           " checkbutton { padding: 0; }\n" + scope + " check { min-width: 10px; min-height: 10px; margin: 0 4px 0 0; }\n" +
           scope + " scale { min-height: 0; min-width: 0; padding: 0 4px; }\n" + scope +
           " scale slider { min-width: 10px; min-height: 10px; margin: -4px; }\n";
}

std::unique_ptr<Live> build(const DialogState& state, const DialogTemplate& layout, GtkWindow* parent) {
    static int serial = 0;
    auto d = std::make_unique<Live>();
    d->hwnd = state.dialog;
    d->base = dialog_base_units(layout.font, layout.font_size);
    d->window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    g_object_ref_sink(d->window);
    const std::string name = "mvp-dialog-" + std::to_string(++serial);
    gtk_widget_set_name(d->window, name.c_str());
    d->css = gtk_css_provider_new();
    gtk_css_provider_load_from_data(d->css, dialog_css(name, layout).c_str(), -1, nullptr);
    gtk_style_context_add_provider_for_screen(gtk_widget_get_screen(d->window), GTK_STYLE_PROVIDER(d->css),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    gtk_window_set_title(GTK_WINDOW(d->window), state.caption.c_str());
    gtk_window_set_type_hint(GTK_WINDOW(d->window), GDK_WINDOW_TYPE_HINT_DIALOG);
    gtk_window_set_modal(GTK_WINDOW(d->window), TRUE);
    gtk_window_set_resizable(GTK_WINDOW(d->window), FALSE);
    if (parent) {
        gtk_window_set_transient_for(GTK_WINDOW(d->window), parent);
        gtk_window_set_position(GTK_WINDOW(d->window), GTK_WIN_POS_CENTER_ON_PARENT);
    } else {
        gtk_window_set_position(GTK_WINDOW(d->window), GTK_WIN_POS_CENTER);
    }
    GtkWidget* fixed = gtk_fixed_new();
    gtk_widget_set_size_request(fixed, dialog_units_to_x(layout.width, d->base), dialog_units_to_y(layout.height, d->base));
    gtk_container_add(GTK_CONTAINER(d->window), fixed);
    for (const DialogControl& ctl : layout.controls) add_control(d.get(), fixed, ctl);
    g_signal_connect(d->window, "delete-event", G_CALLBACK(on_delete), d.get());
    g_signal_connect(d->window, "key-press-event", G_CALLBACK(on_key), d.get());
    gtk_widget_show_all(d->window);
    reflect(d.get(), state);
    // Focus goes to the first control a person can operate, as a dialog's does.
    for (const Live::Control& c : d->controls)
        if (c.input && gtk_widget_get_visible(c.widget) && gtk_widget_get_sensitive(c.widget)) {
            gtk_widget_grab_focus(c.input);
            break;
        }
    gtk_window_present(GTK_WINDOW(d->window));
    return d;
}

DialogTemplate template_of(const DialogState& state) {
    DialogTemplate t;
    t.resource_id = state.template_id;
    t.caption = state.caption;
    t.width = state.width;
    t.height = state.height;
    t.font = state.font;
    t.font_size = state.font_size;
    for (const DialogControlState& c : state.controls) t.controls.push_back(c.control);
    return t;
}

}  // namespace

GtkUser::GtkUser() : m_thread(std::this_thread::get_id()) {}
GtkUser::~GtkUser() = default;

GtkWidget* GtkUser::dialog_window(HWND dialog) const {
    auto it = m_dialogs.find(dialog);
    return it == m_dialogs.end() ? nullptr : it->second->window;
}

void GtkUser::dialog_shown(const DialogState& state) {
    if (!on_gtk_thread("dialog")) return;
    m_dialogs.erase(state.dialog);
    auto d = build(state, template_of(state), m_parent);
    shown(d->window);
    m_dialogs[state.dialog] = std::move(d);
}

DialogAction GtkUser::dialog_action(const DialogState& state) {
    if (!on_gtk_thread("dialog") || m_dismissing) return DialogAction{};
    if (!m_dialogs.count(state.dialog)) dialog_shown(state);
    Live* d = m_dialogs.at(state.dialog).get();
    if (d->pending.empty()) {
        reflect(d, state);
        while (d->pending.empty() && !m_dismissing) g_main_context_iteration(nullptr, TRUE);
        if (d->pending.empty()) return DialogAction{};  // dismissed: close
    }
    DialogAction action = d->pending.front();
    d->pending.pop_front();
    return action;
}

void GtkUser::dialog_closed(const DialogState& state, INT_PTR) {
    if (!on_gtk_thread("dialog")) return;
    m_dialogs.erase(state.dialog);
    if (m_depth == 0 && m_dialogs.empty()) m_dismissing = false;
}

}  // namespace mvp
