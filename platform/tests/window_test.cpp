// Window geometry, scroll positions, the foreground window and cursors.
#include <gtest/gtest.h>

#include "mvp/scripted_user.h"
#include "mvp/window.h"

using namespace mvp;

TEST(Window, RectanglesScrollPositionsAndForegroundComeFromTheHost) {
    HWND w = create_window("patch view", RECT{10, 20, 810, 620});
    RECT r;
    ASSERT_EQ(GetWindowRect(w, &r), 1);
    EXPECT_EQ(r.left, 10);
    EXPECT_EQ(r.bottom, 620);
    EXPECT_EQ(SetScrollPos(w, SB_VERT, 40, 1), 0);
    EXPECT_EQ(GetScrollPos(w, SB_VERT), 40);
    EXPECT_EQ(GetScrollPos(w, SB_HORZ), 0);
    EXPECT_EQ(GetScrollPos(w, 7), 0);
    EXPECT_EQ(SetForegroundWindow(w), 1);
    EXPECT_EQ(GetForegroundWindow(), w);
    EXPECT_EQ(MoveWindow(w, 0, 0, 100, 50, 1), 1);
    GetWindowRect(w, &r);
    EXPECT_EQ(r.right, 100);
    EXPECT_EQ(SetWindowLongPtrA(w, GWLP_USERDATA, 1234), 0);
    EXPECT_EQ(GetWindowLongPtrA(w, GWLP_USERDATA), 1234);
    EXPECT_EQ(DestroyWindow(w), 1);
    EXPECT_EQ(GetForegroundWindow(), 0);
}

TEST(Window, UnknownWindowsLeaveResultsAlone) {
    RECT r{1, 2, 3, 4};
    EXPECT_EQ(GetWindowRect(987654, &r), 0);
    EXPECT_EQ(r.left, 1);
    EXPECT_EQ(GetWindowRect(0, nullptr), 0);
    EXPECT_EQ(GetScrollPos(987654, SB_HORZ), 0);
    EXPECT_EQ(SetForegroundWindow(987654), 0);
    EXPECT_EQ(DestroyWindow(987654), 0);
    EXPECT_EQ(IsWindow(987654), 0);
}

TEST(Cursor, LoadingIsSharedAndSettingReturnsThePrevious) {
    ScriptedUser user;
    ScopedUser installed(&user);
    const HINSTANCE self = module_instance(reinterpret_cast<const void*>(&LoadCursorA));
    ASSERT_NE(self, 0);
    EXPECT_EQ(module_instance(nullptr), 0);
    const HCURSOR draw = LoadCursorA(self, 109);
    EXPECT_EQ(LoadCursorA(self, 109), draw);
    const HCURSOR zoom = LoadCursorA(self, 106);
    EXPECT_NE(zoom, draw);
    EXPECT_EQ(LoadCursorA(0, 109), 0);  // not a standard cursor
    const HCURSOR arrow = LoadCursorA(0, IDC_ARROW);
    ASSERT_NE(arrow, 0);

    SetCursor(arrow);
    user.clear_log();
    EXPECT_EQ(SetCursor(draw), arrow);
    EXPECT_EQ(SetCursor(draw), draw);  // unchanged: not logged again
    EXPECT_EQ(SetCursor(zoom), draw);
    EXPECT_EQ(SetCursor(55555), 0);
    EXPECT_EQ(GetCursor(), zoom);
    CursorInfo info;
    ASSERT_TRUE(cursor_info(zoom, &info));
    EXPECT_EQ(info.resource_id, 106);
    EXPECT_EQ(info.instance, self);
    const auto log = user.log_of("cursor");
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0]["resource"], 109);
    EXPECT_EQ(log[1]["resource"], 106);
    EXPECT_EQ(DestroyCursor(draw), 1);
    EXPECT_EQ(LoadCursorA(self, 109), draw);
    SetCursor(arrow);
}
