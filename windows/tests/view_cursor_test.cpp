// tallisk_view.dll's mode cursors under Windows: the DLL carries them as its own cursor resources,
// and a move over the panel in each mode makes that resource the Windows cursor; the panel's
// closing call gives back the cursor it replaced. With MV_CURSOR_HANDSHAKE naming a folder, the
// last test shows each cursor under the pointer and waits for screen_cursor.py to read it off the
// screen.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "mvhost/host.h"

#include <windows.h>

namespace {

const std::string kViewDll = std::string(MV_PLUGIN_DIR) + "/tallisk_view.dll";
constexpr int kModePin = 1;

struct ModeCursor {
    int mode, resource, hot_x, hot_y;
};
// Select, Draw, Move, Zoom, with the hot spots they are drawn with.
constexpr ModeCursor kCursors[] = {{0, 122, 15, 15}, {1, 109, 1, 29}, {2, 113, 15, 15}, {3, 106, 11, 11}};

// The two-colour picture of a cursor: its AND mask over its XOR bits, 32 x 64.
std::vector<unsigned char> mask_bits(HCURSOR cursor, POINT* hot_spot) {
    ICONINFO info{};
    if (!GetIconInfo(cursor, &info)) return {};
    BITMAP bitmap{};
    GetObjectA(info.hbmMask, sizeof bitmap, &bitmap);
    std::vector<unsigned char> bits(static_cast<size_t>(bitmap.bmWidthBytes) * bitmap.bmHeight);
    if (bitmap.bmWidth != 32 || bitmap.bmHeight != 64 || info.hbmColor || info.fIcon) bits.clear();
    else GetBitmapBits(info.hbmMask, static_cast<LONG>(bits.size()), bits.data());
    *hot_spot = POINT{static_cast<LONG>(info.xHotspot), static_cast<LONG>(info.yHotspot)};
    DeleteObject(info.hbmMask);
    if (info.hbmColor) DeleteObject(info.hbmColor);
    return bits;
}

TEST(WaveViewCursors, AreFourPicturesAmongTheDllsResources) {
    const HMODULE dll = LoadLibraryA(kViewDll.c_str());
    ASSERT_NE(dll, nullptr) << kViewDll;
    std::vector<std::vector<unsigned char>> pictures;
    for (const ModeCursor& c : kCursors) {
        EXPECT_NE(FindResourceA(dll, MAKEINTRESOURCEA(c.resource), MAKEINTRESOURCEA(12)), nullptr)  // RT_GROUP_CURSOR
            << c.resource;
        const HCURSOR cursor = LoadCursorA(dll, MAKEINTRESOURCEA(c.resource));
        ASSERT_NE(cursor, nullptr) << c.resource;
        POINT hot{};
        pictures.push_back(mask_bits(cursor, &hot));
        EXPECT_FALSE(pictures.back().empty()) << c.resource << " is no 32 x 32 two-colour cursor";
        EXPECT_EQ(hot.x, c.hot_x) << c.resource;
        EXPECT_EQ(hot.y, c.hot_y) << c.resource;
    }
    for (size_t i = 0; i < pictures.size(); ++i)
        for (size_t j = i + 1; j < pictures.size(); ++j) EXPECT_NE(pictures[i], pictures[j]) << i << " and " << j;
    FreeLibrary(dll);
}

TEST(WaveViewCursors, EachModeShowsItsOwnOnWindowsAndTheArrowComesBack) {
    mvh::Host host;
    std::string error;
    mvh::Instance* view = host.add(kViewDll, "view", {}, &error);
    ASSERT_NE(view, nullptr) << error;
    host.open();
    const HMODULE dll = GetModuleHandleA("tallisk_view.dll");
    ASSERT_NE(dll, nullptr);
    const HCURSOR arrow = LoadCursorA(nullptr, IDC_ARROW);
    SetCursor(arrow);
    for (const ModeCursor& c : kCursors) {
        view->set_int(kModePin, c.mode);
        view->pointer(GD_POINTER_MOVE, 10, 10);
        view->pointer(GD_POINTER_MOVE, 11, 10);
        EXPECT_EQ(GetCursor(), LoadCursorA(dll, MAKEINTRESOURCEA(c.resource))) << "mode " << c.mode;
    }
    view->gui_dispatch(GD_9);
    EXPECT_EQ(GetCursor(), arrow);
}

// Lets Windows deliver what the cursor change sends to the window under the pointer.
void pump_messages(DWORD ms) {
    const DWORD end = GetTickCount() + ms;
    do {
        MSG m;
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
        Sleep(10);
    } while (static_cast<int32_t>(end - GetTickCount()) > 0);
}

bool exists(const std::string& path) { return std::ifstream(path).good(); }

TEST(WaveViewCursors, ShowOnTheScreenUnderThePointer) {
    const char* handshake = std::getenv("MV_CURSOR_HANDSHAKE");
    if (!handshake || !*handshake) GTEST_SKIP() << "run by screen_cursor.py, which reads the screen";
    const std::string dir = handshake;
    mvh::Host host;
    std::string error;
    mvh::Instance* view = host.add(kViewDll, "view", {}, &error);
    ASSERT_NE(view, nullptr) << error;
    host.open();
    // The host's patch view is made hidden; shown, it is the window under the pointer.
    const HWND patch_view = FindWindowA("MorvanePatchView", nullptr);
    ASSERT_NE(patch_view, nullptr);
    ShowWindow(patch_view, SW_SHOW);
    SetForegroundWindow(patch_view);
    RECT r{};
    GetWindowRect(patch_view, &r);
    pump_messages(300);
    SetCursorPos((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    pump_messages(500);
    for (const ModeCursor& c : kCursors) {
        view->set_int(kModePin, c.mode);
        view->pointer(GD_POINTER_MOVE, 10, 10);
        pump_messages(300);
        const std::string id = std::to_string(c.resource);
        std::ofstream(dir + "/shown-" + id) << id << "\n";
        const DWORD limit = GetTickCount() + 30000;
        while (!exists(dir + "/seen-" + id) && static_cast<int32_t>(limit - GetTickCount()) > 0) pump_messages(50);
        ASSERT_TRUE(exists(dir + "/seen-" + id)) << "nobody read cursor " << id << " off the screen";
    }
    ShowWindow(patch_view, SW_HIDE);
}

}  // namespace
