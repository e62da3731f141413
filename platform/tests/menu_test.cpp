// Popup menus built as the editor builds them, tracked by the scripted user.
#include <gtest/gtest.h>

#include "mvp/menu.h"
#include "mvp/scripted_user.h"
#include "mvp/window.h"

using namespace mvp;
using nlohmann::json;

namespace {

struct MenuFixture : ::testing::Test {
    ScriptedUser user;
    ScopedUser installed{&user};
    HWND owner = create_window("patch", RECT{100, 50, 900, 650});
    HMENU top = CreatePopupMenu();

    void SetUp() override {
        HMENU waves = CreatePopupMenu();
        for (int i = 0; i < 4; ++i) {
            const std::string name = "w" + std::to_string(i);
            AppendMenuA(waves, MF_STRING | (i == 1 ? UINT{MF_CHECKED} : 0u) | (i == 2 ? UINT{MF_MENUBREAK} : 0u), 18 + i, name.c_str());
        }
        AppendMenuA(top, MF_POPUP, static_cast<uintptr_t>(waves), "Waveform");
        HMENU edit = CreatePopupMenu();
        AppendMenuA(edit, MF_STRING, 83, "Evaluate");
        AppendMenuA(edit, MF_STRING | MF_GRAYED, 3, "Mix Paste");
        AppendMenuA(edit, MF_SEPARATOR, 0, nullptr);
        AppendMenuA(edit, MF_STRING, 82, "&Rename");
        AppendMenuA(top, MF_POPUP, static_cast<uintptr_t>(edit), "Edit");
        AppendMenuA(top, MF_SEPARATOR, 0, nullptr);
        AppendMenuA(top, MF_STRING, 1, "Copy");
    }
    void TearDown() override {
        DestroyMenu(top);
        DestroyWindow(owner);
    }
    UINT track() { return static_cast<UINT>(TrackPopupMenu(top, TPM_RETURNCMD | TPM_NONOTIFY, 130, 70, 0, owner, nullptr)); }
};

}  // namespace

TEST_F(MenuFixture, TheLogHoldsTheWholeTreeWithMarksAndBreaks) {
    user.choose_menu(1);
    EXPECT_EQ(track(), 1u);
    const auto log = user.log_of("menu");
    ASSERT_EQ(log.size(), 1u);
    const json expected_items = json::parse(R"([
      {"text": "Waveform", "items": [
        {"text": "w0", "id": 18}, {"text": "w1", "id": 19, "checked": true},
        {"text": "w2", "id": 20, "break": "column"}, {"text": "w3", "id": 21}]},
      {"text": "Edit", "items": [
        {"text": "Evaluate", "id": 83}, {"text": "Mix Paste", "id": 3, "grayed": true},
        {"separator": true}, {"text": "&Rename", "id": 82}]},
      {"separator": true},
      {"text": "Copy", "id": 1}])");
    EXPECT_EQ(log[0]["items"], expected_items);
    EXPECT_EQ(log[0]["at"], json({130, 70}));
    EXPECT_EQ(log[0]["owner"], owner);
    EXPECT_EQ(log[0]["answer"], 1);
    EXPECT_EQ(log[0]["answer_text"], "Copy");
    EXPECT_TRUE(user.problems().empty());
}

TEST_F(MenuFixture, PathsOfTextsReachSubmenuCommandsIgnoringMnemonics) {
    user.choose_menu(std::vector<std::string>{"Waveform", "w3"});
    user.choose_menu(std::vector<std::string>{"Edit", "Rename"});
    EXPECT_EQ(track(), 21u);
    EXPECT_EQ(track(), 82u);
}

TEST_F(MenuFixture, GrayedMissingOrHalfPathsAreRefusedAsAPersonWouldBe) {
    user.choose_menu(3);                                         // grayed
    user.choose_menu(77);                                        // not in the menu
    user.choose_menu(std::vector<std::string>{"Edit"});          // opens a submenu only
    user.choose_menu(std::vector<std::string>{"File", "Load"});  // no such item
    for (int i = 0; i < 4; ++i) EXPECT_EQ(track(), 0u);
    const auto problems = user.problems();
    ASSERT_EQ(problems.size(), 4u);
    EXPECT_NE(problems[0].find("grayed"), std::string::npos);
    EXPECT_NE(problems[1].find("no command 77"), std::string::npos);
    EXPECT_NE(problems[2].find("opens a submenu"), std::string::npos);
    EXPECT_NE(problems[3].find("no item \"File\""), std::string::npos);
}

TEST_F(MenuFixture, WithoutAScriptTheMenuIsDismissed) {
    EXPECT_EQ(track(), 0u);
    EXPECT_EQ(user.log_of("menu").at(0)["scripted"], false);
}

TEST_F(MenuFixture, WithoutReturnCmdOnlySuccessIsReported) {
    user.choose_menu(83);
    EXPECT_EQ(TrackPopupMenu(top, 0, 0, 0, 0, owner, nullptr), 1);
    EXPECT_EQ(TrackPopupMenu(top, 0, 0, 0, 0, owner, nullptr), 0);
}

TEST_F(MenuFixture, TrackingNeedsAMenuAndAnOwnerWindow) {
    user.choose_menu(1);
    EXPECT_EQ(TrackPopupMenu(top, TPM_RETURNCMD, 0, 0, 0, 0, nullptr), 0);
    EXPECT_EQ(TrackPopupMenu(99999, TPM_RETURNCMD, 0, 0, 0, owner, nullptr), 0);
    EXPECT_TRUE(user.log().empty());
    EXPECT_EQ(user.pending(), 1u);
}

TEST_F(MenuFixture, MarksChangeByCommandOrPositionAndReportThePreviousState) {
    EXPECT_EQ(CheckMenuItem(top, 19, MF_BYCOMMAND | MF_UNCHECKED), static_cast<DWORD>(MF_CHECKED));
    EXPECT_EQ(CheckMenuItem(top, 20, MF_BYCOMMAND | MF_CHECKED), static_cast<DWORD>(MF_UNCHECKED));
    EXPECT_EQ(CheckMenuItem(top, 3, MF_BYPOSITION | MF_CHECKED), static_cast<DWORD>(MF_UNCHECKED));  // "Copy"
    EXPECT_EQ(CheckMenuItem(top, 555, MF_BYCOMMAND), 0xFFFFFFFFu);
    EXPECT_EQ(EnableMenuItem(top, 3, MF_BYCOMMAND | MF_ENABLED), static_cast<BOOL>(MF_GRAYED));
    user.choose_menu(3);
    EXPECT_EQ(track(), 3u);
    const json items = user.log_of("menu").at(0)["items"];
    EXPECT_EQ(items[0]["items"][2]["checked"], true);
    EXPECT_FALSE(items[0]["items"][1].contains("checked"));
    EXPECT_EQ(items[3]["checked"], true);
}

TEST(Menu, SubmenusHaveOneParentNoCyclesAndDieWithTheirParent) {
    HMENU a = CreatePopupMenu(), b = CreatePopupMenu(), c = CreatePopupMenu();
    EXPECT_EQ(AppendMenuA(a, MF_POPUP, static_cast<uintptr_t>(b), "b"), 1);
    EXPECT_EQ(AppendMenuA(c, MF_POPUP, static_cast<uintptr_t>(b), "b again"), 0);
    EXPECT_EQ(AppendMenuA(b, MF_POPUP, static_cast<uintptr_t>(a), "a inside b"), 0);
    EXPECT_EQ(AppendMenuA(a, MF_POPUP, static_cast<uintptr_t>(a), "itself"), 0);
    EXPECT_EQ(AppendMenuA(a, MF_POPUP, 424242, "nothing"), 0);
    EXPECT_EQ(AppendMenuA(4242, MF_STRING, 1, "x"), 0);
    EXPECT_EQ(GetMenuItemCount(a), 1);
    EXPECT_EQ(GetSubMenu(a, 0), b);
    EXPECT_EQ(GetSubMenu(a, 1), 0);
    EXPECT_EQ(DestroyMenu(a), 1);
    EXPECT_FALSE(IsMenu(b));
    EXPECT_EQ(DestroyMenu(a), 0);
    EXPECT_EQ(GetMenuItemCount(a), -1);
    DestroyMenu(c);
}
