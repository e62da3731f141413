// Popup menus: items with id and text, checked and grayed marks, separators, submenus and column
// breaks; tracking asks the installed user (user.h) which command to run.
#pragma once

#include <cstdint>

#include "mvp/win_types.h"

namespace mvp {

enum : UINT {
    MF_STRING = 0x0, MF_ENABLED = 0x0, MF_UNCHECKED = 0x0, MF_BYCOMMAND = 0x0,
    MF_GRAYED = 0x1, MF_DISABLED = 0x2, MF_CHECKED = 0x8, MF_POPUP = 0x10,
    MF_MENUBARBREAK = 0x20, MF_MENUBREAK = 0x40, MF_BYPOSITION = 0x400, MF_SEPARATOR = 0x800,
};

enum : UINT {
    TPM_LEFTALIGN = 0x0, TPM_CENTERALIGN = 0x4, TPM_RIGHTALIGN = 0x8,
    TPM_TOPALIGN = 0x0, TPM_VCENTERALIGN = 0x10, TPM_BOTTOMALIGN = 0x20,
    TPM_LEFTBUTTON = 0x0, TPM_RIGHTBUTTON = 0x2, TPM_NONOTIFY = 0x80, TPM_RETURNCMD = 0x100,
};

HMENU CreatePopupMenu();
HMENU CreateMenu();
// With MF_POPUP, `id_or_submenu` is the submenu's handle; a submenu belongs to one parent and a
// menu cannot contain itself. `text` is ignored for separators; a null text counts as empty.
BOOL AppendMenuA(HMENU menu, UINT flags, uintptr_t id_or_submenu, const char* text);
inline BOOL AppendMenu(HMENU menu, UINT flags, uintptr_t id_or_submenu, const char* text) {
    return AppendMenuA(menu, flags, id_or_submenu, text);
}
// Return the previous MF_CHECKED / MF_GRAYED|MF_DISABLED state, or -1 (as 0xFFFFFFFF) when the
// item does not exist. MF_BYCOMMAND searches submenus too.
DWORD CheckMenuItem(HMENU menu, UINT item, UINT flags);
BOOL EnableMenuItem(HMENU menu, UINT item, UINT flags);
int GetMenuItemCount(HMENU menu);  // -1 for an unknown menu
HMENU GetSubMenu(HMENU menu, int position);
// Destroys the menu and all its submenus.
BOOL DestroyMenu(HMENU menu);
BOOL IsMenu(HMENU menu);

// Shows the menu at screen point (x, y). The owner must be a window. With TPM_RETURNCMD the
// result is the chosen command id, 0 when the menu was dismissed; without it the result is 1
// when a command was chosen (owner notifications are not modelled) and 0 otherwise.
BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int reserved, HWND owner, const RECT* exclude);

}  // namespace mvp
