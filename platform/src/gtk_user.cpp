// The GTK user: thread guard, the shown hook, cursors, popup menus and message boxes.
#include "mvp/gtk_user.h"

#include <algorithm>
#include <cstdio>

#include "gtk_support.h"
#include "mvp/menu.h"
#include "mvp/message_box.h"
#include "mvp/window.h"

namespace mvp {

namespace gtk_detail {

std::string mnemonic_label(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '&') {
            if (i + 1 < text.size() && text[i + 1] == '&') {
                out += '&';
                ++i;
            } else {
                out += '_';
            }
        } else if (c == '_') {
            out += "__";
        } else if (c == '\t') {
            out += "    ";  // the accelerator column of a Windows menu, shown after the label
        } else {
            out += c;
        }
    }
    return out;
}

void run_until(const bool* done) {
    GMainContext* context = g_main_context_default();
    while (!*done) g_main_context_iteration(context, TRUE);
}

}  // namespace gtk_detail

using namespace gtk_detail;

// ---- cursors -------------------------------------------------------------------------------------

const char* gdk_cursor_name(HINSTANCE instance, int resource_id) {
    if (instance == 0) {
        switch (resource_id) {
        case IDC_ARROW: return "default";
        case IDC_IBEAM: return "text";
        case IDC_WAIT: return "wait";
        case IDC_CROSS: return "crosshair";
        case IDC_UPARROW: return "n-resize";
        case 32642: return "nwse-resize";  // IDC_SIZENWSE
        case 32643: return "nesw-resize";  // IDC_SIZENESW
        case 32644: return "ew-resize";    // IDC_SIZEWE
        case 32645: return "ns-resize";    // IDC_SIZENS
        case IDC_SIZEALL: return "move";
        case IDC_NO: return "not-allowed";
        case IDC_HAND: return "pointer";
        case 32650: return "progress";  // IDC_APPSTARTING
        case 32651: return "help";      // IDC_HELP
        default: return "default";
        }
    }
    // The wave view's mode cursors are library resources; no cursor images ship with the
    // libraries here, so each mode gets the desktop cursor that says what a drag does.
    switch (resource_id) {
    case 122: return "ns-resize";  // select: drag up or down steps through the waveforms
    case 109: return "crosshair";  // draw
    case 113: return "grab";       // move: drag sideways scrolls
    case 106: return "zoom-in";    // zoom
    default: return "default";
    }
}

// ---- the user ------------------------------------------------------------------------------------

bool GtkUser::on_gtk_thread(const char* request) const {
    if (std::this_thread::get_id() == m_thread) return true;
    std::fprintf(stderr, "mvp::GtkUser: a %s request from a thread other than the GTK thread gets the default answer\n",
                 request);
    return false;
}

namespace {

struct ShownCall {
    std::function<void(GtkWidget*)> hook;
    GWeakRef widget;
};

gboolean call_shown(gpointer data) {
    auto* call = static_cast<ShownCall*>(data);
    if (GObject* w = static_cast<GObject*>(g_weak_ref_get(&call->widget))) {
        call->hook(GTK_WIDGET(w));
        g_object_unref(w);
    }
    g_weak_ref_clear(&call->widget);
    delete call;
    return G_SOURCE_REMOVE;
}

gboolean on_mapped(GtkWidget* toplevel, GdkEvent*, gpointer data) {
    g_signal_handlers_disconnect_by_func(toplevel, reinterpret_cast<gpointer>(on_mapped), data);
    g_idle_add(call_shown, data);
    return FALSE;
}

}  // namespace

void GtkUser::shown(GtkWidget* widget) {
    if (!m_shown_hook) return;
    auto* call = new ShownCall{m_shown_hook, {}};
    g_weak_ref_init(&call->widget, widget);
    GtkWidget* toplevel = gtk_widget_get_toplevel(widget);
    if (gtk_widget_get_mapped(toplevel))
        g_idle_add(call_shown, call);
    else
        g_signal_connect(toplevel, "map-event", G_CALLBACK(on_mapped), call);
}

void GtkUser::dismiss_all() {
    if (!busy()) return;
    m_dismissing = true;
    // Outer requests get their answer too; each returns once the ones above it have.
    for (GtkWidget* w : std::vector<GtkWidget*>(m_running)) {
        if (GTK_IS_MENU_SHELL(w))
            gtk_menu_shell_cancel(GTK_MENU_SHELL(w));
        else if (GTK_IS_DIALOG(w))
            gtk_dialog_response(GTK_DIALOG(w), GTK_RESPONSE_DELETE_EVENT);
    }
    g_main_context_wakeup(nullptr);  // a template dialog waiting for the person sees it
}

void GtkUser::cursor_changed(HCURSOR cursor, HINSTANCE instance, int resource_id) {
    m_cursor = cursor;
    m_cursor_name = cursor ? gdk_cursor_name(instance, resource_id) : "none";
    if (m_cursor_hook && on_gtk_thread("cursor")) m_cursor_hook(cursor, m_cursor_name);
}

// ---- popup menus ---------------------------------------------------------------------------------

namespace {

void on_item_activate(GtkMenuItem* item, gpointer chosen) {
    *static_cast<UINT*>(chosen) = GPOINTER_TO_UINT(g_object_get_data(G_OBJECT(item), "mvp-command"));
}

// A menu level. Items with a column break start a new column (MF_MENUBREAK and MF_MENUBARBREAK
// alike: GTK menus draw no bar between columns), which GTK only lays out through gtk_menu_attach.
GtkWidget* build_menu(const std::vector<MenuItem>& items, UINT* chosen, int depth) {
    GtkWidget* menu = gtk_menu_new();
    const bool columns = std::any_of(items.begin(), items.end(), [](const MenuItem& i) { return *i.column_break(); });
    guint column = 0, row = 0;
    for (const MenuItem& item : items) {
        if (columns && *item.column_break() && row > 0) ++column, row = 0;
        GtkWidget* w;
        if (item.separator()) {
            w = gtk_separator_menu_item_new();
        } else if (item.checked()) {
            w = gtk_check_menu_item_new_with_mnemonic(mnemonic_label(item.text).c_str());
            gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(w), TRUE);
        } else {
            w = gtk_menu_item_new_with_mnemonic(mnemonic_label(item.text).c_str());
        }
        if (item.popup() && depth < 32) {
            gtk_menu_item_set_submenu(GTK_MENU_ITEM(w), build_menu(item.submenu, chosen, depth + 1));
        } else if (!item.separator()) {
            g_object_set_data(G_OBJECT(w), "mvp-command", GUINT_TO_POINTER(item.id));
            g_signal_connect(w, "activate", G_CALLBACK(on_item_activate), chosen);
        }
        if (item.grayed()) gtk_widget_set_sensitive(w, FALSE);
        if (columns) {
            gtk_menu_attach(GTK_MENU(menu), w, column, column + 1, row, row + 1);
            ++row;
        } else {
            gtk_menu_shell_append(GTK_MENU_SHELL(menu), w);
        }
    }
    gtk_widget_show_all(menu);
    return menu;
}

void quit_flag(GtkMenuShell*, gpointer done) { *static_cast<bool*>(done) = true; }

}  // namespace

UINT GtkUser::track_menu(const MenuRequest& request) {
    if (!on_gtk_thread("menu") || m_dismissing) return 0;
    UINT chosen = 0;
    bool done = false;
    GtkWidget* menu = build_menu(request.items, &chosen, 0);
    g_object_ref_sink(menu);
    // Deactivation comes before the chosen item's "activate" but within the same event, so the
    // loop below sees both before it ends.
    g_signal_connect(menu, "deactivate", G_CALLBACK(quit_flag), &done);
    if (m_parent) gtk_menu_set_screen(GTK_MENU(menu), gtk_window_get_screen(m_parent));
    if (GdkEvent* event = gtk_get_current_event()) {
        // Inside the host's button handler: GTK places the menu at that event's pointer.
        gtk_menu_popup_at_pointer(GTK_MENU(menu), event);
        gdk_event_free(event);
    } else {
        GdkDisplay* display = gdk_display_get_default();
        GdkDevice* pointer = gdk_seat_get_pointer(gdk_display_get_default_seat(display));
        GdkScreen* screen = nullptr;
        GdkRectangle at{0, 0, 1, 1};
        gdk_device_get_position(pointer, &screen, &at.x, &at.y);
        gtk_menu_popup_at_rect(GTK_MENU(menu), gdk_screen_get_root_window(screen), &at, GDK_GRAVITY_NORTH_WEST,
                               GDK_GRAVITY_NORTH_WEST, nullptr);
    }
    // A menu that could not take the pointer and keyboard (another grab holds them) is not shown
    // and would never be deactivated: it counts as dismissed.
    if (gtk_widget_get_visible(menu)) {
        Running running(this, menu);
        shown(menu);
        run_until(&done);
    }
    gtk_widget_destroy(menu);
    g_object_unref(menu);
    return request.choosable(chosen) ? chosen : 0;
}

// ---- message boxes -------------------------------------------------------------------------------

namespace {

const char* button_label(int id) {
    switch (id) {
    case IDOK: return "_OK";
    case IDCANCEL: return "_Cancel";
    case IDABORT: return "_Abort";
    case IDRETRY: return "_Retry";
    case IDIGNORE: return "_Ignore";
    case IDYES: return "_Yes";
    case IDNO: return "_No";
    case IDTRYAGAIN: return "_Try Again";
    case IDCONTINUE: return "_Continue";
    default: return "?";
    }
}

GtkMessageType message_type(const std::string& icon) {
    if (icon == "error") return GTK_MESSAGE_ERROR;
    if (icon == "question") return GTK_MESSAGE_QUESTION;
    if (icon == "warning") return GTK_MESSAGE_WARNING;
    if (icon == "information") return GTK_MESSAGE_INFO;
    return GTK_MESSAGE_OTHER;
}

const char* icon_name(const std::string& icon) {
    if (icon == "error") return "dialog-error";
    if (icon == "question") return "dialog-question";
    if (icon == "warning") return "dialog-warning";
    if (icon == "information") return "dialog-information";
    return nullptr;
}

}  // namespace

int GtkUser::message_box(const MessageBoxRequest& request) {
    const std::vector<int> buttons = request.buttons();
    if (!on_gtk_thread("message box") || buttons.empty() || m_dismissing) return request.default_button();
    GtkWidget* box = gtk_message_dialog_new(m_parent, GTK_DIALOG_MODAL, message_type(request.icon()), GTK_BUTTONS_NONE,
                                            "%s", request.text.c_str());
    g_object_ref_sink(box);
    gtk_window_set_title(GTK_WINDOW(box), request.caption.c_str());
    gtk_window_set_position(GTK_WINDOW(box), m_parent ? GTK_WIN_POS_CENTER_ON_PARENT : GTK_WIN_POS_CENTER);
    // GTK 3 message dialogs no longer draw the icon of their type; the Windows box shows it.
    if (const char* icon = icon_name(request.icon())) {
        GtkWidget* image = gtk_image_new_from_icon_name(icon, GTK_ICON_SIZE_DIALOG);
        gtk_widget_show(image);
        G_GNUC_BEGIN_IGNORE_DEPRECATIONS
        gtk_message_dialog_set_image(GTK_MESSAGE_DIALOG(box), image);
        G_GNUC_END_IGNORE_DEPRECATIONS
        g_object_set(box, "message-type", message_type(request.icon()), nullptr);  // set_image cleared it
    }
    // GTK uses the response ids for the buttons, so they can carry the Windows ids unchanged
    // (all positive, as GTK leaves positive ids to the application).
    for (int id : buttons) gtk_dialog_add_button(GTK_DIALOG(box), button_label(id), id);
    const int preset = request.default_button();
    gtk_dialog_set_default_response(GTK_DIALOG(box), preset);
    if (GtkWidget* b = gtk_dialog_get_widget_for_response(GTK_DIALOG(box), preset)) gtk_widget_grab_focus(b);
    // Windows lets a box be closed (title bar, Escape) only when it has a Cancel button or is a
    // plain OK box; closing answers Cancel or OK.
    const bool has_cancel = std::find(buttons.begin(), buttons.end(), IDCANCEL) != buttons.end();
    const bool ok_only = buttons.size() == 1 && buttons[0] == IDOK;
    const int on_close = has_cancel ? IDCANCEL : ok_only ? IDOK : 0;
    gtk_window_set_deletable(GTK_WINDOW(box), on_close != 0);
    Running running(this, box);
    shown(box);
    int answer = 0;
    while (answer == 0) {
        const int response = gtk_dialog_run(GTK_DIALOG(box));
        if (std::find(buttons.begin(), buttons.end(), response) != buttons.end())
            answer = response;
        else if (response == GTK_RESPONSE_DELETE_EVENT)
            answer = running.dismissing() && !on_close ? preset : on_close;  // 0: the box stays up
        else
            answer = preset;  // the box was destroyed under us (its parent went away)
    }
    gtk_widget_destroy(box);
    g_object_unref(box);
    return answer;
}

}  // namespace mvp
