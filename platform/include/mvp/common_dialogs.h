// Common dialogs: open and save file, colour chooser. The installed user (user.h) answers.
#pragma once

#include "mvp/win_types.h"

namespace mvp {

enum : DWORD {
    OFN_READONLY = 0x1, OFN_OVERWRITEPROMPT = 0x2, OFN_HIDEREADONLY = 0x4, OFN_NOCHANGEDIR = 0x8,
    OFN_PATHMUSTEXIST = 0x800, OFN_FILEMUSTEXIST = 0x1000, OFN_CREATEPROMPT = 0x2000,
    OFN_EXPLORER = 0x80000,
};

enum : DWORD {
    CC_RGBINIT = 0x1, CC_FULLOPEN = 0x2, CC_PREVENTFULLOPEN = 0x4, CC_SHOWHELP = 0x8,
    CC_SOLIDCOLOR = 0x80, CC_ANYCOLOR = 0x100,
};

// CommDlgExtendedError values.
enum : DWORD {
    CDERR_STRUCTSIZE = 0x1, CDERR_INITIALIZATION = 0x2,
    FNERR_INVALIDFILENAME = 0x3002, FNERR_BUFFERTOOSMALL = 0x3003,
};

struct OPENFILENAMEA {
    DWORD lStructSize = sizeof(OPENFILENAMEA);
    HWND hwndOwner = 0;
    HINSTANCE hInstance = 0;
    // Pairs of description and pattern ("*.wb1", or "*.a;*.b"), each NUL-terminated, the list
    // ending with an empty string.
    const char* lpstrFilter = nullptr;
    char* lpstrCustomFilter = nullptr;
    DWORD nMaxCustFilter = 0;
    DWORD nFilterIndex = 0;  // 1-based; 0 picks the first
    // In: the initial file name (may be empty). Out: the chosen path.
    char* lpstrFile = nullptr;
    DWORD nMaxFile = 0;
    char* lpstrFileTitle = nullptr;  // out: the name part, when given
    DWORD nMaxFileTitle = 0;
    const char* lpstrInitialDir = nullptr;
    const char* lpstrTitle = nullptr;
    DWORD Flags = 0;
    WORD nFileOffset = 0;
    WORD nFileExtension = 0;
    const char* lpstrDefExt = nullptr;  // appended (with a dot) to a chosen name without extension
    LPARAM lCustData = 0;
    void* lpfnHook = nullptr;
    const char* lpTemplateName = nullptr;
};

struct CHOOSECOLORA {
    DWORD lStructSize = sizeof(CHOOSECOLORA);
    HWND hwndOwner = 0;
    HWND hInstance = 0;
    COLORREF rgbResult = 0;
    COLORREF* lpCustColors = nullptr;  // 16 colours, read and written back
    DWORD Flags = 0;
    LPARAM lCustData = 0;
    void* lpfnHook = nullptr;
    const char* lpTemplateName = nullptr;
};
static_assert(sizeof(void*) != 4 || sizeof(CHOOSECOLORA) == 36, "the Windows record size on 32-bit builds");

// Nonzero when the user chose a file; 0 on cancel or error (CommDlgExtendedError tells which).
BOOL GetOpenFileNameA(OPENFILENAMEA* request);
BOOL GetSaveFileNameA(OPENFILENAMEA* request);
// Nonzero when the user chose a colour (written to rgbResult); 0 on cancel or error.
BOOL ChooseColorA(CHOOSECOLORA* request);
// The error of the last failed common dialog on this thread; 0 after a cancel or success.
DWORD CommDlgExtendedError();

}  // namespace mvp
