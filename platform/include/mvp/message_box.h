// Message boxes: text, caption, button set, icon and default button as in Windows; the answer
// comes from the installed user (user.h).
#pragma once

#include "mvp/win_types.h"

namespace mvp {

enum : UINT {
    MB_OK = 0x0, MB_OKCANCEL = 0x1, MB_ABORTRETRYIGNORE = 0x2, MB_YESNOCANCEL = 0x3, MB_YESNO = 0x4,
    MB_RETRYCANCEL = 0x5, MB_CANCELTRYCONTINUE = 0x6, MB_TYPEMASK = 0xF,
    MB_ICONHAND = 0x10, MB_ICONERROR = 0x10, MB_ICONSTOP = 0x10, MB_ICONQUESTION = 0x20,
    MB_ICONEXCLAMATION = 0x30, MB_ICONWARNING = 0x30, MB_ICONASTERISK = 0x40, MB_ICONINFORMATION = 0x40,
    MB_ICONMASK = 0xF0,
    MB_DEFBUTTON1 = 0x000, MB_DEFBUTTON2 = 0x100, MB_DEFBUTTON3 = 0x200, MB_DEFBUTTON4 = 0x300,
    MB_DEFMASK = 0xF00,
    MB_APPLMODAL = 0x0000, MB_SYSTEMMODAL = 0x1000, MB_TASKMODAL = 0x2000,
    MB_SETFOREGROUND = 0x10000, MB_TOPMOST = 0x40000,
};

enum : int {
    IDOK = 1, IDCANCEL = 2, IDABORT = 3, IDRETRY = 4, IDIGNORE = 5, IDYES = 6, IDNO = 7,
    IDTRYAGAIN = 10, IDCONTINUE = 11,
};

// Returns the id of the button pressed; 0 when the button set in `type` is not a valid one.
// A null text or caption shows as empty (Windows shows "Error" for a null caption).
int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type);
inline int MessageBox(HWND owner, const char* text, const char* caption, UINT type) {
    return MessageBoxA(owner, text, caption, type);
}

}  // namespace mvp
