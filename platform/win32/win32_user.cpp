// The person in front of a Windows screen: message boxes, popup menus, the common dialogs and the
// dialogs from the modules' templates are real Windows ones.
#include <array>
#include <map>
#include <cstdio>
#include <cstdlib>

#include "mvp/common_dialogs.h"
#include "mvp/menu.h"
#include "system_user.h"
#include "win32_ui_calls.h"

namespace mvp {

namespace {

std::vector<win32::MenuNode> menu_nodes(const std::vector<MenuItem>& items) {
    std::vector<win32::MenuNode> nodes;
    for (const MenuItem& item : items) nodes.push_back({item.flags, item.id, item.text, menu_nodes(item.submenu)});
    return nodes;
}

std::string filter_list(const std::vector<FileFilter>& filters) {
    std::string list;
    for (const FileFilter& f : filters) {
        list += f.description;
        list += '\0';
        list += f.pattern;
        list += '\0';
    }
    return list;
}

// A test's watchdog ends a program stuck on a box nobody answers; MVP_UI_LOG names a file where
// each request is written before it is shown, so the watchdog can say what was on the screen. One
// line per request (line breaks written as \n): the watchdog reports the last line, which must be
// the whole box, caption included.
void note_request(const std::string& what) {
    const char* path = std::getenv("MVP_UI_LOG");
    if (!path || !*path) return;
    std::string line;
    for (char c : what) {
        if (c == '\n') line += "\\n";
        else if (c != '\r') line += c;
    }
    if (FILE* f = std::fopen(path, "a")) {
        std::fprintf(f, "%s\n", line.c_str());
        std::fclose(f);
    }
}

class Win32User : public User {
public:
    int message_box(const MessageBoxRequest& r) override {
        note_request("message box \"" + r.caption + "\": " + r.text);
        return win32::message_box(r.owner, r.text, r.caption, r.type);
    }
    UINT track_menu(const MenuRequest& r) override {
        note_request("popup menu of " + std::to_string(r.items.size()) + " items");
        return win32::track_menu(r.owner, r.at.x, r.at.y, r.flags, menu_nodes(r.items));
    }
    std::optional<std::string> choose_file(const FileRequest& r) override {
        note_request(std::string(r.save ? "save" : "open") + " file chooser \"" + r.title + "\"");
        win32::FileDialog d;
        d.save = r.save;
        d.owner = r.owner;
        d.title = r.title;
        d.filters = filter_list(r.filters);
        d.filter_index = r.filter_index;
        d.initial_dir = r.initial_dir;
        d.initial_file = r.initial_file;
        d.default_ext = r.default_ext;
        d.flags = r.flags;
        std::string path;
        if (!win32::choose_file(d, &path)) return std::nullopt;
        return path;
    }
    std::optional<ColorAnswer> choose_color(const ColorRequest& r) override {
        note_request("colour chooser");
        std::array<COLORREF, 16> custom = r.custom;
        COLORREF colour = 0;
        if (!win32::choose_color(r.owner, r.initial, r.flags, custom.data(), &colour)) return std::nullopt;
        ColorAnswer answer;
        answer.color = colour & 0xFFFFFF;
        if (custom != r.custom) answer.custom = custom;
        return answer;
    }
    void dialog_shown(const DialogState& state) override {
        note_request("dialog \"" + state.caption + "\"");
        if (void* window = win32::open_dialog(layout_of(state))) m_dialogs[state.dialog] = window;
    }
    DialogAction dialog_action(const DialogState& state) override {
        auto it = m_dialogs.find(state.dialog);
        if (it == m_dialogs.end()) return DialogAction{};  // could not be shown: closed at once
        win32::show_dialog_state(it->second, layout_of(state));
        const win32::DialogInput in = win32::next_dialog_input(it->second);
        DialogAction action;
        action.id = in.id;
        action.text = in.text;
        action.value = in.value;
        switch (in.kind) {
        case win32::DialogInput::SetText: action.kind = DialogAction::Kind::SetText; break;
        case win32::DialogInput::SetCheck: action.kind = DialogAction::Kind::SetCheck; break;
        case win32::DialogInput::SetPosition: action.kind = DialogAction::Kind::SetPosition; break;
        case win32::DialogInput::Press: action.kind = DialogAction::Kind::Press; break;
        case win32::DialogInput::Enter: action.kind = DialogAction::Kind::Enter; break;
        case win32::DialogInput::Close: action.kind = DialogAction::Kind::Close; break;
        }
        return action;
    }
    void dialog_closed(const DialogState& state, INT_PTR) override {
        auto it = m_dialogs.find(state.dialog);
        if (it == m_dialogs.end()) return;
        win32::close_dialog(it->second);
        m_dialogs.erase(it);
    }
    void cursor_changed(HCURSOR cursor, HINSTANCE instance, int resource_id) override {
        if (cursor) win32::show_cursor(instance, resource_id);
        else win32::hide_cursor();
    }

private:
    static win32::DialogLayout layout_of(const DialogState& s) {
        win32::DialogLayout l;
        l.owner = s.owner;
        l.caption = s.caption;
        l.font = s.font;
        l.font_size = s.font_size;
        l.width = s.width;
        l.height = s.height;
        for (const DialogControlState& c : s.controls) {
            win32::DialogItem i;
            i.id = c.control.id;
            i.kind = static_cast<int>(c.control.kind);
            i.text = c.text;
            i.x = c.control.x, i.y = c.control.y, i.width = c.control.width, i.height = c.control.height;
            i.style = c.control.style;
            i.visible = c.visible, i.enabled = c.enabled, i.checked = c.checked;
            i.position = c.position, i.range_min = c.range_min, i.range_max = c.range_max;
            l.items.push_back(std::move(i));
        }
        return l;
    }

    std::map<HWND, void*> m_dialogs;  // the platform's dialog -> its window
};

}  // namespace

namespace detail {

User* system_user() {
    if (void* offered = win32::host_offered_user()) return static_cast<User*>(offered);
    static Win32User person;
    return &person;
}

}  // namespace detail
}  // namespace mvp
