// The window of `mvhost play`: every panel zoomed, the stock controls of every unconnected input,
// and the DSP load and xrun count. Everything here runs on the GTK main thread.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "mvhost/engine.h"

namespace mvh {

class JackDriver;

class PlayWindow {
public:
    PlayWindow(Engine& engine, JackDriver& driver, const std::string& title, int zoom);
    ~PlayWindow();
    PlayWindow(const PlayWindow&) = delete;
    PlayWindow& operator=(const PlayWindow&) = delete;

    // Shows the window, prints `panel INSTANCE X Y WIDTH HEIGHT` for each panel on `out` once it
    // is on the screen, and runs the GTK main loop until the window is closed, the engine is
    // finished (--seconds) or the server goes away.
    void run(std::ostream& out);
    GtkWidget* widget() const { return m_window; }
    // Ctrl+S: the caller writes the patch.
    std::function<void()> on_save;

private:
    struct Panel;
    struct Control;
    void build();
    GtkWidget* build_panel(Instance* inst);     // null without a panel
    GtkWidget* build_controls(Instance* inst);
    GtkWidget* build_control(Instance* inst, int pin);
    void print_panels();
    bool tick();
    void update_status();
    void show_cursor(Panel& panel);

    static gboolean on_draw(GtkWidget*, cairo_t*, gpointer);
    static gboolean on_button(GtkWidget*, GdkEventButton*, gpointer);
    static gboolean on_motion(GtkWidget*, GdkEventMotion*, gpointer);
    static gboolean on_key(GtkWidget*, GdkEventKey*, gpointer);
    static gboolean on_delete(GtkWidget*, GdkEvent*, gpointer);
    static gboolean on_tick(gpointer);
    static gboolean on_mapped(gpointer);

    Engine& m_engine;
    JackDriver& m_driver;
    std::string m_title;
    int m_zoom;
    GtkWidget* m_window = nullptr;
    GtkWidget* m_status = nullptr;
    std::vector<std::unique_ptr<Panel>> m_panels;
    std::vector<std::unique_ptr<Control>> m_controls;
    std::ostream* m_out = nullptr;
    guint m_tick = 0;
    int m_ticks = 0;
    // Calls into a module nest when it opens a menu or dialog (their loops run ours); while one
    // runs, the timers leave the modules alone.
    int m_in_module = 0;
    bool m_printed = false;
    bool m_closing = false;
    bool m_close_requested = false;
    uint64_t m_last_busy = 0, m_last_period = 0;
    double m_load = 0.0;
};

}  // namespace mvh
