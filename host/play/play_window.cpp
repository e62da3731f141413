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
    GtkWidget* widget = nullptr;
    std::vector<Choice> choices;
};

PlayWindow::PlayWindow(Engine& engine, JackDriver& driver, const std::string& title, int zoom)
    : m_engine(engine), m_driver(driver), m_title(title), m_zoom(zoom) {
    build();
}

PlayWindow::~PlayWindow() {
    if (m_tick) g_source_remove(m_tick);
    if (m_window) gtk_widget_destroy(m_window);
}

void PlayWindow::build() {
    m_window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(m_window), m_title.c_str());
    gtk_window_move(GTK_WINDOW(m_window), 0, 0);
    g_signal_connect(m_window, "delete-event", G_CALLBACK(on_delete), this);
    g_signal_connect(m_window, "key-press-event", G_CALLBACK(on_key), this);

    GtkWidget* outer = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);
    gtk_container_add(GTK_CONTAINER(m_window), outer);
    m_status = gtk_label_new("starting");
    gtk_widget_set_halign(m_status, GTK_ALIGN_START);
    gtk_widget_set_margin_start(m_status, 6);
    gtk_box_pack_start(GTK_BOX(outer), m_status, FALSE, FALSE, 2);

    // The panels first, where the hands go; the stock controls of every instance below them.
    GtkWidget* scroll = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_box_pack_start(GTK_BOX(outer), scroll, TRUE, TRUE, 0);
    GtkWidget* column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 8);
    gtk_container_add(GTK_CONTAINER(scroll), column);
    auto new_flow = [&] {
        GtkWidget* flow = gtk_flow_box_new();
        gtk_flow_box_set_selection_mode(GTK_FLOW_BOX(flow), GTK_SELECTION_NONE);
        gtk_flow_box_set_homogeneous(GTK_FLOW_BOX(flow), FALSE);
        gtk_flow_box_set_max_children_per_line(GTK_FLOW_BOX(flow), 64);
        gtk_widget_set_valign(flow, GTK_ALIGN_START);
        gtk_box_pack_start(GTK_BOX(column), flow, FALSE, FALSE, 0);
        return flow;
    };
    auto add = [](GtkWidget* flow, GtkWidget* child) {
        gtk_container_add(GTK_CONTAINER(flow), child);
        // The flow box would take the focus and the arrow keys away from the controls.
        gtk_widget_set_can_focus(gtk_widget_get_parent(child), FALSE);
    };
    GtkWidget* panels = new_flow();
    gtk_box_pack_start(GTK_BOX(column), gtk_separator_new(GTK_ORIENTATION_HORIZONTAL), FALSE, FALSE, 0);
    GtkWidget* controls = new_flow();
    for (const auto& inst : m_engine.host().instances()) {
        if (GtkWidget* panel = build_panel(inst.get())) add(panels, panel);
        add(controls, build_controls(inst.get()));
    }
    gtk_window_set_default_size(GTK_WINDOW(m_window), 1200, 800);
}

GtkWidget* PlayWindow::build_panel(Instance* inst) {
    if (!inst->gui() || inst->panel_width <= 0 || inst->panel_height <= 0) return nullptr;
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 2);
    gtk_widget_set_valign(box, GTK_ALIGN_START);
    gtk_container_set_border_width(GTK_CONTAINER(box), 4);
    auto panel = std::make_unique<Panel>();
    panel->window = this;
    panel->inst = inst;
    panel->area = gtk_drawing_area_new();
    gtk_widget_set_size_request(panel->area, inst->panel_width * m_zoom, inst->panel_height * m_zoom);
    gtk_widget_set_halign(panel->area, GTK_ALIGN_START);
    gtk_widget_add_events(panel->area, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK | GDK_POINTER_MOTION_MASK);
    g_signal_connect(panel->area, "draw", G_CALLBACK(on_draw), panel.get());
    g_signal_connect(panel->area, "button-press-event", G_CALLBACK(on_button), panel.get());
    g_signal_connect(panel->area, "button-release-event", G_CALLBACK(on_button), panel.get());
    g_signal_connect(panel->area, "motion-notify-event", G_CALLBACK(on_motion), panel.get());
    gtk_box_pack_start(GTK_BOX(box), panel->area, FALSE, FALSE, 0);
    m_panels.push_back(std::move(panel));
    GtkWidget* name = gtk_label_new(inst->name().c_str());
    gtk_widget_set_halign(name, GTK_ALIGN_START);
    gtk_box_pack_start(GTK_BOX(box), name, FALSE, FALSE, 0);
    return box;
}

GtkWidget* PlayWindow::build_controls(Instance* inst) {
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 2);
    gtk_widget_set_valign(box, GTK_ALIGN_START);
    gtk_container_set_border_width(GTK_CONTAINER(box), 4);
    GtkWidget* name = gtk_label_new(nullptr);
    gchar* markup = g_markup_printf_escaped("<b>%s</b>", inst->name().c_str());
    gtk_label_set_markup(GTK_LABEL(name), markup);
    g_free(markup);
    gtk_widget_set_halign(name, GTK_ALIGN_START);
    gtk_box_pack_start(GTK_BOX(box), name, FALSE, FALSE, 0);

    GtkWidget* grid = gtk_grid_new();
    gtk_grid_set_column_spacing(GTK_GRID(grid), 6);
    int row = 0;
    for (const PinInfo& pin : inst->pins()) {
        // The stock controls stand in for wires: only unconnected inputs a person may set get one;
        // the modules' private and GUI-link pins are theirs.
        if (!pin.is_input() || pin.datatype == DT_MIDI || (pin.flags & (IO_PRIVATE | IO_UI_COMMUNICATION)) ||
            m_engine.host().connected(inst, pin.index))
            continue;
        GtkWidget* control = build_control(inst, pin.index);
        if (!control) continue;
        GtkWidget* label = gtk_label_new(pin.name.c_str());
        gtk_widget_set_halign(label, GTK_ALIGN_START);
        gtk_grid_attach(GTK_GRID(grid), label, 0, row, 1, 1);
        gtk_grid_attach(GTK_GRID(grid), control, 1, row, 1, 1);
        ++row;
    }
    gtk_box_pack_start(GTK_BOX(box), grid, FALSE, FALSE, 0);
    return box;
}

GtkWidget* PlayWindow::build_control(Instance* inst, int pin) {
    const PinInfo& info = inst->pins()[static_cast<size_t>(pin)];
    const PinValue& now = inst->value(pin);
    auto control = std::make_unique<Control>();
    control->window = this;
    control->inst = inst;
    control->pin = pin;
    Control* c = control.get();
    GtkWidget* w = nullptr;
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
        g_signal_connect(w, "changed", G_CALLBACK(+[](GtkComboBox* box, gpointer p) {
                             auto* c = static_cast<Control*>(p);
                             const int k = gtk_combo_box_get_active(box);
                             if (k < 0 || k >= static_cast<int>(c->choices.size())) return;
                             const int v = c->choices[static_cast<size_t>(k)].value;
                             c->window->m_engine.set_control(c->inst, c->pin, PinValue{v, static_cast<float>(v), {}});
                         }),
                         c);
        break;
    }
    case DT_FSAMPLE: {
        if (!parse_range(info.extra, &lo, &hi)) lo = 0, hi = 10;
        w = gtk_scale_new_with_range(GTK_ORIENTATION_HORIZONTAL, lo, hi, (hi - lo) / 1000.0);
        gtk_scale_set_digits(GTK_SCALE(w), 2);
        gtk_scale_set_value_pos(GTK_SCALE(w), GTK_POS_RIGHT);
        gtk_widget_set_size_request(w, 200, -1);
        gtk_range_set_value(GTK_RANGE(w), static_cast<double>(now.f) * 10.0);
        g_signal_connect(w, "value-changed", G_CALLBACK(+[](GtkRange* r, gpointer p) {
                             auto* c = static_cast<Control*>(p);
                             const float f = static_cast<float>(gtk_range_get_value(r) * 0.1);
                             c->window->m_engine.set_control(c->inst, c->pin, PinValue{static_cast<int32_t>(f), f, {}});
                         }),
                         c);
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
                             c->window->m_engine.set_control(c->inst, c->pin, v);
                         }),
                         c);
        break;
    }
    case DT_BOOL:
        w = gtk_check_button_new();
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(w), now.i != 0);
        g_signal_connect(w, "toggled", G_CALLBACK(+[](GtkToggleButton* b, gpointer p) {
                             auto* c = static_cast<Control*>(p);
                             const int v = gtk_toggle_button_get_active(b) ? 1 : 0;
                             c->window->m_engine.set_control(c->inst, c->pin, PinValue{v, static_cast<float>(v), {}});
                         }),
                         c);
        break;
    case DT_TEXT:
        w = gtk_entry_new();
        gtk_entry_set_text(GTK_ENTRY(w), now.text.c_str());
        gtk_entry_set_width_chars(GTK_ENTRY(w), 24);
        // Return sets the text; typing alone does not, as a half-typed file name is no value.
        g_signal_connect(w, "activate", G_CALLBACK(+[](GtkEntry* e, gpointer p) {
                             auto* c = static_cast<Control*>(p);
                             c->window->m_engine.set_control(c->inst, c->pin, PinValue{0, 0.0f, gtk_entry_get_text(e)});
                         }),
                         c);
        break;
    default: return nullptr;
    }
    c->widget = w;
    m_controls.push_back(std::move(control));
    return w;
}

// ---- panels ------------------------------------------------------------------------------------

gboolean PlayWindow::on_draw(GtkWidget*, cairo_t* cr, gpointer p) {
    auto* panel = static_cast<Panel*>(p);
    PlayWindow* self = panel->window;
    Instance* inst = panel->inst;
    const int w = inst->panel_width, h = inst->panel_height;
    if (w <= 0 || h <= 0 || !inst->gui()) return TRUE;
    // Inside a module's menu or dialog the last picture is shown again: painting would call into a
    // module that is still busy.
    if (!self->m_in_module || !panel->surface) {
        if (w != panel->width || h != panel->height || !panel->dc) {
            if (panel->dc) mvp::delete_panel_dc(panel->dc);
            if (panel->surface) cairo_surface_destroy(panel->surface);
            panel->dc = mvp::create_panel_dc(w, h, kPatchGrey);
            panel->surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
            panel->width = w;
            panel->height = h;
        }
        ++self->m_in_module;
        inst->paint(panel->dc, w, h);
        --self->m_in_module;
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
    if (ev->button != 1 || self->m_in_module || !panel->inst->gui()) return TRUE;
    const int x = static_cast<int>(std::floor(ev->x / self->m_zoom));
    const int y = static_cast<int>(std::floor(ev->y / self->m_zoom));
    if (ev->type == GDK_BUTTON_PRESS) {
        panel->pressed = true;
        ++self->m_in_module;
        panel->inst->pointer(GD_POINTER_DOWN, x, y);
        --self->m_in_module;
    } else if (ev->type == GDK_BUTTON_RELEASE && panel->pressed) {
        panel->pressed = false;
        ++self->m_in_module;
        panel->inst->pointer(GD_POINTER_UP, x, y);
        --self->m_in_module;
    }
    self->show_cursor(*panel);
    gtk_widget_queue_draw(panel->area);
    return TRUE;
}

gboolean PlayWindow::on_motion(GtkWidget*, GdkEventMotion* ev, gpointer p) {
    auto* panel = static_cast<Panel*>(p);
    PlayWindow* self = panel->window;
    if (self->m_in_module || !panel->inst->gui()) return TRUE;
    // While the button is held GTK keeps sending motion here even outside the panel, which is
    // what a module that captured the mouse expects; positions outside are passed as they are.
    ++self->m_in_module;
    panel->inst->pointer(GD_POINTER_MOVE, static_cast<int>(std::floor(ev->x / self->m_zoom)),
                         static_cast<int>(std::floor(ev->y / self->m_zoom)));
    --self->m_in_module;
    self->show_cursor(*panel);
    return TRUE;
}

// ---- the window --------------------------------------------------------------------------------

gboolean PlayWindow::on_key(GtkWidget*, GdkEventKey* ev, gpointer p) {
    auto* self = static_cast<PlayWindow*>(p);
    if ((ev->state & GDK_CONTROL_MASK) && (ev->keyval == GDK_KEY_s || ev->keyval == GDK_KEY_S)) {
        if (self->on_save) self->on_save();
        return TRUE;
    }
    return FALSE;
}

gboolean PlayWindow::on_delete(GtkWidget*, GdkEvent*, gpointer p) {
    auto* self = static_cast<PlayWindow*>(p);
    // A module's own menu or dialog loop may still run: the next tick after it ends closes.
    self->m_close_requested = true;
    return TRUE;
}

gboolean PlayWindow::on_tick(gpointer p) { return static_cast<PlayWindow*>(p)->tick() ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE; }

bool PlayWindow::tick() {
    ++m_ticks;
    if (m_in_module == 0) {
        ++m_in_module;
        m_engine.pump(true);
        --m_in_module;
    } else {
        m_engine.pump(false);
    }
    if (m_in_module == 0) {
        if (m_ticks % kIdleEvery == 0) {
            ++m_in_module;
            m_engine.idle();
            --m_in_module;
        }
        for (const auto& panel : m_panels) {
            Instance* inst = panel->inst;
            if (inst->repaint_requests != panel->seen_repaints || inst->panel_width != panel->width ||
                inst->panel_height != panel->height) {
                panel->seen_repaints = inst->repaint_requests;
                gtk_widget_set_size_request(panel->area, inst->panel_width * m_zoom, inst->panel_height * m_zoom);
                gtk_widget_queue_draw(panel->area);
            }
        }
    }
    if (m_ticks % kStatusEvery == 0) update_status();
    if ((m_close_requested || m_driver.finished() || m_driver.server_gone()) && m_in_module == 0 && !m_closing) {
        m_closing = true;
        gtk_main_quit();
    }
    return true;
}

void PlayWindow::update_status() {
    uint64_t busy = 0, period = 0;
    m_driver.load_counters(&busy, &period);
    if (period > m_last_period) m_load = static_cast<double>(busy - m_last_busy) / static_cast<double>(period - m_last_period);
    m_last_busy = busy;
    m_last_period = period;
    const HostConfig& cfg = m_engine.host().config();
    char line[256];
    std::snprintf(line, sizeof line, "%.1f s   DSP load %.1f %%   xruns %d   %.0f Hz, %d frames%s",
                  static_cast<double>(m_driver.frames_played()) / cfg.sample_rate, 100.0 * m_load, m_driver.xruns(),
                  static_cast<double>(cfg.sample_rate), cfg.block_size,
                  m_driver.server_gone() ? "   (the JACK server went away)" : "");
    gtk_label_set_text(GTK_LABEL(m_status), line);
}

gboolean PlayWindow::on_mapped(gpointer p) {
    auto* self = static_cast<PlayWindow*>(p);
    self->print_panels();
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
    for (const auto& panel : m_panels)
        place("panel", panel->inst->name(), panel->area, panel->inst->panel_width * m_zoom,
              panel->inst->panel_height * m_zoom);
    // The stock controls too, so that scripts can reach them: "control INSTANCE.PIN X Y W H".
    for (const auto& c : m_controls)
        place("control", c->inst->name() + "." + c->inst->pins()[static_cast<size_t>(c->pin)].name, c->widget,
              gtk_widget_get_allocated_width(c->widget), gtk_widget_get_allocated_height(c->widget));
    *m_out << "ready\n";
    m_out->flush();
}

void PlayWindow::run(std::ostream& out) {
    m_out = &out;
    gtk_widget_show_all(m_window);
    // Once the window manager (if any) has placed the window and the layout is done.
    g_signal_connect_swapped(m_window, "map-event", G_CALLBACK(+[](gpointer p) -> gboolean {
                                 g_timeout_add(200, on_mapped, p);
                                 return FALSE;
                             }),
                             this);
    update_status();
    m_tick = g_timeout_add(kTickMs, on_tick, this);
    gtk_main();
    g_source_remove(m_tick);
    m_tick = 0;
}

}  // namespace mvh
