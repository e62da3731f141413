// The installed user, the default answers, and the helpers on requests that both the platform
// and user implementations rely on.
#include "mvp/user.h"

#include <atomic>
#include <filesystem>
#include <utility>

#include "mvp/common_dialogs.h"
#include "mvp/menu.h"
#include "mvp/message_box.h"
#if defined(_WIN32)
#include "../win32/system_user.h"
#endif

namespace mvp {

namespace {

class DefaultUser : public User {
public:
    int message_box(const MessageBoxRequest& r) override { return r.default_button(); }
    UINT track_menu(const MenuRequest&) override { return 0; }
    std::optional<std::string> choose_file(const FileRequest&) override { return std::nullopt; }
    std::optional<ColorAnswer> choose_color(const ColorRequest&) override { return std::nullopt; }
    DialogAction dialog_action(const DialogState&) override { return DialogAction{}; }
};

std::atomic<User*> g_user{nullptr};
thread_local bool t_own_users = false;
thread_local User* t_user = nullptr;

std::string strip_marks(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\t') break;
        if (text[i] == '&') {
            if (i + 1 < text.size() && text[i + 1] == '&') out += '&', ++i;
            continue;
        }
        out += text[i];
    }
    return out;
}

const MenuItem* find_in(const std::vector<MenuItem>& items, UINT id, bool require_enabled) {
    for (const MenuItem& item : items) {
        if (require_enabled && item.grayed()) continue;
        if (item.popup()) {
            if (const MenuItem* found = find_in(item.submenu, id, require_enabled)) return found;
        } else if (!item.separator() && item.id == id) {
            return &item;
        }
    }
    return nullptr;
}

}  // namespace

User* set_user(User* user) {
    if (t_own_users) return std::exchange(t_user, user);
    return g_user.exchange(user);
}

void keep_users_on_this_thread() { t_own_users = true; }

User* current_user() {
    static DefaultUser fallback;
    User* u = t_own_users ? t_user : g_user.load();
#if defined(_WIN32)
    if (!u) u = detail::system_user();
#endif
    return u ? u : &fallback;
}

#if defined(_WIN32)
User* installed_user() { return g_user.load(); }
#endif

// ---- message boxes -------------------------------------------------------------------------------

std::vector<int> MessageBoxRequest::buttons() const {
    switch (type & MB_TYPEMASK) {
    case MB_OK: return {IDOK};
    case MB_OKCANCEL: return {IDOK, IDCANCEL};
    case MB_ABORTRETRYIGNORE: return {IDABORT, IDRETRY, IDIGNORE};
    case MB_YESNOCANCEL: return {IDYES, IDNO, IDCANCEL};
    case MB_YESNO: return {IDYES, IDNO};
    case MB_RETRYCANCEL: return {IDRETRY, IDCANCEL};
    case MB_CANCELTRYCONTINUE: return {IDCANCEL, IDTRYAGAIN, IDCONTINUE};
    default: return {};
    }
}

int MessageBoxRequest::default_button() const {
    const std::vector<int> b = buttons();
    if (b.empty()) return 0;
    const size_t n = (type & MB_DEFMASK) >> 8;
    return n < b.size() ? b[n] : b[0];
}

const char* MessageBoxRequest::icon() const {
    switch (type & MB_ICONMASK) {
    case MB_ICONERROR: return "error";
    case MB_ICONQUESTION: return "question";
    case MB_ICONWARNING: return "warning";
    case MB_ICONINFORMATION: return "information";
    default: return "none";
    }
}

const char* button_name(int id) {
    switch (id) {
    case IDOK: return "OK";
    case IDCANCEL: return "Cancel";
    case IDABORT: return "Abort";
    case IDRETRY: return "Retry";
    case IDIGNORE: return "Ignore";
    case IDYES: return "Yes";
    case IDNO: return "No";
    case IDTRYAGAIN: return "Try Again";
    case IDCONTINUE: return "Continue";
    default: return nullptr;
    }
}

int button_id(const std::string& name) {
    for (int id : {IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO, IDTRYAGAIN, IDCONTINUE})
        if (name == button_name(id)) return id;
    return 0;
}

// ---- menus -----------------------------------------------------------------------------------------

bool MenuItem::separator() const { return (flags & MF_SEPARATOR) != 0; }
bool MenuItem::popup() const { return (flags & MF_POPUP) != 0; }
bool MenuItem::checked() const { return (flags & MF_CHECKED) != 0; }
bool MenuItem::grayed() const { return (flags & (MF_GRAYED | MF_DISABLED)) != 0; }
const char* MenuItem::column_break() const {
    if (flags & MF_MENUBARBREAK) return "bar";
    if (flags & MF_MENUBREAK) return "column";
    return "";
}

const MenuItem* MenuRequest::find_command(UINT id) const { return find_in(items, id, false); }
bool MenuRequest::choosable(UINT id) const { return id != 0 && find_in(items, id, true) != nullptr; }

UINT MenuRequest::resolve_path(const std::vector<std::string>& path, std::string* why) const {
    const std::vector<MenuItem>* level = &items;
    for (size_t i = 0; i < path.size(); ++i) {
        const MenuItem* hit = nullptr;
        for (const MenuItem& item : *level)
            if (!item.separator() && (item.text == path[i] || strip_marks(item.text) == path[i])) {
                hit = &item;
                break;
            }
        const bool last = i + 1 == path.size();
        std::string problem;
        if (!hit)
            problem = "no item \"" + path[i] + "\"";
        else if (hit->grayed())
            problem = "\"" + path[i] + "\" is grayed";
        else if (!last && !hit->popup())
            problem = "\"" + path[i] + "\" has no submenu";
        else if (last && hit->popup())
            problem = "\"" + path[i] + "\" opens a submenu";
        if (!problem.empty()) {
            if (why) *why = problem;
            return 0;
        }
        if (last) return hit->id;
        level = &hit->submenu;
    }
    if (why) *why = "empty path";
    return 0;
}

// ---- files -----------------------------------------------------------------------------------------

std::string FileRequest::resolve(const std::string& answer) const {
    namespace fs = std::filesystem;
    fs::path p(answer);
    if (p.is_relative() && !initial_dir.empty()) {
        std::error_code ec;
        fs::path base(initial_dir);
        if (!fs::is_directory(base, ec)) base = base.parent_path();
        p = base / p;
    }
    if (!default_ext.empty() && !p.filename().empty() && !p.has_extension()) p += "." + default_ext;
    return p.string();
}

std::string FileRequest::refusal(const std::string& path) const {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (path.empty()) return "empty file name";
    const fs::path p(path);
    if (p.filename().empty()) return "no file name";
    const bool must_exist = !save && (flags & OFN_FILEMUSTEXIST);
    if (must_exist && !fs::is_regular_file(p, ec)) return "file does not exist";
    if ((flags & (OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST)) && p.has_parent_path() &&
        !fs::is_directory(p.parent_path(), ec))
        return "folder does not exist";
    if (path.size() + 1 > buffer_size) return "path longer than the buffer";
    return {};
}

// ---- dialogs ---------------------------------------------------------------------------------------

const DialogControlState* DialogState::find(int id) const {
    for (const auto& c : controls)
        if (c.control.id == id) return &c;
    return nullptr;
}

const DialogControlState* DialogState::default_button() const {
    for (const auto& c : controls)
        if (c.control.kind == ControlKind::DefPushButton) return &c;
    return nullptr;
}

std::string DialogAction::refusal(const DialogState& dialog) const {
    if (kind == Kind::Close) return {};
    const DialogControlState* c = kind == Kind::Enter ? dialog.default_button() : dialog.find(id);
    // Return in a dialog without a default button still sends IDOK.
    if (!c && kind == Kind::Enter) return {};
    if (!c) return "no control " + std::to_string(id);
    if (!c->visible) return "control " + std::to_string(c->control.id) + " is hidden";
    if (!c->enabled) return "control " + std::to_string(c->control.id) + " is disabled";
    const ControlKind k = c->control.kind;
    switch (kind) {
    case Kind::SetText:
        if (k != ControlKind::Edit) return "control " + std::to_string(id) + " is not an edit";
        if (c->control.style & ES_READONLY) return "edit " + std::to_string(id) + " is read-only";
        return {};
    case Kind::SetCheck:
        return k == ControlKind::CheckBox ? std::string() : "control " + std::to_string(id) + " is not a check box";
    case Kind::SetPosition:
        return k == ControlKind::Trackbar ? std::string() : "control " + std::to_string(id) + " is not a trackbar";
    case Kind::Press:
    case Kind::Enter:
        if (k == ControlKind::PushButton || k == ControlKind::DefPushButton || k == ControlKind::CheckBox) return {};
        return "control " + std::to_string(c->control.id) + " cannot be pressed";
    default: return {};
    }
}

const char* control_kind_name(ControlKind kind) {
    switch (kind) {
    case ControlKind::PushButton: return "button";
    case ControlKind::DefPushButton: return "default button";
    case ControlKind::Edit: return "edit";
    case ControlKind::Static: return "static";
    case ControlKind::CheckBox: return "check box";
    case ControlKind::GroupBox: return "group box";
    case ControlKind::Trackbar: return "trackbar";
    }
    return "unknown";
}

}  // namespace mvp
