// Open, save and colour dialogs answered by the scripted user.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "mvp/common_dialogs.h"
#include "mvp/scripted_user.h"

using namespace mvp;
using nlohmann::json;
namespace fs = std::filesystem;

namespace {

const char kBankFilters[] =
    "Tallisk bank files (.wb1)\0*.wb1\0Tallisk bank files [16 waveforms](.wbf)\0*.wbf\0";

struct FileFixture : ::testing::Test {
    ScriptedUser user;
    ScopedUser installed{&user};
    // One folder per test: ctest runs tests of this program in parallel processes.
    fs::path dir = fs::path(MV_BINARY_DIR) / "platform_file_dialogs" /
                   ::testing::UnitTest::GetInstance()->current_test_info()->name();
    char path[300] = {};
    OPENFILENAMEA ofn;

    void SetUp() override {
        fs::create_directories(dir);
        std::ofstream(dir / "bank.wb1") << "WB1 ";
        ofn.lpstrFilter = kBankFilters;
        ofn.nFilterIndex = 1;
        ofn.lpstrFile = path;
        ofn.nMaxFile = sizeof path;
        ofn.lpstrInitialDir = dir.c_str();
        ofn.lpstrDefExt = "wbf";
        ofn.Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
    }
    void TearDown() override { fs::remove_all(dir); }
};

}  // namespace

TEST_F(FileFixture, OpenReturnsTheChosenPathAndLogsTheRequest) {
    ASSERT_TRUE(user.load(json::parse(R"([{"open_file": "bank.wb1"}])")));
    std::strcpy(path, "old.wb1");
    ASSERT_EQ(GetOpenFileNameA(&ofn), 1);
    const std::string expected = (dir / "bank.wb1").string();
    EXPECT_EQ(std::string(path), expected);
    EXPECT_EQ(ofn.nFileOffset, expected.size() - 8);
    EXPECT_EQ(ofn.nFileExtension, expected.size() - 3);
    const auto log = user.log_of("open_file");
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0]["filters"], json::parse(R"js([["Tallisk bank files (.wb1)", "*.wb1"],
        ["Tallisk bank files [16 waveforms](.wbf)", "*.wbf"]])js"));
    EXPECT_EQ(log[0]["initial_dir"], dir.string());
    EXPECT_EQ(log[0]["initial_file"], "old.wb1");
    EXPECT_EQ(log[0]["default_ext"], "wbf");
    EXPECT_EQ(log[0]["buffer_size"], 300);
    EXPECT_EQ(log[0]["flags"], OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST);
    EXPECT_EQ(log[0]["answer"], expected);
}

TEST_F(FileFixture, AMissingFileIsRefusedForOpenButFineForSave) {
    user.choose_file("missing");  // becomes missing.wbf
    EXPECT_EQ(GetOpenFileNameA(&ofn), 0);
    EXPECT_EQ(CommDlgExtendedError(), 0u);
    EXPECT_NE(user.problems().at(0).find("file does not exist"), std::string::npos);
    user.choose_file("new");
    ofn.lpstrDefExt = "wb1";
    ASSERT_EQ(GetSaveFileNameA(&ofn), 1);
    EXPECT_EQ(std::string(path), (dir / "new.wb1").string());
    EXPECT_EQ(user.log_of("save_file").size(), 1u);
}

TEST_F(FileFixture, AMissingFolderIsRefused) {
    user.choose_file((dir / "nowhere" / "x.wb1").string());
    EXPECT_EQ(GetSaveFileNameA(&ofn), 0);
    EXPECT_NE(user.problems().at(0).find("folder does not exist"), std::string::npos);
}

TEST_F(FileFixture, APathLongerThanTheBufferFailsWithBufferTooSmall) {
    char small[8] = {};
    ofn.lpstrFile = small;
    ofn.nMaxFile = sizeof small;
    user.choose_file("bank.wb1");
    EXPECT_EQ(GetOpenFileNameA(&ofn), 0);
    EXPECT_EQ(CommDlgExtendedError(), static_cast<DWORD>(FNERR_BUFFERTOOSMALL));
    EXPECT_STREQ(small, "");
}

TEST_F(FileFixture, CancelAndNoScriptLeaveTheBufferAlone) {
    std::strcpy(path, "keep");
    user.cancel_file();
    EXPECT_EQ(GetOpenFileNameA(&ofn), 0);
    EXPECT_EQ(GetOpenFileNameA(&ofn), 0);
    EXPECT_STREQ(path, "keep");
    EXPECT_EQ(CommDlgExtendedError(), 0u);
}

TEST_F(FileFixture, OverwritingAsksFirstAndNoMeansCancel) {
    ofn.Flags = OFN_OVERWRITEPROMPT;
    user.choose_file("bank.wb1");  // the box's default is No
    EXPECT_EQ(GetSaveFileNameA(&ofn), 0);
    const auto boxes = user.log_of("message_box");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0]["buttons"], json({"Yes", "No"}));
    EXPECT_EQ(boxes[0]["answer"], "No");
    user.choose_file("bank.wb1").answer_message_box(6);
    EXPECT_EQ(GetSaveFileNameA(&ofn), 1);
}

TEST_F(FileFixture, MalformedRequestsFailWithTheirError) {
    EXPECT_EQ(GetOpenFileNameA(nullptr), 0);
    EXPECT_EQ(CommDlgExtendedError(), static_cast<DWORD>(CDERR_INITIALIZATION));
    ofn.lStructSize = 12;
    EXPECT_EQ(GetOpenFileNameA(&ofn), 0);
    EXPECT_EQ(CommDlgExtendedError(), static_cast<DWORD>(CDERR_STRUCTSIZE));
    ofn.lStructSize = sizeof ofn;
    ofn.lpstrFile = nullptr;
    EXPECT_EQ(GetOpenFileNameA(&ofn), 0);
    EXPECT_EQ(CommDlgExtendedError(), static_cast<DWORD>(CDERR_INITIALIZATION));
    EXPECT_TRUE(user.log().empty());
}

TEST(ChooseColor, ScriptedColourIsReturnedAndCustomColoursWrittenBack) {
    ScriptedUser user;
    ScopedUser installed(&user);
    COLORREF custom[16] = {};
    custom[0] = 0x123456;
    CHOOSECOLORA cc;
    cc.hwndOwner = 0;
    cc.rgbResult = 0x00FF00;
    cc.lpCustColors = custom;
    cc.Flags = CC_RGBINIT | CC_FULLOPEN;
    json custom_answer = json::array();
    for (int i = 0; i < 16; ++i) custom_answer.push_back(i);
    ASSERT_TRUE(user.load(json::array({{{"color", "#0000FF"}, {"custom", custom_answer}}})));
    ASSERT_EQ(ChooseColorA(&cc), 1);
    EXPECT_EQ(cc.rgbResult, 0xFF0000u);
    EXPECT_EQ(custom[15], 15u);
    const auto log = user.log_of("choose_color");
    EXPECT_EQ(log[0]["initial"], 0x00FF00);
    EXPECT_EQ(log[0]["flags"], 3);
    EXPECT_EQ(log[0]["custom"][0], 0x123456);
    EXPECT_EQ(log[0]["answer"], 0xFF0000);
}

TEST(ChooseColor, CancelKeepsTheColourAndBadRequestsFail) {
    ScriptedUser user;
    ScopedUser installed(&user);
    COLORREF custom[16] = {};
    CHOOSECOLORA cc;
    cc.rgbResult = 0x00FF00;
    cc.lpCustColors = custom;
    user.cancel_color();
    EXPECT_EQ(ChooseColorA(&cc), 0);
    EXPECT_EQ(cc.rgbResult, 0x00FF00u);
    EXPECT_EQ(user.log_of("choose_color")[0]["initial"], 0);  // without CC_RGBINIT it starts black
    cc.lpCustColors = nullptr;
    EXPECT_EQ(ChooseColorA(&cc), 0);
    EXPECT_EQ(CommDlgExtendedError(), static_cast<DWORD>(CDERR_INITIALIZATION));
    cc.lpCustColors = custom;
    cc.lStructSize = 36 + 100;
    EXPECT_EQ(ChooseColorA(&cc), 0);
    EXPECT_EQ(CommDlgExtendedError(), static_cast<DWORD>(CDERR_STRUCTSIZE));
    EXPECT_EQ(ChooseColorA(nullptr), 0);
}
