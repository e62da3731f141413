// The window of `mvhost play`: one card per instance with its panel (zoomed) and the controls of
// every input a person may set, an on-screen keyboard for the patch's MIDI input, and a status
// line with the JACK client's name, the DSP load, the xrun count and output meters. Everything
// here runs on the GTK main thread.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "mvhost/engine.h"

namespace mvh {

class JackDriver;

class PlayWindow {
public:
    PlayWindow(Engine& engine, JackDriver& driver, const std::string& patch_name, const std::string& client_name,
               int zoom);
    ~PlayWindow();
    PlayWindow(const PlayWindow&) = delete;
    PlayWindow& operator=(const PlayWindow&) = delete;

    // How the session ended.
    enum class End { Closed, TimeUp, Interrupted, ServerGone };

    // Shows the window, prints `panel INSTANCE X Y WIDTH HEIGHT` for each panel (and `control`,
    // `widget` lines) on `out` once it is on the screen, and runs the GTK main loop until the
    // window is closed (or Ctrl+Q), the engine is finished (--seconds), a signal came or the
    // server went away. The window stays on the screen after it returns.
    End run(std::ostream& out);
    GtkWidget* widget() const { return m_window; }

    // A signal came: the session ends as soon as what is on the screen has been dismissed.
    void interrupt();
    // While the modules close: marks the instance whose questions follow (null: none) and shows
    // it before they come.
    void show_closing(Instance* inst);
    // The instance whose call into its module is innermost on the stack (whose menu, dialog or
    // chooser a request comes from), or null.
    Instance* calling() const;
    // Asks whether to save the changed patch; the path chosen, or "" when the person declines.
    std::string ask_save_as(const std::string& folder, const std::string& name);

    // Set by the command before run().
    std::function<std::string()> on_save;  // Ctrl+S: writes the patch, returns the line to show
    std::function<void()> on_ready;        // once the window is up and the panels listed
    std::function<bool()> user_busy;       // a module's menu, box, dialog or chooser is up
    std::function<void()> dismiss_user;    // ends those (an unattended end)
    Instance* midi_target = nullptr;       // where the keyboards' notes go (null: no keyboard)
    int midi_pin = -1;

private:
    struct Panel;
    struct Control;
    struct Card;
    void build();
    GtkWidget* build_card(Instance* inst);  // null for an instance with neither panel nor controls
    GtkWidget* build_panel(Instance* inst);
    GtkWidget* build_control(Instance* inst, int pin);
    GtkWidget* build_keyboard();
    void print_panels();
    bool tick();
    void update_status();
    void update_meters();
    void show_cursor(Panel& panel);
    void set_control(Control& c, const PinValue& v);
    void note(int note, bool on, int velocity);
    void all_notes_off();
    void say(const std::string& message);
    bool piano_key(GdkEventKey* ev, bool press);

    static gboolean on_draw(GtkWidget*, cairo_t*, gpointer);
    static gboolean on_button(GtkWidget*, GdkEventButton*, gpointer);
    static gboolean on_motion(GtkWidget*, GdkEventMotion*, gpointer);
    static gboolean on_key(GtkWidget*, GdkEventKey*, gpointer);
    static gboolean on_key_release(GtkWidget*, GdkEventKey*, gpointer);
    static gboolean on_delete(GtkWidget*, GdkEvent*, gpointer);
    static gboolean on_scroll(GtkWidget*, GdkEventScroll*, gpointer);
    static gboolean on_keys_draw(GtkWidget*, cairo_t*, gpointer);
    static gboolean on_keys_button(GtkWidget*, GdkEventButton*, gpointer);
    static gboolean on_tick(gpointer);
    static gboolean on_mapped(gpointer);

    Engine& m_engine;
    JackDriver& m_driver;
    std::string m_patch_name, m_client_name;
    int m_zoom;
    GtkWidget* m_window = nullptr;
    GtkWidget* m_scroll = nullptr;
    GtkWidget* m_status = nullptr;
    GtkWidget* m_message = nullptr;
    std::vector<GtkWidget*> m_meters;
    GtkWidget* m_keys_row = nullptr;
    GtkWidget* m_keys = nullptr;
    GtkWidget* m_panic = nullptr;
    GtkWidget* m_velocity = nullptr;
    GtkWidget* m_by_height = nullptr;
    std::vector<std::unique_ptr<Panel>> m_panels;
    std::vector<std::unique_ptr<Control>> m_controls;
    std::vector<std::pair<Instance*, GtkWidget*>> m_cards;
    std::ostream* m_out = nullptr;
    guint m_tick = 0;
    int m_ticks = 0;
    int m_message_ticks = 0;
    // Calls into a module nest when it opens a menu or dialog (their loops run ours): the
    // instances whose calls are on the stack, innermost last (null: a call into every module, as
    // pump and idle are). While one runs, the timers leave it alone; the other panels keep
    // following the sound.
    std::vector<Instance*> m_calling;
    class Calling;
    bool in_call(const Instance* inst) const;
    static void on_gdk_event(GdkEvent* ev, gpointer p);
    bool m_printed = false;
    bool m_quit = false;
    bool m_close_requested = false;
    bool m_interrupted = false;
    bool m_dismissed = false;
    End m_end = End::Closed;
    uint64_t m_last_busy = 0, m_last_period = 0;
    double m_load = 0.0;
    // The keyboards: the octave of the computer keyboard's lower row, the notes held (on screen:
    // the one under the mouse; computer keys: by key).
    int m_octave = 4;
    int m_mouse_note = -1;
    std::set<int> m_held;
    std::vector<std::pair<guint, int>> m_key_notes;  // hardware key code, note
};

}  // namespace mvh
