// A script with a person behind it: the script answers what it scripts, every other request goes
// to the fallback user, and nothing of that counts as a problem.
#include <gtest/gtest.h>

#include "mvp/common_dialogs.h"
#include "mvp/dialog.h"
#include "mvp/menu.h"
#include "mvp/message_box.h"
#include "mvp/scripted_user.h"
#include "mvp/window.h"

using namespace mvp;
using nlohmann::json;

namespace {

// Stands in for the person at the screen: fixed answers, and a record of what reached them.
struct Person : User {
    std::vector<std::string> seen;
    std::vector<DialogAction> actions;  // given to the dialog one by one
    int message_box(const MessageBoxRequest& r) override {
        seen.push_back("message_box " + r.caption);
        return IDNO;
    }
    UINT track_menu(const MenuRequest&) override {
        seen.push_back("menu");
        return 7;
    }
    std::optional<std::string> choose_file(const FileRequest& r) override {
        seen.push_back(r.save ? "save_file" : "open_file");
        return std::string("/tmp/picked");
    }
    std::optional<ColorAnswer> choose_color(const ColorRequest&) override {
        seen.push_back("color");
        return ColorAnswer{0x123456, std::nullopt};
    }
    void dialog_shown(const DialogState& d) override { seen.push_back("shown " + d.caption); }
    DialogAction dialog_action(const DialogState&) override {
        seen.push_back("action");
        DialogAction a;
        if (!actions.empty()) a = actions.front(), actions.erase(actions.begin());
        return a;
    }
    void dialog_closed(const DialogState& d, INT_PTR result) override {
        seen.push_back("closed " + d.caption + " " + std::to_string(result));
    }
    void cursor_changed(HCURSOR, HINSTANCE, int resource_id) override { seen.push_back("cursor " + std::to_string(resource_id)); }
};

std::vector<std::string> g_messages;

INT_PTR name_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    if (message == WM_COMMAND) {
        g_messages.push_back(std::to_string(LOWORD(wparam)) + "/" + std::to_string(HIWORD(wparam)));
        if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) EndDialog(dialog, LOWORD(wparam));
        return 1;
    }
    return 0;
}

const DialogTemplate kName{101, "Name", 160, 58, "MS Sans Serif", 8,
                           {{IDOK, ControlKind::DefPushButton, "OK", 7, 35, 50, 14},
                            {IDCANCEL, ControlKind::PushButton, "Cancel", 102, 36, 50, 13},
                            {1000, ControlKind::Edit, "", 7, 18, 140, 12, ES_AUTOHSCROLL}}};

DialogAction text(int id, const std::string& t) {
    DialogAction a;
    a.kind = DialogAction::Kind::SetText;
    a.id = id;
    a.text = t;
    return a;
}

TEST(CombinedUser, ScriptAnswersWhatItScriptsAndThePersonTheRest) {
    Person person;
    ScriptedUser user;
    user.set_fallback(&person);
    ScopedUser installed(&user);
    std::string error;
    ASSERT_TRUE(user.load(json::parse(R"([{"menu": 2}, {"message_box": "Yes", "caption": "Save"}])"), &error)) << error;
    const HWND owner = create_window("patch", RECT{0, 0, 400, 300});
    HMENU menu = CreatePopupMenu();
    AppendMenuA(menu, MF_STRING, 2, "Two");
    AppendMenuA(menu, MF_STRING, 7, "Seven");

    // A box the front entry does not fit (its caption differs) goes to the person and leaves
    // the entry for later; the menu entry is not in front yet either.
    EXPECT_EQ(MessageBoxA(owner, "Really?", "Quit", MB_YESNO), IDNO);
    EXPECT_EQ(TrackPopupMenu(menu, TPM_RETURNCMD, 0, 0, 0, owner, nullptr), 2);  // scripted
    EXPECT_EQ(MessageBoxA(owner, "Keep?", "Save", MB_YESNO), IDYES);             // scripted
    EXPECT_EQ(TrackPopupMenu(menu, TPM_RETURNCMD, 0, 0, 0, owner, nullptr), 7);  // the person

    char path[256] = "";
    OPENFILENAMEA ofn;
    ofn.lpstrFile = path;
    ofn.nMaxFile = sizeof path;
    EXPECT_EQ(GetOpenFileNameA(&ofn), 1);
    EXPECT_STREQ(path, "/tmp/picked");
    COLORREF custom[16] = {};
    CHOOSECOLORA cc;
    cc.lpCustColors = custom;
    EXPECT_EQ(ChooseColorA(&cc), 1);
    EXPECT_EQ(cc.rgbResult, 0x123456u);

    // An unscripted dialog is the person's to its end: shown, their actions, closed.
    g_messages.clear();
    person.actions = {text(1000, "Bright"), DialogAction{DialogAction::Kind::Enter, 0, {}, 0}};
    EXPECT_EQ(DialogBoxIndirectParamA(0, &kName, owner, name_proc, 0), IDOK);
    EXPECT_EQ(g_messages, (std::vector<std::string>{"1000/768", "1/0"}));

    SetCursor(LoadCursorA(0, IDC_CROSS));

    EXPECT_EQ(person.seen, (std::vector<std::string>{"message_box Quit", "menu", "open_file", "color", "shown Name",
                                                     "action", "action", "closed Name 1", "cursor 32515"}));
    EXPECT_TRUE(user.problems().empty()) << json(user.problems()).dump();
    EXPECT_EQ(user.pending(), 0u);
    const auto boxes = user.log_of("message_box");
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0]["fallback"], true);
    EXPECT_EQ(boxes[0]["answer"], "No");
    EXPECT_EQ(boxes[1]["scripted"], true);
    EXPECT_FALSE(boxes[1].contains("fallback"));
    EXPECT_EQ(user.log_of("dialog_action").size(), 2u);
    DestroyMenu(menu);
    DestroyWindow(owner);
}

// A scripted dialog stays scripted: the person never sees it, even when its actions run out.
TEST(CombinedUser, ScriptedDialogNeverReachesThePerson) {
    Person person;
    ScriptedUser user;
    user.set_fallback(&person);
    ScopedUser installed(&user);
    user.run_dialog({text(1000, "x")});
    g_messages.clear();
    EXPECT_EQ(DialogBoxIndirectParamA(0, &kName, 0, name_proc, 0), IDCANCEL);  // closed when the script ran out
    EXPECT_EQ(g_messages, (std::vector<std::string>{"1000/768", "2/0"}));
    EXPECT_TRUE(person.seen.empty());
}

}  // namespace
