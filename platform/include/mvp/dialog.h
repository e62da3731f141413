// Modal dialogs from templates that the module defines: controls with id, kind, text, position
// and size in dialog units, a handler receiving the Windows dialog messages, and the item calls
// the handler uses. The installed user (user.h) edits controls and presses buttons.
#pragma once

#include <string>
#include <vector>

#include "mvp/win_types.h"

namespace mvp {

enum : UINT {
    WM_CLOSE = 0x0010, WM_SETTEXT = 0x000C, WM_GETTEXT = 0x000D, WM_GETTEXTLENGTH = 0x000E,
    WM_INITDIALOG = 0x0110, WM_COMMAND = 0x0111, WM_HSCROLL = 0x0114, WM_VSCROLL = 0x0115,
    WM_USER = 0x0400,
    BM_GETCHECK = 0x00F0, BM_SETCHECK = 0x00F1, BM_CLICK = 0x00F5,
    TBM_GETPOS = WM_USER, TBM_GETRANGEMIN = WM_USER + 1, TBM_GETRANGEMAX = WM_USER + 2,
    TBM_SETPOS = WM_USER + 5, TBM_SETRANGE = WM_USER + 6, TBM_SETRANGEMIN = WM_USER + 7,
    TBM_SETRANGEMAX = WM_USER + 8,
};

// Notification codes in the high word of WM_COMMAND's wparam, and trackbar scroll codes in the
// low word of WM_HSCROLL's wparam.
enum : WORD { BN_CLICKED = 0, EN_CHANGE = 0x0300 };
enum : WORD { TB_THUMBPOSITION = 4, TB_THUMBTRACK = 5, TB_ENDTRACK = 8 };
enum : UINT { BST_UNCHECKED = 0, BST_CHECKED = 1 };

// Style bits that change behaviour or are shown in the request log.
enum : UINT {
    ES_MULTILINE = 0x0004, ES_AUTOHSCROLL = 0x0080, ES_READONLY = 0x0800, ES_WANTRETURN = 0x1000,
    ES_NUMBER = 0x2000,
    TBS_VERT = 0x0002, TBS_BOTH = 0x0008, TBS_NOTICKS = 0x0010,
    WS_VSCROLL = 0x00200000, WS_HSCROLL = 0x00100000, WS_DISABLED = 0x08000000,
};

enum class ControlKind { PushButton, DefPushButton, Edit, Static, CheckBox, GroupBox, Trackbar };
const char* control_kind_name(ControlKind kind);

struct DialogControl {
    int id = -1;  // -1 for controls the handler never addresses (statics, group boxes)
    ControlKind kind = ControlKind::Static;
    std::string text;
    int x = 0, y = 0, width = 0, height = 0;  // dialog units
    UINT style = 0;
    bool hidden = false;
};

struct DialogTemplate {
    int resource_id = 0;
    std::string caption;
    int width = 0, height = 0;  // dialog units
    std::string font = "MS Sans Serif";
    int font_size = 8;
    std::vector<DialogControl> controls;
};

using DLGPROC = INT_PTR (*)(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

// Runs the dialog modally: WM_INITDIALOG (lparam = init_param), then the user's actions as
// WM_COMMAND / WM_HSCROLL / WM_VSCROLL / WM_CLOSE until the handler calls EndDialog. Returns
// EndDialog's result, or -1 when the template or handler is missing or the dialog had to be
// ended without the handler's consent (see README).
INT_PTR DialogBoxIndirectParamA(HINSTANCE instance, const DialogTemplate* dialog, HWND owner, DLGPROC handler,
                                LPARAM init_param);
BOOL EndDialog(HWND dialog, INT_PTR result);

HWND GetDlgItem(HWND dialog, int id);
int GetDlgCtrlID(HWND control);
// Copies at most max_count - 1 characters and a NUL; returns the number copied.
UINT GetDlgItemTextA(HWND dialog, int id, char* buffer, int max_count);
BOOL SetDlgItemTextA(HWND dialog, int id, const char* text);
// Decimal text to number, leading blanks skipped, stopping at the first non-digit; *translated
// is 0 when there are no digits or the value does not fit.
UINT GetDlgItemInt(HWND dialog, int id, BOOL* translated, BOOL is_signed);
BOOL SetDlgItemInt(HWND dialog, int id, UINT value, BOOL is_signed);
BOOL CheckDlgButton(HWND dialog, int id, UINT check);
UINT IsDlgButtonChecked(HWND dialog, int id);
BOOL EnableWindow(HWND window, BOOL enable);
enum : int { SW_HIDE = 0, SW_SHOW = 5 };
BOOL ShowWindow(HWND window, int command);
// Text, check and trackbar messages to a control (WM_*TEXT*, BM_*, TBM_*); 0 for anything else.
LRESULT SendMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wparam, LPARAM lparam);

inline UINT GetDlgItemText(HWND d, int id, char* b, int n) { return GetDlgItemTextA(d, id, b, n); }
inline BOOL SetDlgItemText(HWND d, int id, const char* t) { return SetDlgItemTextA(d, id, t); }

}  // namespace mvp
