// The person in front of the panels. Every user-interface request (message box, popup menu,
// file or colour chooser, dialog) is passed to the installed User, which answers as a person
// would. Hosts and tests install one (ScriptedUser answers from a script and logs everything);
// without one, message boxes answer their default button, choosers cancel, menus are dismissed
// and dialogs are closed.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "mvp/dialog.h"
#include "mvp/win_types.h"

namespace mvp {

struct MessageBoxRequest {
    HWND owner = 0;
    std::string text;
    std::string caption;
    UINT type = 0;  // MB_* flags

    // Buttons shown, left to right (IDOK, IDYES, ...); empty for an invalid button set.
    std::vector<int> buttons() const;
    int default_button() const;
    // "none", "error", "question", "warning" or "information".
    const char* icon() const;
};
// "OK", "Cancel", "Abort", "Retry", "Ignore", "Yes", "No", "Try Again", "Continue"; null if unknown.
const char* button_name(int id);
int button_id(const std::string& name);  // 0 when unknown

struct MenuItem {
    UINT flags = 0;  // MF_* as appended or changed
    UINT id = 0;     // command id (0 for popups and separators)
    std::string text;
    std::vector<MenuItem> submenu;

    bool separator() const;
    bool popup() const;
    bool checked() const;
    bool grayed() const;  // MF_GRAYED or MF_DISABLED: a person cannot choose it
    // "column" (MF_MENUBREAK), "bar" (MF_MENUBARBREAK) or "" when the item continues its column.
    const char* column_break() const;
};

struct MenuRequest {
    HWND owner = 0;
    POINT at;
    UINT flags = 0;  // TPM_*
    std::vector<MenuItem> items;

    // The command item with `id` (searching submenus), or null.
    const MenuItem* find_command(UINT id) const;
    // Whether a person can reach and choose `id`: it exists, and neither it nor a submenu on the
    // way is grayed.
    bool choosable(UINT id) const;
    // Follows item texts from the top level ('&' marks and text after a tab are ignored). On
    // success returns the command id; otherwise 0 and *why says what stopped the walk.
    UINT resolve_path(const std::vector<std::string>& path, std::string* why) const;
};

struct FileFilter {
    std::string description;
    std::string pattern;
};

struct FileRequest {
    bool save = false;
    HWND owner = 0;
    std::string title;
    std::vector<FileFilter> filters;
    int filter_index = 1;  // 1-based
    std::string initial_dir;
    std::string initial_file;
    std::string default_ext;
    size_t buffer_size = 0;  // characters, NUL included
    DWORD flags = 0;         // OFN_*

    // The path a person typing `answer` ends up with: relative names resolve against the start
    // folder (or its parent when it names a file), the default extension is added to a name
    // without one.
    std::string resolve(const std::string& answer) const;
    // Why the dialog would not accept `path` (missing file or folder, too long for the buffer);
    // empty when it would.
    std::string refusal(const std::string& path) const;
};

struct ColorRequest {
    HWND owner = 0;
    COLORREF initial = 0;
    DWORD flags = 0;  // CC_*
    std::array<COLORREF, 16> custom{};
};

struct ColorAnswer {
    COLORREF color = 0;
    std::optional<std::array<COLORREF, 16>> custom;  // when the person edited the custom colours
};

struct DialogControlState {
    DialogControl control;  // as in the template
    std::string text;       // current text
    bool checked = false;
    int position = 0, range_min = 0, range_max = 100;
    bool enabled = true;
    bool visible = true;
};

struct DialogState {
    HWND dialog = 0;
    HWND owner = 0;
    int template_id = 0;
    std::string caption;
    int width = 0, height = 0;  // dialog units
    std::string font = "MS Sans Serif";
    int font_size = 8;
    std::vector<DialogControlState> controls;

    const DialogControlState* find(int id) const;
    const DialogControlState* default_button() const;
};

struct DialogAction {
    enum class Kind { SetText, SetCheck, SetPosition, Press, Enter, Close };
    Kind kind = Kind::Close;
    int id = 0;
    std::string text;
    int value = 0;

    // Why a person could not do this in `dialog` (no such control, hidden, disabled, wrong
    // kind); empty when they could.
    std::string refusal(const DialogState& dialog) const;
};

class User {
public:
    virtual ~User() = default;
    // The id of the button pressed (one of request.buttons()).
    virtual int message_box(const MessageBoxRequest& request) = 0;
    // The command chosen, or 0 to dismiss.
    virtual UINT track_menu(const MenuRequest& request) = 0;
    // The path typed or picked (see FileRequest::resolve), or nothing to cancel.
    virtual std::optional<std::string> choose_file(const FileRequest& request) = 0;
    virtual std::optional<ColorAnswer> choose_color(const ColorRequest& request) = 0;
    // A dialog after WM_INITDIALOG, then one action at a time until it ends.
    virtual void dialog_shown(const DialogState& dialog) { (void)dialog; }
    virtual DialogAction dialog_action(const DialogState& dialog) = 0;
    virtual void dialog_closed(const DialogState& dialog, INT_PTR result) { (void)dialog, (void)result; }
    virtual void cursor_changed(HCURSOR cursor, HINSTANCE instance, int resource_id) {
        (void)cursor, (void)instance, (void)resource_id;
    }
};

// Installs the user for the whole process (null: the default answers). Returns the previous one.
// The caller keeps ownership and must uninstall before destroying it.
User* set_user(User* user);
User* current_user();  // never null: this thread's user if it keeps its own, else the process's

// Makes the calling thread keep users of its own: from now on set_user on this thread installs
// for this thread alone, and current_user on it never sees another thread's. A plug-in that runs
// its GUI objects on a thread of its own calls it there, so that several plug-ins in one host
// process each have their own user (their own scripted answers, their own message log).
void keep_users_on_this_thread();

}  // namespace mvp

namespace mvp {

// Installs a user for the lifetime of the guard and puts the previous one back after.
class ScopedUser {
public:
    explicit ScopedUser(User* user) : m_previous(set_user(user)) {}
    ~ScopedUser() { set_user(m_previous); }
    ScopedUser(const ScopedUser&) = delete;
    ScopedUser& operator=(const ScopedUser&) = delete;

private:
    User* m_previous;
};

}  // namespace mvp
