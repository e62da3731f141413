// The person in front of a real screen: a User that answers every request with GTK 3 widgets
// (popup menus, message dialogs, dialogs laid out from the modules' templates, the file and
// colour choosers), for a live host. Lives in its own library (mv_platform_gtk) so that plug-ins
// never depend on GTK; only hosts and tests link it.
//
// Every call must come from the thread that created the GtkUser, which must be the thread that
// runs GTK (gtk_init called before). Each request runs a nested main loop until the person has
// answered, so the host's windows keep drawing meanwhile. A request from any other thread gets the
// default answer (and a warning on stderr) instead of touching GTK from the wrong thread.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "mvp/user.h"

typedef struct _GtkWidget GtkWidget;
typedef struct _GtkWindow GtkWindow;

namespace mvp {

// Pixels per dialog unit, from the average character width and the height of a font, as a
// dialog computes them (x pixels = units * x / 4, y pixels = units * y / 8).
struct DialogBaseUnits {
    int x = 6;
    int y = 13;
};
// The base units of `font` at `points` (96 dots per inch), measured with Pango. A font that is
// not installed is replaced by fontconfig's choice for it, as the dialog shows it.
DialogBaseUnits dialog_base_units(const std::string& font, int points);
// A dialog-unit length in pixels (rounded to nearest as Windows' MulDiv does).
int dialog_units_to_x(int units, const DialogBaseUnits& base);
int dialog_units_to_y(int units, const DialogBaseUnits& base);

// The GDK cursor name ("default", "crosshair", "pointer", ...) for a cursor a module loaded:
// the standard IDC_* cursors (instance 0), and the wave view's mode cursors (library resources
// 122 select, 109 draw, 113 move, 106 zoom). Anything else gets "default".
const char* gdk_cursor_name(HINSTANCE instance, int resource_id);

class GtkUser : public User {
public:
    GtkUser();
    ~GtkUser() override;
    GtkUser(const GtkUser&) = delete;
    GtkUser& operator=(const GtkUser&) = delete;

    // Dialogs, boxes and choosers are kept above this window (the host's main window); null
    // leaves them on their own.
    void set_parent(GtkWindow* parent) { m_parent = parent; }

    // Called with each menu, message dialog, template dialog or chooser once it is on screen and
    // its nested loop runs (the widget: GtkMenu, GtkMessageDialog, GtkWindow, GtkFileChooserDialog,
    // GtkColorChooserDialog). Tests drive the widgets from here; hosts may ignore it.
    void set_shown_hook(std::function<void(GtkWidget*)> hook) { m_shown_hook = std::move(hook); }

    // Called on every SetCursor with the new cursor and its GDK name, so that the host can show
    // it (gdk_cursor_new_from_name) over the panel under the pointer.
    void set_cursor_hook(std::function<void(HCURSOR cursor, const char* gdk_name)> hook) {
        m_cursor_hook = std::move(hook);
    }
    HCURSOR cursor() const { return m_cursor; }

    // Where a file chooser starts when the module names no folder that exists (a first load or
    // save): the host's answer (the patch's folder, the folder of the file being saved), so that a
    // chooser never opens in whatever folder the host happened to be started from. An empty
    // answer leaves GTK's own choice.
    void set_start_folder_hook(std::function<std::string(const FileRequest&)> hook) {
        m_start_folder_hook = std::move(hook);
    }
    const char* cursor_name() const { return m_cursor_name; }

    // The GTK window showing a running template dialog, or null.
    GtkWidget* dialog_window(HWND dialog) const;

    // Whether a request is on screen (a menu, box or chooser waiting, or a template dialog
    // between its start and end). A host must not close the modules' GUI objects while it is:
    // the module's call is still on the stack below the nested loop.
    bool busy() const { return m_depth > 0 || !m_dialogs.empty(); }
    // Ends everything on screen as a person giving up would: menus dismissed, boxes answered
    // with Cancel (or their default), choosers cancelled, dialogs closed (WM_CLOSE; the
    // platform ends a dialog whose handler refuses three times). Until they have all returned,
    // new requests get the default answers at once. For a host that must quit (window closed,
    // time up) while a module waits for the person; the host quits once busy() is false.
    void dismiss_all();

    int message_box(const MessageBoxRequest& request) override;
    UINT track_menu(const MenuRequest& request) override;
    std::optional<std::string> choose_file(const FileRequest& request) override;
    std::optional<ColorAnswer> choose_color(const ColorRequest& request) override;
    void dialog_shown(const DialogState& dialog) override;
    DialogAction dialog_action(const DialogState& dialog) override;
    void dialog_closed(const DialogState& dialog, INT_PTR result) override;
    void cursor_changed(HCURSOR cursor, HINSTANCE instance, int resource_id) override;

    struct LiveDialog;  // a template dialog on screen (gtk_dialog.cpp)

private:
    bool on_gtk_thread(const char* request) const;
    void shown(GtkWidget* widget);
    // Counts a running request and its widget, for busy() and dismiss_all().
    class Running;

    int m_depth = 0;
    bool m_dismissing = false;
    std::vector<GtkWidget*> m_running;

    std::thread::id m_thread;
    GtkWindow* m_parent = nullptr;
    std::function<void(GtkWidget*)> m_shown_hook;
    std::function<void(HCURSOR, const char*)> m_cursor_hook;
    std::function<std::string(const FileRequest&)> m_start_folder_hook;
    HCURSOR m_cursor = 0;
    const char* m_cursor_name = "default";
    std::map<HWND, std::unique_ptr<LiveDialog>> m_dialogs;
};

}  // namespace mvp
