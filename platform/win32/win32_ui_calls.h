// The Windows user-interface calls behind the Windows build's person (Win32User), in plain types
// so that the platform's sources never see <windows.h> and its macros.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mvp::win32 {

int message_box(int32_t owner, const std::string& text, const std::string& caption, uint32_t type);

struct MenuNode {
    uint32_t flags = 0;  // MF_* as the module appended them
    uint32_t id = 0;
    std::string text;
    std::vector<MenuNode> items;
};
// A real popup menu at (x, y) screen pixels; the chosen command, or 0.
uint32_t track_menu(int32_t owner, int x, int y, uint32_t flags, const std::vector<MenuNode>& items);

struct FileDialog {
    bool save = false;
    int32_t owner = 0;
    std::string title, filters;  // filters: the double-NUL list
    int filter_index = 1;
    std::string initial_dir, initial_file, default_ext;
    uint32_t flags = 0;  // OFN_*
};
// The path chosen (true), or false when the person cancelled.
bool choose_file(const FileDialog& dialog, std::string* path);

// The colour chosen (true), or false when cancelled; *custom is updated in place.
bool choose_color(int32_t owner, uint32_t initial, uint32_t flags, uint32_t custom[16], uint32_t* color);

// Shows a cursor resource of the DLL or program at `instance`, or a standard IDC_* cursor when
// instance is 0.
void show_cursor(intptr_t instance, int resource_id);
void hide_cursor();

// The user object a host program offers to the modules it loads (see system_user_win32.cpp).
void* host_offered_user();

}  // namespace mvp::win32

namespace mvp::win32 {

// A dialog from a module's template as a real Windows dialog. The platform keeps the dialog's
// state and runs the module's handler; the window shows that state and turns what the person does
// into the platform's actions, one at a time.
struct DialogItem {
    int id = -1;
    int kind = 0;  // the platform's ControlKind, in its order
    std::string text;
    int x = 0, y = 0, width = 0, height = 0;  // dialog units
    uint32_t style = 0;
    bool visible = true, enabled = true, checked = false;
    int position = 0, range_min = 0, range_max = 100;
};
struct DialogLayout {
    int32_t owner = 0;
    std::string caption, font;
    int font_size = 8, width = 0, height = 0;
    std::vector<DialogItem> items;
};
struct DialogInput {
    enum Kind { SetText, SetCheck, SetPosition, Press, Enter, Close } kind = Close;
    int id = 0;
    std::string text;
    int value = 0;
};
void* open_dialog(const DialogLayout& layout);
void show_dialog_state(void* dialog, const DialogLayout& layout);
DialogInput next_dialog_input(void* dialog);
void close_dialog(void* dialog);

}  // namespace mvp::win32
