// The GTK user on a real X server of its own (Xvfb): menus, message boxes, template dialogs and
// choosers are real GTK widgets, driven by key presses and clicks (xdotool) or through the
// widgets' own calls, and the modules' calls return what the person chose.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

#include "dialog_templates.h"
#include "mvp/common_dialogs.h"
#include "mvp/dialog.h"
#include "mvp/gtk_user.h"
#include "mvp/menu.h"
#include "mvp/message_box.h"
#include "mvp/scripted_user.h"
#include "mvp/window.h"

using namespace mvp;
namespace fs = std::filesystem;

namespace {

// ---- the X server -----------------------------------------------------------------------------

bool in_path(const char* program) {
    const char* path = std::getenv("PATH");
    std::string p = path ? path : "";
    size_t start = 0;
    while (start <= p.size()) {
        size_t end = p.find(':', start);
        if (end == std::string::npos) end = p.size();
        if (access((p.substr(start, end - start) + "/" + program).c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    return false;
}

// Starts Xvfb on a display it picks itself (-displayfd) and opens GTK on it; stops it by its
// process id at the end.
class XServer : public ::testing::Environment {
public:
    static inline std::string skip_reason;
    static inline std::string display;

    void SetUp() override {
        if (!in_path("Xvfb")) return void(skip_reason = "Xvfb is not installed (tools/install-deps installs xvfb)");
        if (!in_path("xdotool")) return void(skip_reason = "xdotool is not installed");
        int fds[2];
        if (pipe(fds) != 0) return void(skip_reason = "no pipe for Xvfb");
        m_pid = fork();
        if (m_pid == 0) {
            close(fds[0]);
            const int quiet = open("/dev/null", O_WRONLY);
            if (quiet >= 0) dup2(quiet, 1), dup2(quiet, 2);
            const std::string fd = std::to_string(fds[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        s_pid = m_pid;
        signal(SIGALRM, on_alarm);
        std::string number;
        pollfd p{fds[0], POLLIN, 0};
        char c;
        while (poll(&p, 1, 10000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
        close(fds[0]);
        if (number.empty()) return void(skip_reason = "Xvfb did not start");
        display = ":" + number;
        setenv("DISPLAY", display.c_str(), 1);
        setenv("GTK_THEME", "Adwaita", 1);    // the same look wherever the test runs
        setenv("GSETTINGS_BACKEND", "memory", 1);
        setenv("NO_AT_BRIDGE", "1", 1);       // no accessibility bus on a bare machine
        if (!gtk_init_check(nullptr, nullptr)) skip_reason = "GTK cannot open " + display;
    }
    void TearDown() override {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
    }

private:
    // A test that hangs ends here; the server goes with it.
    static void on_alarm(int) {
        static const char message[] = "gtk test: no answer within the time limit\n";
        if (write(2, message, sizeof message - 1) < 0) {}
        if (s_pid > 0) kill(s_pid, SIGTERM);
        _exit(3);
    }
    static inline pid_t s_pid = -1;
    pid_t m_pid = -1;
};

// Runs `argv` without waiting (the nested loop must keep running while xdotool types).
void spawn(std::vector<std::string> argv) {
    std::vector<char*> args;
    for (std::string& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    GError* error = nullptr;
    if (!g_spawn_async(nullptr, args.data(), nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, nullptr, &error)) {
        ADD_FAILURE() << "cannot run " << argv[0] << ": " << error->message;
        g_error_free(error);
    }
}

// The steps of a person, as one shell line of xdotool commands (and screenshots) run in one
// process, so that they keep their order however slowly the machine runs.
void person(const std::string& line) { spawn({"sh", "-c", line}); }

// The server has no window manager to give a new window the keyboard: as a person would, the
// pointer goes over the window before the keys.
std::string pointer_over(GtkWidget* window) {
    int x = 0, y = 0;
    gdk_window_get_origin(gtk_widget_get_window(window), &x, &y);
    x += gtk_widget_get_allocated_width(window) / 2;
    y += gtk_widget_get_allocated_height(window) / 2;
    return "xdotool mousemove " + std::to_string(x) + " " + std::to_string(y);
}

// Calls `f` once after `ms` milliseconds of the running loop.
void after(guint ms, std::function<void()> f) {
    auto* call = new std::function<void()>(std::move(f));
    g_timeout_add(ms, [](gpointer data) -> gboolean {
        auto* fn = static_cast<std::function<void()>*>(data);
        (*fn)();
        delete fn;
        return G_SOURCE_REMOVE;
    }, call);
}

// A shell command taking a screenshot of the whole screen for a person to look at
// (build/gtk_screens/NAME.png).
std::string shot(const std::string& name) {
    const fs::path dir = fs::path(MV_BINARY_DIR) / "gtk_screens";
    fs::create_directories(dir);
    return "import -display " + XServer::display + " -window root " + (dir / (name + ".png")).string();
}

void screenshot(const std::string& name) {
    gint status = 0;
    if (!g_spawn_command_line_sync(shot(name).c_str(), nullptr, nullptr, &status, nullptr) || status != 0)
        ADD_FAILURE() << "screenshot failed: " << shot(name);
}

std::vector<GtkWidget*> children(GtkWidget* container) {
    std::vector<GtkWidget*> out;
    GList* list = gtk_container_get_children(GTK_CONTAINER(container));
    for (GList* l = list; l; l = l->next) out.push_back(GTK_WIDGET(l->data));
    g_list_free(list);
    return out;
}

int child_int(GtkWidget* container, GtkWidget* child, const char* property) {
    guint value = 0;
    gtk_container_child_get(GTK_CONTAINER(container), child, property, &value, nullptr);
    return static_cast<int>(value);
}

struct GtkUserTest : ::testing::Test {
    GtkUser user;
    ScopedUser installed{&user};
    HWND owner = 0;

    void SetUp() override {
        if (!XServer::skip_reason.empty()) GTEST_SKIP() << XServer::skip_reason;
        owner = create_window("patch", RECT{0, 0, 800, 600});
        alarm(60);  // a widget that never answers fails the test instead of hanging it
    }
    void TearDown() override {
        alarm(0);
        if (owner) DestroyWindow(owner);
    }
};

// ---- menus ---------------------------------------------------------------------------------------

struct MenuTest : GtkUserTest {
    HMENU top = 0;
    void SetUp() override {
        GtkUserTest::SetUp();
        if (IsSkipped()) return;
        top = CreatePopupMenu();
        HMENU waves = CreatePopupMenu();
        AppendMenuA(waves, MF_STRING, 18, "w0");
        AppendMenuA(waves, MF_STRING | MF_CHECKED, 19, "w1");
        AppendMenuA(waves, MF_STRING | MF_MENUBREAK, 20, "w2");
        AppendMenuA(waves, MF_STRING, 21, "w3");
        AppendMenuA(waves, MF_STRING | MF_MENUBARBREAK, 22, "w4");
        AppendMenuA(top, MF_POPUP, static_cast<uintptr_t>(waves), "&Waveform");
        HMENU edit = CreatePopupMenu();
        AppendMenuA(edit, MF_STRING, 83, "Evaluate");
        AppendMenuA(edit, MF_STRING | MF_GRAYED, 3, "Mix Paste");
        AppendMenuA(edit, MF_SEPARATOR, 0, nullptr);
        AppendMenuA(edit, MF_STRING, 82, "&Rename");
        AppendMenuA(top, MF_POPUP, static_cast<uintptr_t>(edit), "Edit");
        AppendMenuA(top, MF_SEPARATOR, 0, nullptr);
        AppendMenuA(top, MF_STRING, 1, "Copy_all");
    }
    void TearDown() override {
        if (top) DestroyMenu(top);
        GtkUserTest::TearDown();
    }
    UINT track() { return static_cast<UINT>(TrackPopupMenu(top, TPM_RETURNCMD, 10, 10, 0, owner, nullptr)); }
};

TEST_F(MenuTest, TreeHasMarksGrayedItemsSeparatorsSubmenusAndColumns) {
    bool checked = false;
    user.set_shown_hook([&](GtkWidget* menu) {
        checked = true;
        ASSERT_TRUE(GTK_IS_MENU(menu));
        const auto items = children(menu);
        ASSERT_EQ(items.size(), 4u);
        EXPECT_STREQ(gtk_menu_item_get_label(GTK_MENU_ITEM(items[0])), "_Waveform");
        EXPECT_TRUE(GTK_IS_SEPARATOR_MENU_ITEM(items[2]));
        EXPECT_STREQ(gtk_menu_item_get_label(GTK_MENU_ITEM(items[3])), "Copy__all");

        GtkWidget* waves = gtk_menu_item_get_submenu(GTK_MENU_ITEM(items[0]));
        ASSERT_NE(waves, nullptr);
        const auto w = children(waves);
        ASSERT_EQ(w.size(), 5u);
        EXPECT_FALSE(GTK_IS_CHECK_MENU_ITEM(w[0]));
        ASSERT_TRUE(GTK_IS_CHECK_MENU_ITEM(w[1]));
        EXPECT_TRUE(gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(w[1])));
        // Columns: w0 w1 | w2 w3 | w4.
        const int column[] = {0, 0, 1, 1, 2}, row[] = {0, 1, 0, 1, 0};
        for (size_t i = 0; i < w.size(); ++i) {
            EXPECT_EQ(child_int(waves, w[i], "left-attach"), column[i]) << i;
            EXPECT_EQ(child_int(waves, w[i], "top-attach"), row[i]) << i;
        }

        GtkWidget* edit = gtk_menu_item_get_submenu(GTK_MENU_ITEM(items[1]));
        ASSERT_NE(edit, nullptr);
        const auto e = children(edit);
        ASSERT_EQ(e.size(), 4u);
        EXPECT_TRUE(gtk_widget_get_sensitive(e[0]));
        EXPECT_FALSE(gtk_widget_get_sensitive(e[1]));
        EXPECT_TRUE(GTK_IS_SEPARATOR_MENU_ITEM(e[2]));
        EXPECT_STREQ(gtk_menu_item_get_label(GTK_MENU_ITEM(e[3])), "_Rename");
        // The submenu is not open, so its item is activated and the menu closed as a click would.
        gtk_menu_item_activate(GTK_MENU_ITEM(e[3]));
        gtk_menu_shell_cancel(GTK_MENU_SHELL(menu));
    });
    EXPECT_EQ(track(), 82u);
    EXPECT_TRUE(checked);
}

TEST_F(MenuTest, KeyboardChoosesThroughSubmenusSkippingGrayedItemsAndEscapeDismisses) {
    user.set_shown_hook([](GtkWidget*) { person("xdotool key Escape"); });
    EXPECT_EQ(track(), 0u);
    // Down to "Edit", into it, Down past the grayed "Mix Paste" and the separator to "Rename".
    user.set_shown_hook([](GtkWidget*) {
        person("xdotool key --delay 40 Down Down Right Down; sleep 0.5; " + shot("menu") + "; xdotool key Return");
    });
    EXPECT_EQ(track(), 82u);
}

// ---- message boxes -------------------------------------------------------------------------------

TEST_F(GtkUserTest, MessageBoxesShowTheButtonsInOrderAndReturnThePressedOne) {
    const struct {
        UINT type;
        std::vector<int> buttons;
        std::vector<std::string> labels;
    } sets[] = {
        {MB_OK, {IDOK}, {"_OK"}},
        {MB_OKCANCEL, {IDOK, IDCANCEL}, {"_OK", "_Cancel"}},
        {MB_ABORTRETRYIGNORE, {IDABORT, IDRETRY, IDIGNORE}, {"_Abort", "_Retry", "_Ignore"}},
        {MB_YESNOCANCEL, {IDYES, IDNO, IDCANCEL}, {"_Yes", "_No", "_Cancel"}},
        {MB_YESNO, {IDYES, IDNO}, {"_Yes", "_No"}},
        {MB_RETRYCANCEL, {IDRETRY, IDCANCEL}, {"_Retry", "_Cancel"}},
        {MB_CANCELTRYCONTINUE, {IDCANCEL, IDTRYAGAIN, IDCONTINUE}, {"_Cancel", "_Try Again", "_Continue"}},
    };
    for (const auto& set : sets)
        for (size_t press = 0; press < set.buttons.size(); ++press) {
            SCOPED_TRACE(testing::Message() << "type " << set.type << " press " << press);
            user.set_shown_hook([&](GtkWidget* box) {
                ASSERT_TRUE(GTK_IS_MESSAGE_DIALOG(box));
                EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(box)), "Caption");
                GtkMessageType type;
                GtkWidget* image = nullptr;
                g_object_get(box, "message-type", &type, "image", &image, nullptr);
                EXPECT_EQ(type, GTK_MESSAGE_WARNING);
                ASSERT_TRUE(image && GTK_IS_IMAGE(image));
                const gchar* icon = nullptr;
                gtk_image_get_icon_name(GTK_IMAGE(image), &icon, nullptr);
                EXPECT_STREQ(icon, "dialog-warning");
                g_object_unref(image);
                GtkWidget* first = gtk_dialog_get_widget_for_response(GTK_DIALOG(box), set.buttons[0]);
                ASSERT_NE(first, nullptr);
                std::vector<std::string> labels;
                for (GtkWidget* b : children(gtk_widget_get_parent(first)))
                    if (GTK_IS_BUTTON(b)) labels.push_back(gtk_button_get_label(GTK_BUTTON(b)));
                EXPECT_EQ(labels, set.labels);
                gtk_button_clicked(GTK_BUTTON(gtk_dialog_get_widget_for_response(GTK_DIALOG(box), set.buttons[press])));
            });
            EXPECT_EQ(MessageBoxA(owner, "Text", "Caption", set.type | MB_ICONWARNING), set.buttons[press]);
        }
}

TEST_F(GtkUserTest, MessageBoxKeysReturnTheDefaultAndEscapeClosesOnlyWhereWindowsLetsIt) {
    // Return takes the default button the flags name.
    user.set_shown_hook([](GtkWidget* box) {
        GtkMessageType type;
        g_object_get(box, "message-type", &type, nullptr);
        EXPECT_EQ(type, GTK_MESSAGE_QUESTION);
        person("sleep 0.3; " + shot("message_box") + "; " + pointer_over(box) + " key Return");
    });
    EXPECT_EQ(MessageBoxA(owner, "Replace the bank?", "Save", MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2), IDNO);
    user.set_shown_hook([](GtkWidget* box) { person(pointer_over(box) + " key Escape"); });
    EXPECT_EQ(MessageBoxA(owner, "Save first?", "Quit", MB_YESNOCANCEL | MB_DEFBUTTON1), IDCANCEL);
    // A Yes/No box cannot be closed: Escape leaves it up, Return then answers Yes.
    user.set_shown_hook([](GtkWidget* box) { person(pointer_over(box) + " key --delay 100 Escape Return"); });
    EXPECT_EQ(MessageBoxA(owner, "Sure?", "Quit", MB_YESNO), IDYES);
}

// ---- dialogs from templates -----------------------------------------------------------------------

std::vector<std::string> g_messages;
std::string g_name;

INT_PTR name_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    if (message != WM_COMMAND) return 0;
    g_messages.push_back(std::to_string(LOWORD(wparam)) + "/" + std::to_string(HIWORD(wparam)));
    if (LOWORD(wparam) == IDOK) {
        char text[64];
        GetDlgItemTextA(dialog, tallisk::kIdNameEdit, text, sizeof text);
        g_name = text;
    }
    if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) EndDialog(dialog, LOWORD(wparam));
    return 1;
}

// The widget's top-left corner and size in the dialog's layout.
GdkRectangle placed(GtkWidget* widget, GtkWidget* layout) {
    GdkRectangle r{0, 0, 0, 0};
    gtk_widget_translate_coordinates(widget, layout, 0, 0, &r.x, &r.y);
    r.width = gtk_widget_get_allocated_width(widget);
    r.height = gtk_widget_get_allocated_height(widget);
    return r;
}

TEST_F(GtkUserTest, TemplateDialogIsLaidOutFromDialogUnitsAndTypingGivesTheScriptedMessages) {
    const DialogTemplate& t = tallisk::preset_name_template();
    const DialogBaseUnits base = dialog_base_units(t.font, t.font_size);
    EXPECT_GE(base.x, 4);
    EXPECT_LE(base.x, 12);
    EXPECT_GE(base.y, 8);
    EXPECT_LE(base.y, 24);

    user.set_shown_hook([&](GtkWidget* window) {
        ASSERT_TRUE(GTK_IS_WINDOW(window));
        EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(window)), "Preset name");
        GtkWidget* layout = gtk_bin_get_child(GTK_BIN(window));
        EXPECT_EQ(gtk_widget_get_allocated_width(layout), dialog_units_to_x(t.width, base));
        EXPECT_EQ(gtk_widget_get_allocated_height(layout), dialog_units_to_y(t.height, base));
        const auto widgets = children(layout);
        ASSERT_EQ(widgets.size(), t.controls.size());
        GtkWidget* edit = nullptr;
        for (size_t i = 0; i < widgets.size(); ++i) {
            const DialogControl& c = t.controls[i];
            EXPECT_EQ(gtk_widget_get_visible(widgets[i]), !c.hidden) << i;
            if (c.hidden) continue;
            const GdkRectangle r = placed(widgets[i], layout);
            EXPECT_EQ(r.x, dialog_units_to_x(c.x, base)) << i;
            EXPECT_EQ(r.y, dialog_units_to_y(c.y, base)) << i;
            EXPECT_EQ(r.width, dialog_units_to_x(c.width, base)) << i;
            EXPECT_EQ(r.height, dialog_units_to_y(c.height, base)) << i;
            if (c.id == tallisk::kIdNameEdit) edit = widgets[i];
        }
        ASSERT_NE(edit, nullptr);
        // Click into the edit, type, look, press Return.
        int x = 0, y = 0;
        gdk_window_get_origin(gtk_widget_get_window(window), &x, &y);
        const GdkRectangle r = placed(edit, window);
        person("xdotool mousemove " + std::to_string(x + r.x + 10) + " " + std::to_string(y + r.y + r.height / 2) +
               " click 1 type --delay 30 Bright; sleep 0.5; " + shot("dialog") + "; xdotool key Return");
    });
    g_messages.clear();
    EXPECT_EQ(DialogBoxIndirectParamA(0, &t, owner, name_proc, 0), IDOK);
    EXPECT_EQ(g_name, "Bright");
    const std::vector<std::string> live = g_messages;
    EXPECT_EQ(live, (std::vector<std::string>{"1000/768", "1000/768", "1000/768", "1000/768", "1000/768", "1000/768", "1/0"}));

    // The scripted user's run of the same: one change for the whole text, then Return. The
    // handler sees the same kinds of messages in the same order.
    ScriptedUser script;
    ScopedUser scripted(&script);
    DialogAction type{DialogAction::Kind::SetText, tallisk::kIdNameEdit, "Bright", 0};
    script.run_dialog({type, DialogAction{DialogAction::Kind::Enter, 0, {}, 0}});
    g_messages.clear();
    EXPECT_EQ(DialogBoxIndirectParamA(0, &t, owner, name_proc, 0), IDOK);
    std::vector<std::string> collapsed = live;
    collapsed.erase(std::unique(collapsed.begin(), collapsed.end()), collapsed.end());
    EXPECT_EQ(g_messages, collapsed);
    EXPECT_EQ(g_name, "Bright");
}

constexpr int kCheck = 1044, kSlider = 1007, kEdit = 1000, kStatus = 1100, kMemo = 1042;
const DialogTemplate kControls{900, "Controls", 200, 120, "MS Sans Serif", 8,
                               {{IDOK, ControlKind::DefPushButton, "OK", 10, 100, 50, 14},
                                {IDCANCEL, ControlKind::PushButton, "Cancel", 70, 100, 50, 14},
                                {-1, ControlKind::GroupBox, "Options", 5, 5, 190, 90},
                                {kCheck, ControlKind::CheckBox, "&Normalized", 10, 15, 80, 10},
                                {kSlider, ControlKind::Trackbar, "", 10, 30, 100, 18, TBS_BOTH | TBS_NOTICKS},
                                {kEdit, ControlKind::Edit, "", 10, 50, 80, 12, ES_AUTOHSCROLL},
                                {kStatus, ControlKind::Static, "none", 100, 15, 80, 8},
                                {kMemo, ControlKind::Edit, "", 100, 30, 90, 40, ES_MULTILINE | ES_WANTRETURN}}};

INT_PTR controls_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        SetDlgItemTextA(dialog, kEdit, "start");
        SetDlgItemTextA(dialog, kMemo, "a\r\nb");
        SendDlgItemMessageA(dialog, kSlider, TBM_SETRANGE, 1, MAKELPARAM(0, 50));
        SendDlgItemMessageA(dialog, kSlider, TBM_SETPOS, 1, 10);
        EnableWindow(GetDlgItem(dialog, kEdit), 0);
        return 1;
    case WM_COMMAND:
        g_messages.push_back(std::to_string(LOWORD(wparam)) + "/" + std::to_string(HIWORD(wparam)));
        if (LOWORD(wparam) == kCheck) {
            const bool on = IsDlgButtonChecked(dialog, kCheck) == BST_CHECKED;
            EnableWindow(GetDlgItem(dialog, kEdit), on);
            SetDlgItemTextA(dialog, kStatus, on ? "on" : "off");
        }
        if (LOWORD(wparam) == kMemo) {
            char text[64];
            GetDlgItemTextA(dialog, kMemo, text, sizeof text);
            g_name = text;
        }
        if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) EndDialog(dialog, LOWORD(wparam));
        return 1;
    case WM_HSCROLL:
        g_messages.push_back("scroll " + std::to_string(LOWORD(wparam)) + "/" + std::to_string(HIWORD(wparam)));
        if (LOWORD(wparam) == TB_ENDTRACK)
            SetDlgItemInt(dialog, kStatus, static_cast<UINT>(SendDlgItemMessageA(dialog, kSlider, TBM_GETPOS, 0, 0)), 0);
        return 1;
    case WM_CLOSE:
        g_messages.push_back("close");
        return 0;
    default:
        return 0;
    }
}

TEST_F(GtkUserTest, DialogShowsTheHandlersStateAndReportsChecksSlidersAndClosing) {
    GtkWidget* check = nullptr;
    GtkWidget* slider = nullptr;
    GtkWidget* edit = nullptr;
    GtkWidget* status = nullptr;
    GtkWidget* memo = nullptr;
    GtkWidget* window = nullptr;
    user.set_shown_hook([&](GtkWidget* w) {
        window = w;
        const auto widgets = children(gtk_bin_get_child(GTK_BIN(w)));
        ASSERT_EQ(widgets.size(), kControls.controls.size());
        check = widgets[3], slider = widgets[4], edit = widgets[5], status = widgets[6];
        memo = gtk_bin_get_child(GTK_BIN(widgets[7]));
        // What WM_INITDIALOG set is on screen.
        EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(edit)), "start");
        EXPECT_FALSE(gtk_widget_get_sensitive(edit));
        EXPECT_EQ(gtk_range_get_value(GTK_RANGE(slider)), 10.0);
        EXPECT_EQ(gtk_adjustment_get_upper(gtk_range_get_adjustment(GTK_RANGE(slider))), 50.0);
        GtkTextIter start, end;
        GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(memo));
        gtk_text_buffer_get_bounds(buffer, &start, &end);
        gchar* text = gtk_text_buffer_get_text(buffer, &start, &end, FALSE);
        EXPECT_STREQ(text, "a\nb");
        g_free(text);
        gtk_button_clicked(GTK_BUTTON(check));
        after(150, [&] {
            // The handler enabled the edit and wrote its status.
            EXPECT_TRUE(gtk_widget_get_sensitive(edit));
            EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(status)), "on");
            gtk_range_set_value(GTK_RANGE(slider), 30);
            after(150, [&] {
                EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(status)), "30");
                gtk_text_buffer_insert_at_cursor(gtk_text_view_get_buffer(GTK_TEXT_VIEW(memo)), "c\n", -1);
                after(150, [&] {
                    screenshot("dialog_controls");
                    gtk_window_close(GTK_WINDOW(window));
                });
            });
        });
    });
    g_messages.clear();
    EXPECT_EQ(DialogBoxIndirectParamA(0, &kControls, owner, controls_proc, 0), IDCANCEL);
    EXPECT_EQ(g_messages, (std::vector<std::string>{"1044/0", "scroll 5/30", "scroll 8/0", "1042/768", "close", "2/0"}));
    EXPECT_EQ(g_name, "a\r\nbc\r\n");  // Windows line breaks
}

int g_box = 0;

INT_PTR asking_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    if (message != WM_COMMAND) return 0;
    if (LOWORD(wparam) == IDOK) g_box = MessageBoxA(dialog, "Sure?", "Question", MB_YESNO | MB_DEFBUTTON2);
    if (LOWORD(wparam) == IDCANCEL) EndDialog(dialog, IDCANCEL);
    return 1;
}

// A host that must quit while a module waits for the person: the box above the dialog answers
// its default (Yes/No boxes cannot be closed), the dialog is closed, and nothing stays busy.
TEST_F(GtkUserTest, DismissAllEndsNestedRequestsAsAPersonGivingUp) {
    const DialogTemplate& t = tallisk::preset_name_template();
    user.set_shown_hook([&](GtkWidget* w) {
        if (GTK_IS_MESSAGE_DIALOG(w)) {
            EXPECT_TRUE(user.busy());
            user.dismiss_all();
        } else {
            gtk_button_clicked(GTK_BUTTON(children(gtk_bin_get_child(GTK_BIN(w)))[0]));  // OK
        }
    });
    g_box = 0;
    EXPECT_EQ(DialogBoxIndirectParamA(0, &t, owner, asking_proc, 0), IDCANCEL);
    EXPECT_EQ(g_box, IDNO);
    EXPECT_FALSE(user.busy());
    // Later requests reach the person again.
    user.set_shown_hook([](GtkWidget* box) { gtk_dialog_response(GTK_DIALOG(box), IDYES); });
    EXPECT_EQ(MessageBoxA(owner, "Again?", "Question", MB_YESNO | MB_DEFBUTTON2), IDYES);
}

// ---- choosers ------------------------------------------------------------------------------------

std::vector<std::string> filter_names(GtkFileChooser* chooser) {
    std::vector<std::string> names;
    GSList* list = gtk_file_chooser_list_filters(chooser);
    for (GSList* l = list; l; l = l->next) names.push_back(gtk_file_filter_get_name(GTK_FILE_FILTER(l->data)));
    g_slist_free(list);
    return names;
}

TEST_F(GtkUserTest, SaveChooserStartsWhereAskedAddsTheExtensionAndAsksBeforeReplacing) {
    const fs::path dir = fs::path(MV_BINARY_DIR) / "gtk_chooser_test";
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::ofstream(dir / "old.wb1") << "bank";
    char path[512] = "new";
    OPENFILENAMEA ofn;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = "Wave banks\0*.wb1\0All files\0*.*\0";
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = path;
    ofn.nMaxFile = sizeof path;
    const std::string initial = dir.string();
    ofn.lpstrInitialDir = initial.c_str();
    ofn.lpstrDefExt = "wb1";
    ofn.Flags = OFN_OVERWRITEPROMPT;
    ofn.lpstrTitle = "Save bank";

    user.set_shown_hook([&](GtkWidget* w) {
        ASSERT_TRUE(GTK_IS_FILE_CHOOSER_DIALOG(w));
        GtkFileChooser* chooser = GTK_FILE_CHOOSER(w);
        EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(w)), "Save bank");
        EXPECT_EQ(gtk_file_chooser_get_action(chooser), GTK_FILE_CHOOSER_ACTION_SAVE);
        EXPECT_EQ(filter_names(chooser), (std::vector<std::string>{"Wave banks", "All files"}));
        EXPECT_STREQ(gtk_file_filter_get_name(gtk_file_chooser_get_filter(chooser)), "Wave banks");
        gchar* folder = gtk_file_chooser_get_current_folder(chooser);
        EXPECT_EQ(fs::path(folder ? folder : ""), dir);
        g_free(folder);
        gchar* name = gtk_file_chooser_get_current_name(chooser);
        EXPECT_STREQ(name, "new");
        g_free(name);
        gtk_file_chooser_set_current_name(chooser, "mine");
        gtk_dialog_response(GTK_DIALOG(w), GTK_RESPONSE_ACCEPT);
    });
    EXPECT_EQ(GetSaveFileNameA(&ofn), 1);
    EXPECT_EQ(fs::path(path), dir / "mine.wb1");

    // An existing file: the question comes as a real message box; No keeps the file.
    int boxes = 0;
    for (int answer : {IDNO, IDYES}) {
        user.set_shown_hook([&](GtkWidget* w) {
            if (GTK_IS_FILE_CHOOSER_DIALOG(w)) {
                gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(w), "old");
                gtk_dialog_response(GTK_DIALOG(w), GTK_RESPONSE_ACCEPT);
            } else {
                ASSERT_TRUE(GTK_IS_MESSAGE_DIALOG(w));
                ++boxes;
                gtk_dialog_response(GTK_DIALOG(w), answer);
            }
        });
        EXPECT_EQ(GetSaveFileNameA(&ofn), answer == IDYES ? 1 : 0);
    }
    EXPECT_EQ(boxes, 2);
    EXPECT_EQ(fs::path(path), dir / "old.wb1");
    fs::remove_all(dir);
}

TEST_F(GtkUserTest, OpenChooserRefusesAMissingFileAndKeepsAsking) {
    const fs::path dir = fs::path(MV_BINARY_DIR) / "gtk_open_test";
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::ofstream(dir / "bank.wb1") << "bank";
    char path[512] = "";
    OPENFILENAMEA ofn;
    ofn.lpstrFile = path;
    ofn.nMaxFile = sizeof path;
    ofn.lpstrFilter = "Wave banks\0*.WB1\0";
    ofn.Flags = OFN_FILEMUSTEXIST;
    const std::string initial = dir.string();
    ofn.lpstrInitialDir = initial.c_str();
    std::vector<std::string> refused;
    user.set_shown_hook([&](GtkWidget* w) {
        if (GTK_IS_MESSAGE_DIALOG(w)) {
            gchar* text = nullptr;
            g_object_get(w, "text", &text, nullptr);
            refused.push_back(text ? text : "");
            g_free(text);
            gtk_dialog_response(GTK_DIALOG(w), GTK_RESPONSE_OK);
            return;
        }
        // Typed into the location field as a person would, names relative to the folder the
        // chooser opened in: first a file that is not there, then the bank.
        person(pointer_over(w) + " key ctrl+l; xdotool type --delay 60 gone.wb1; sleep 1; " + shot("open_typed") +
               "; xdotool key Return; sleep 1.5; xdotool key ctrl+a; xdotool type --delay 60 bank.wb1; sleep 1;"
               " xdotool key Return");
    });
    EXPECT_EQ(GetOpenFileNameA(&ofn), 1);
    EXPECT_EQ(fs::path(path), dir / "bank.wb1");
    EXPECT_EQ(refused, (std::vector<std::string>{(dir / "gone.wb1").string()}));
    fs::remove_all(dir);
}

TEST_F(GtkUserTest, ColorChooserStartsAtTheInitialColourAndReturnsTheChosenOne) {
    COLORREF custom[16];
    for (int i = 0; i < 16; ++i) custom[i] = RGB(static_cast<BYTE>(i * 16), 0, 0);
    CHOOSECOLORA cc;
    cc.lpCustColors = custom;
    cc.rgbResult = RGB(255, 0, 0);
    cc.Flags = CC_RGBINIT;
    user.set_shown_hook([](GtkWidget* w) {
        ASSERT_TRUE(GTK_IS_COLOR_CHOOSER_DIALOG(w));
        GdkRGBA c;
        gtk_color_chooser_get_rgba(GTK_COLOR_CHOOSER(w), &c);
        EXPECT_EQ(c.red, 1.0);
        EXPECT_EQ(c.green, 0.0);
        const GdkRGBA pick{0.0, 128 / 255.0, 1.0, 1.0};
        gtk_color_chooser_set_rgba(GTK_COLOR_CHOOSER(w), &pick);
        gtk_dialog_response(GTK_DIALOG(w), GTK_RESPONSE_OK);
    });
    EXPECT_EQ(ChooseColorA(&cc), 1);
    EXPECT_EQ(cc.rgbResult, RGB(0, 128, 255));
    user.set_shown_hook([](GtkWidget* w) { gtk_dialog_response(GTK_DIALOG(w), GTK_RESPONSE_CANCEL); });
    EXPECT_EQ(ChooseColorA(&cc), 0);
    EXPECT_EQ(cc.rgbResult, RGB(0, 128, 255));
}

// ---- cursors and threads -------------------------------------------------------------------------

TEST_F(GtkUserTest, CursorsReachTheHostAsGdkNames) {
    std::vector<std::string> names;
    user.set_cursor_hook([&](HCURSOR, const char* name) { names.push_back(name); });
    const HINSTANCE library = module_instance(reinterpret_cast<const void*>(&SetCursor));
    ASSERT_NE(library, 0u);
    SetCursor(LoadCursorA(0, IDC_HAND));
    SetCursor(LoadCursorA(library, 109));
    SetCursor(LoadCursorA(library, 106));
    SetCursor(LoadCursorA(0, IDC_ARROW));
    EXPECT_EQ(names, (std::vector<std::string>{"pointer", "crosshair", "zoom-in", "default"}));
    EXPECT_STREQ(user.cursor_name(), "default");
    // Every name is one GDK knows on this display.
    for (const std::string& n : names) {
        GdkCursor* cursor = gdk_cursor_new_from_name(gdk_display_get_default(), n.c_str());
        EXPECT_NE(cursor, nullptr) << n;
        if (cursor) g_object_unref(cursor);
    }
}

TEST_F(GtkUserTest, RequestsFromAnotherThreadGetTheDefaultAnswer) {
    int answer = 0;
    std::thread([&] { answer = MessageBoxA(owner, "From audio", "Wrong", MB_YESNO | MB_DEFBUTTON2); }).join();
    EXPECT_EQ(answer, IDNO);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new XServer);
    return RUN_ALL_TESTS();
}
