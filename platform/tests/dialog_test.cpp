// Modal dialogs from templates, driven by the scripted user through the module's handler.
#include <gtest/gtest.h>

#include <vector>

#include "mvp/dialog.h"
#include "mvp/message_box.h"
#include "mvp/scripted_user.h"

using namespace mvp;
using nlohmann::json;
using Kind = DialogAction::Kind;

namespace {

// A mix dialog: trackbar 1007 (0..100, starts at 50), OK, Cancel and a hidden edit 1001.
DialogTemplate mix_template() {
    DialogTemplate t;
    t.resource_id = 104;
    t.caption = "MixPaste";
    t.width = 178;
    t.height = 54;
    t.controls = {
        {1, ControlKind::DefPushButton, "OK", 12, 33, 50, 14},
        {2, ControlKind::PushButton, "Cancel", 115, 33, 50, 14},
        {1007, ControlKind::Trackbar, "", 40, 10, 89, 18, TBS_BOTH | TBS_NOTICKS},
        {-1, ControlKind::Static, "Current Preset", 13, 10, 29, 18},
        {1001, ControlKind::Edit, "", 84, 35, 7, 12, 0, true},
    };
    return t;
}

// What the mix handler saw, for the assertions.
struct MixLog {
    std::vector<int> scroll_positions;
    int init_param = 0;
    UINT hidden_value = 0;
};
MixLog* g_mix = nullptr;

INT_PTR mix_handler(HWND d, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_INITDIALOG:
        g_mix->init_param = static_cast<int>(lparam);
        SendDlgItemMessageA(d, 1007, TBM_SETRANGE, 1, MAKELPARAM(0, 100));
        SendDlgItemMessageA(d, 1007, TBM_SETPOS, 1, 50);
        SetDlgItemInt(d, 1001, 777, 0);
        return 1;
    case WM_HSCROLL:
        if (LOWORD(wparam) == TB_THUMBTRACK)
            g_mix->scroll_positions.push_back(static_cast<int>(SendDlgItemMessageA(d, 1007, TBM_GETPOS, 0, 0)));
        return 1;
    case WM_COMMAND:
        if (HIWORD(wparam) != BN_CLICKED) return 0;
        g_mix->hidden_value = GetDlgItemInt(d, 1001, nullptr, 0);
        if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) EndDialog(d, LOWORD(wparam));
        return 1;
    default: return 0;
    }
}

struct DialogFixture : ::testing::Test {
    ScriptedUser user;
    ScopedUser installed{&user};
    MixLog mix;
    DialogTemplate layout = mix_template();
    void SetUp() override { g_mix = &mix; }
    INT_PTR run() { return DialogBoxIndirectParamA(0, &layout, 0, mix_handler, 42); }
};

}  // namespace

TEST_F(DialogFixture, TrackbarMovesNotifyAndOkEndsWithItsId) {
    user.run_dialog({{Kind::SetPosition, 1007, "", 30}, {Kind::SetPosition, 1007, "", 130}, {Kind::Press, 1, "", 0}});
    EXPECT_EQ(run(), IDOK);
    EXPECT_EQ(mix.init_param, 42);
    EXPECT_EQ(mix.scroll_positions, (std::vector<int>{30, 100}));  // clamped to the range
    EXPECT_EQ(mix.hidden_value, 777u);
    const auto dialogs = user.log_of("dialog");
    ASSERT_EQ(dialogs.size(), 2u);
    EXPECT_EQ(dialogs[0]["event"], "shown");
    EXPECT_EQ(dialogs[0]["template"], 104);
    EXPECT_EQ(dialogs[0]["size"], json({178, 54}));
    const json& track = dialogs[0]["controls"][2];
    EXPECT_EQ(track["kind"], "trackbar");
    EXPECT_EQ(track["position"], 50);
    EXPECT_EQ(track["range"], json({0, 100}));
    EXPECT_EQ(dialogs[0]["controls"][4]["hidden"], true);
    EXPECT_EQ(dialogs[0]["controls"][4]["text"], "777");
    EXPECT_EQ(dialogs[1]["event"], "closed");
    EXPECT_EQ(dialogs[1]["result"], IDOK);
    EXPECT_EQ(dialogs[1]["controls"][2]["position"], 100);
    EXPECT_TRUE(user.problems().empty());
}

TEST_F(DialogFixture, WithoutAScriptTheDialogIsClosedAsCancel) {
    EXPECT_EQ(run(), IDCANCEL);
    EXPECT_TRUE(mix.scroll_positions.empty());
    EXPECT_EQ(user.log_of("dialog").at(0)["scripted"], false);
}

TEST_F(DialogFixture, HiddenControlsAndWrongKindsAreRefused) {
    user.run_dialog({{Kind::SetText, 1001, "123", 0}, {Kind::SetText, 1007, "x", 0}, {Kind::Press, 5, "", 0}});
    EXPECT_EQ(run(), IDCANCEL);
    EXPECT_EQ(mix.hidden_value, 777u);
    const auto problems = user.problems();
    ASSERT_EQ(problems.size(), 3u);
    EXPECT_NE(problems[0].find("hidden"), std::string::npos);
    EXPECT_NE(problems[1].find("not an edit"), std::string::npos);
    EXPECT_NE(problems[2].find("no control 5"), std::string::npos);
}

TEST_F(DialogFixture, ReturnPressesTheDefaultButton) {
    user.run_dialog({{Kind::Enter, 0, "", 0}});
    EXPECT_EQ(run(), IDOK);
}

TEST_F(DialogFixture, AMissingTemplateOrHandlerFails) {
    EXPECT_EQ(DialogBoxIndirectParamA(0, nullptr, 0, mix_handler, 0), -1);
    EXPECT_EQ(DialogBoxIndirectParamA(0, &layout, 0, nullptr, 0), -1);
    EXPECT_TRUE(user.log().empty());
}

namespace {

// A rename dialog: edit 1000, check box 1044, OK; Help shows a message box.
struct RenameLog {
    char name[16] = {};
    UINT length = 0;
    bool checked_at_ok = false;
    int help_answer = 0;
};
RenameLog* g_rename = nullptr;

INT_PTR rename_handler(HWND d, UINT message, WPARAM wparam, LPARAM) {
    if (message == WM_INITDIALOG) {
        SetDlgItemTextA(d, 1000, "Untitled 1");
        CheckDlgButton(d, 1044, BST_CHECKED);
        return 1;
    }
    if (message != WM_COMMAND || HIWORD(wparam) != BN_CLICKED) return 0;
    switch (LOWORD(wparam)) {
    case IDOK:
        g_rename->length = GetDlgItemTextA(d, 1000, g_rename->name, 16);
        g_rename->checked_at_ok = IsDlgButtonChecked(d, 1044) == BST_CHECKED;
        EndDialog(d, IDOK);
        return 1;
    case 1006: g_rename->help_answer = MessageBoxA(0, "Quick info", "Help", MB_ICONINFORMATION); return 1;
    case IDCANCEL: EndDialog(d, IDCANCEL); return 1;
    default: return 1;
    }
}

DialogTemplate rename_template() {
    DialogTemplate t;
    t.resource_id = 101;
    t.caption = "Preset name";
    t.width = 160;
    t.height = 58;
    t.controls = {
        {1, ControlKind::DefPushButton, "OK", 7, 35, 50, 14},
        {1000, ControlKind::Edit, "", 7, 18, 140, 12, ES_AUTOHSCROLL},
        {1044, ControlKind::CheckBox, "Normalized output", 12, 161, 73, 10},
        {1006, ControlKind::PushButton, "Help", 150, 157, 50, 14},
    };
    return t;
}

}  // namespace

TEST(DialogItems, TextIsCutToTheBufferAndChecksToggleOnClick) {
    ScriptedUser user;
    ScopedUser installed(&user);
    RenameLog log;
    g_rename = &log;
    DialogTemplate t = rename_template();
    ASSERT_TRUE(user.load(json::parse(R"([
      {"dialog": [{"id": 1000, "text": "A name far longer than fifteen"}, {"id": 1044, "check": false},
                  {"press": 1006}, {"press": 1}], "template": 101},
      {"message_box": "OK", "caption": "Help"}])")));
    EXPECT_EQ(DialogBoxIndirectParamA(0, &t, 0, rename_handler, 0), IDOK);
    EXPECT_STREQ(log.name, "A name far long");
    EXPECT_EQ(log.length, 15u);
    EXPECT_FALSE(log.checked_at_ok);
    EXPECT_EQ(log.help_answer, IDOK);
    EXPECT_EQ(user.pending(), 0u);
    EXPECT_TRUE(user.problems().empty());
    const auto boxes = user.log_of("message_box");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0]["icon"], "information");
    EXPECT_EQ(boxes[0]["scripted"], true);
}

TEST(DialogItems, AScriptForAnotherTemplateIsNotUsed) {
    ScriptedUser user;
    ScopedUser installed(&user);
    RenameLog log;
    g_rename = &log;
    DialogTemplate t = rename_template();
    ASSERT_TRUE(user.load(json::parse(R"([{"dialog": [{"press": 1}], "template": 104}])")));
    EXPECT_EQ(DialogBoxIndirectParamA(0, &t, 0, rename_handler, 0), IDCANCEL);
    EXPECT_EQ(user.pending(), 1u);
    EXPECT_EQ(user.problems().size(), 1u);
}

namespace {
INT_PTR stubborn_handler(HWND, UINT, WPARAM, LPARAM) { return 1; }  // never ends itself
}  // namespace

TEST(DialogItems, AHandlerThatNeverEndsIsEndedWithMinusOne) {
    ScriptedUser user;
    ScopedUser installed(&user);
    DialogTemplate t = rename_template();
    EXPECT_EQ(DialogBoxIndirectParamA(0, &t, 0, stubborn_handler, 0), -1);
    EXPECT_EQ(user.log_of("dialog_action").size(), 3u);
}

namespace {
HWND g_dialog = 0;
INT_PTR capture_handler(HWND d, UINT message, WPARAM, LPARAM) {
    if (message == WM_INITDIALOG) g_dialog = d;
    if (message == WM_INITDIALOG) {
        BOOL ok = 1;
        SetDlgItemTextA(d, 1000, "  -42xyz");
        EXPECT_EQ(static_cast<int>(GetDlgItemInt(d, 1000, &ok, 1)), -42);
        EXPECT_EQ(ok, 1);
        EXPECT_EQ(GetDlgItemInt(d, 1000, &ok, 0), 0u);  // unsigned: the sign is not a digit
        EXPECT_EQ(ok, 0);
        SetDlgItemTextA(d, 1000, "99999999999");
        GetDlgItemInt(d, 1000, &ok, 0);
        EXPECT_EQ(ok, 0);
        SetDlgItemInt(d, 1000, static_cast<UINT>(-5), 1);
        EXPECT_EQ(static_cast<int>(GetDlgItemInt(d, 1000, &ok, 1)), -5);
        char buf[4] = "zz";
        EXPECT_EQ(GetDlgItemTextA(d, 4242, buf, 4), 0u);
        EXPECT_STREQ(buf, "");
        EXPECT_EQ(GetDlgItemTextA(d, 1000, nullptr, 4), 0u);
        EXPECT_EQ(GetDlgItemTextA(d, 1000, buf, 0), 0u);
        EXPECT_EQ(SetDlgItemTextA(d, 4242, "x"), 0);
        EXPECT_EQ(EnableWindow(GetDlgItem(d, 1), 0), 0);
        EndDialog(d, 7);
        EXPECT_EQ(EndDialog(d, 8), 0);  // already ended
    }
    return 1;
}
}  // namespace

TEST(DialogItems, IntegersParseLikeWindowsAndStaleHandlesFail) {
    ScriptedUser user;
    ScopedUser installed(&user);
    DialogTemplate t = rename_template();
    EXPECT_EQ(DialogBoxIndirectParamA(0, &t, 0, capture_handler, 0), 7);
    // Ended in WM_INITDIALOG: never shown, only closed.
    EXPECT_EQ(user.log_of("dialog").size(), 1u);
    EXPECT_EQ(user.log_of("dialog")[0]["controls"][0]["enabled"], false);
    EXPECT_EQ(GetDlgItem(g_dialog, 1000), 0);
    EXPECT_EQ(SetDlgItemTextA(g_dialog, 1000, "late"), 0);
    EXPECT_EQ(EndDialog(g_dialog, 1), 0);
    EXPECT_EQ(IsDlgButtonChecked(g_dialog, 1044), static_cast<UINT>(BST_UNCHECKED));
    EXPECT_EQ(SendMessageA(0, WM_GETTEXTLENGTH, 0, 0), 0);
}
