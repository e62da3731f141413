// The scripted user: loading scripts, matching requests, default answers, the log as JSON.
#include <gtest/gtest.h>

#include "mvp/message_box.h"
#include "mvp/scripted_user.h"

using namespace mvp;
using nlohmann::json;

TEST(MessageBoxDefaults, WithoutAUserTheDefaultButtonAnswers) {
    EXPECT_EQ(MessageBoxA(0, "Save current bank ?", "Save", MB_YESNO | MB_ICONQUESTION), IDYES);
    EXPECT_EQ(MessageBoxA(0, "x", "y", MB_YESNOCANCEL | MB_DEFBUTTON3), IDCANCEL);
    EXPECT_EQ(MessageBoxA(0, "x", "y", MB_OKCANCEL | MB_DEFBUTTON4), IDOK);  // no fourth button
    EXPECT_EQ(MessageBoxA(0, nullptr, nullptr, MB_OK), IDOK);
    EXPECT_EQ(MessageBoxA(0, "x", "y", 0xF), 0);  // no such button set
}

TEST(ScriptedUser, AnswersAndLogsAMessageBoxInFull) {
    ScriptedUser user;
    ScopedUser installed(&user);
    ASSERT_TRUE(user.load(json::parse(R"({"message_box": "No", "caption": "Save"})")));
    EXPECT_EQ(MessageBoxA(0, "Save current bank ?", "Save", MB_YESNO | MB_ICONQUESTION), IDNO);
    const json expected = json::parse(R"({"kind": "message_box", "owner": 0, "caption": "Save",
        "text": "Save current bank ?", "buttons": ["Yes", "No"], "icon": "question", "default": "Yes",
        "flags": 36, "answer": "No", "scripted": true})");
    EXPECT_EQ(user.log_json(), json::array({expected}));
    EXPECT_EQ(json::parse(user.log_json().dump()), user.log_json());
}

TEST(ScriptedUser, AnEntryForAnotherRequestStaysAndIsReported) {
    ScriptedUser user;
    ScopedUser installed(&user);
    user.choose_color(0xFF);
    user.answer_message_box(IDNO);
    EXPECT_EQ(MessageBoxA(0, "x", "Tallisk", MB_YESNO), IDYES);  // met the colour entry
    EXPECT_EQ(user.pending(), 2u);
    ASSERT_EQ(user.problems().size(), 1u);
    EXPECT_NE(user.problems()[0].find("message_box request met"), std::string::npos);
}

TEST(ScriptedUser, ACaptionThatDoesNotFitLeavesTheEntry) {
    ScriptedUser user;
    ScopedUser installed(&user);
    ASSERT_TRUE(user.load(json::parse(R"([{"message_box": "Yes", "caption": "Error"}])")));
    EXPECT_EQ(MessageBoxA(0, "x", "Tallisk", MB_YESNO | MB_DEFBUTTON2), IDNO);
    EXPECT_EQ(MessageBoxA(0, "x", "Error", MB_YESNO | MB_DEFBUTTON2), IDYES);
    EXPECT_EQ(user.pending(), 0u);
}

TEST(ScriptedUser, AButtonTheBoxDoesNotHaveGivesTheDefault) {
    ScriptedUser user;
    ScopedUser installed(&user);
    user.answer_message_box(IDYES);
    EXPECT_EQ(MessageBoxA(0, "Cannot open file !", "Error", MB_OK | MB_ICONWARNING), IDOK);
    EXPECT_EQ(user.log()[0]["refused"], "the box has no Yes button");
    EXPECT_EQ(user.pending(), 0u);
}

TEST(ScriptedUser, MalformedScriptsAreRejectedWholeWithAClearMessage) {
    const char* const bad[] = {
        R"([{"message_box": "Yes"}, 5])",
        R"({"nothing": 1})",
        R"({"menu": 1, "color": 2})",
        R"({"message_box": "Perhaps"})",
        R"({"message_box": 99})",
        R"({"menu": [1, 2]})",
        R"({"menu": -3})",
        R"({"open_file": 7})",
        R"({"color": 16777216})",
        R"({"color": "#12345"})",
        R"({"color": 1, "custom": [1, 2]})",
        R"({"dialog": {"press": 1}})",
        R"({"dialog": [{"push": 1}]})",
        R"({"dialog": [{"text": "x"}]})",
        R"({"dialog": [{"id": 3, "check": 1}]})",
        R"({"message_box": "OK", "caption": 5})",
        R"({"dialog": [], "template": "101"})",
    };
    for (const char* text : bad) {
        ScriptedUser user;
        std::string error;
        EXPECT_FALSE(user.load(json::parse(text), &error)) << text;
        EXPECT_FALSE(error.empty()) << text;
        EXPECT_EQ(user.pending(), 0u) << text;
    }
}

TEST(ScriptedUser, AWellFormedScriptLoadsEveryKind) {
    ScriptedUser user;
    std::string error;
    ASSERT_TRUE(user.load(json::parse(R"([
        {"message_box": 6}, {"menu": ["File", "Load bank"]}, {"menu": 0}, {"open_file": "/tmp/a.wb1"},
        {"save_file": null, "title": "Save As"}, {"color": "#FF0000"}, {"color": null},
        {"dialog": [{"id": 1000, "text": "x"}, {"id": 1044, "check": true}, {"id": 1007, "position": 5},
                    {"press": 1}, {"enter": true}, {"close": true}], "template": 103}])"),
                          &error))
        << error;
    EXPECT_EQ(user.pending(), 8u);
}
