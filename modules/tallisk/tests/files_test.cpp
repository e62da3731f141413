// Bank files, WAV and BMP import and expressions through the editor: results, every message with
// its caption, and bad files that must lose nothing.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "bank_file.h"
#include "expression.h"
#include "fake_editor.h"
#include "file_bytes.h"
#include "wav_reader.h"
#include <fparser.hh>

using namespace tallisk;
using tallisk::test::FakeEditor;
using tallisk::test::ScriptedUi;
namespace fs = std::filesystem;

namespace {

const std::string kData = std::string(MV_SOURCE_DIR) + "/modules/tallisk/tests/data/";

class Files : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("tallisk_files_" + std::to_string(::getpid()) + "_" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
        editor = std::make_unique<FakeEditor>(&ui);
        editor->initialise(true);
        editor->clear_log();
    }
    void TearDown() override {
        editor.reset();
        fs::remove_all(dir);
    }
    std::string path(const std::string& name) const { return (dir / name).string(); }
    void write(const std::string& name, const std::vector<uint8_t>& bytes) const {
        std::ofstream(path(name), std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    // A bank whose waveform w holds the value w + k / 1024 at sample k, named "Wave w".
    void fill_bank() {
        for (int w = 0; w < kWaveCount; ++w) {
            for (int k = 0; k < kWaveLength; ++k) editor->bank().waveform(w)[k] = w + k / 1024.0f;
            editor->bank().set_name(w, ("Wave " + std::to_string(w)).c_str());
        }
        std::memcpy(editor->bank().edit, editor->bank().waveform(0), 4096);
    }
    std::vector<uint8_t> bank_snapshot() const {
        std::vector<uint8_t> s(sizeof(editor->bank().waves) + sizeof(editor->bank().text.names));
        std::memcpy(s.data(), editor->bank().waves, sizeof(editor->bank().waves));
        std::memcpy(s.data() + sizeof(editor->bank().waves), editor->bank().text.names, sizeof(editor->bank().text.names));
        return s;
    }
    const ScriptedUi::Box& last_box() const { return ui.boxes.back(); }

    fs::path dir;
    ScriptedUi ui;
    std::unique_ptr<FakeEditor> editor;
};

std::vector<float> edit_copy(FakeEditor& e) { return std::vector<float>(e.bank().edit, e.bank().edit + kWaveLength); }

}  // namespace

// ---- bank files -------------------------------------------------------------------------------

TEST_F(Files, Wb1RoundTripsSamplesAndNamesExactly) {
    fill_bank();
    editor->bank().modified = true;
    ASSERT_TRUE(editor->save_bank(path("a.wb1").c_str()));
    EXPECT_FALSE(editor->bank().modified);
    EXPECT_EQ(editor->texts[kPinWbfPath], path("a.wb1"));
    EXPECT_EQ(fs::file_size(path("a.wb1")), kWb1Bytes);
    const std::vector<uint8_t> saved = bank_snapshot();

    FakeEditor other(&ui);
    other.initialise(true);
    other.load_bank(path("a.wb1").c_str());
    EXPECT_EQ(std::memcmp(other.bank().waves, editor->bank().waves, sizeof other.bank().waves), 0);
    EXPECT_EQ(std::memcmp(other.bank().text.names, editor->bank().text.names, sizeof other.bank().text.names), 0);
    EXPECT_EQ(other.bank().edit[5], 5 / 1024.0f);  // the edit buffer reloaded from the loaded waveform 1
    EXPECT_FALSE(other.bank().modified);
    EXPECT_TRUE(ui.boxes.empty());
    (void)saved;
}

TEST_F(Files, SaveDialogGivesThePathAndCancelSavesNothing) {
    ui.files = {std::nullopt, path("chosen.wb1")};
    EXPECT_FALSE(editor->save_bank());
    EXPECT_FALSE(fs::exists(path("chosen.wb1")));
    EXPECT_TRUE(editor->save_bank());
    EXPECT_TRUE(fs::exists(path("chosen.wb1")));
    EXPECT_STREQ(editor->bank().text.bank_path, path("chosen.wb1").c_str());
    EXPECT_STREQ(editor->bank().text.bank_folder, path("chosen.wb1").c_str());
    const FileRequest& r = ui.requests.back().second;
    EXPECT_FALSE(ui.requests.back().first);
    ASSERT_EQ(r.filters.size(), 1u);
    EXPECT_EQ(r.filters[0].description, "Waveform bank files (.wb1)");
    EXPECT_EQ(r.filters[0].pattern, "*.wb1");
    EXPECT_EQ(r.default_extension, "wb1");
    EXPECT_EQ(r.max_length, 300);
}

TEST_F(Files, WbfLoadedAtWaveform10ReplacesWaveforms11To26Only) {
    fill_bank();
    std::vector<uint8_t> wbf(4 + 16 * 4096 + 16 * 16, 0);
    std::memcpy(wbf.data(), "WBF ", 4);
    for (int k = 0; k < 16 * 1024; ++k) {
        const float v = -1.0f - k / 1024;
        std::memcpy(wbf.data() + 4 + k * 4, &v, 4);
    }
    for (int k = 0; k < 16; ++k) std::snprintf(reinterpret_cast<char*>(wbf.data()) + 4 + 65536 + k * 16, 16, "Imported %d", k);
    write("b.wbf", wbf);
    editor->deliver_int(kPinWaveform, 10);
    editor->load_bank(path("b.wbf").c_str());
    for (int w = 0; w < kWaveCount; ++w) {
        if (w >= 10 && w < 26) {
            EXPECT_EQ(editor->bank().waveform(w)[100], -1.0f - (w - 10)) << w;
            EXPECT_EQ(std::string(editor->bank().name(w)), "Imported " + std::to_string(w - 10));
        } else {
            EXPECT_EQ(editor->bank().waveform(w)[100], w + 100 / 1024.0f) << w;
            EXPECT_EQ(std::string(editor->bank().name(w)), "Wave " + std::to_string(w));
        }
    }
    EXPECT_EQ(editor->bank().edit[0], -1.0f);  // the current waveform was reloaded, not overwritten
}

TEST_F(Files, WbfNearTheEndDropsWaveformsBeyond64) {
    std::vector<uint8_t> wbf(4 + 16 * 4096 + 16 * 16, 0);
    std::memcpy(wbf.data(), "WBF ", 4);
    const float one = 1.0f;
    for (int k = 0; k < 16 * 1024; ++k) std::memcpy(wbf.data() + 4 + k * 4, &one, 4);
    write("c.wbf", wbf);
    editor->deliver_int(kPinWaveform, 60);
    editor->load_bank(path("c.wbf").c_str());
    for (int w = 60; w < 64; ++w) EXPECT_EQ(editor->bank().waveform(w)[0], 1.0f);
    EXPECT_EQ(editor->bank().waveform(0)[0], 0.0f);
}

TEST_F(Files, WrongMagicIsRefusedAndTooShortFilesCloseSilently) {
    fill_bank();
    const auto before = bank_snapshot();
    write("bad.wb1", {'R', 'I', 'F', 'F', 1, 2, 3, 4});
    editor->load_bank(path("bad.wb1").c_str());
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(last_box().text, "Invalid file format !");
    EXPECT_EQ(last_box().caption, "Tallisk");
    EXPECT_EQ(last_box().icon, MessageIcon::Warning);
    write("tiny.wb1", {'W', 'B'});
    editor->load_bank(path("tiny.wb1").c_str());
    EXPECT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(bank_snapshot(), before);
}

// A FIFO (or any file that is not a regular one) is refused at once instead of blocking the
// editor, and a file with a foreign magic is not read beyond it.
TEST_F(Files, OnlyRegularFilesAreReadAndOnlyPastTheirMagic) {
    ASSERT_EQ(::mkfifo(path("pipe.wb1").c_str(), 0600), 0);
    EXPECT_FALSE(read_file_bytes(path("pipe.wb1"), kWb1Bytes, {"WB1 "}));
    EXPECT_FALSE(read_file_bytes(dir.string(), kWb1Bytes));
    editor->load_bank(path("pipe.wb1").c_str());
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(last_box().text.rfind("Could not find file ", 0), 0u);

    std::vector<uint8_t> riff(100000, 7);
    std::memcpy(riff.data(), "RIFF", 4);
    write("big.wb1", riff);
    const auto head = read_file_bytes(path("big.wb1"), kWb1Bytes, {"WB1 ", "WBF "});
    ASSERT_TRUE(head);
    EXPECT_EQ(*head, std::vector<uint8_t>(riff.begin(), riff.begin() + 4));
    EXPECT_EQ(read_file_bytes(path("big.wb1"), kWb1Bytes, {"RIFF"})->size(), riff.size());
}

// NaN and infinite samples of a bank file enter the bank as 0; everything else as it was.
TEST_F(Files, NonFiniteBankSamplesBecomeZero) {
    std::vector<uint8_t> bytes(4 + 16 * 4096 + 16 * 16, 0);
    std::memcpy(bytes.data(), "WBF ", 4);
    const float values[] = {std::nanf(""), INFINITY, -INFINITY, 3.4e38f, -2.5f};
    for (int k = 0; k < 5; ++k) std::memcpy(bytes.data() + 4 + 4096 + 4 * k, &values[k], 4);
    write("bad.wbf", bytes);
    editor->load_bank(path("bad.wbf").c_str());
    const float* wave = editor->bank().waveform(1);
    EXPECT_EQ(std::vector<float>(wave, wave + 5), (std::vector<float>{0.0f, 0.0f, 0.0f, 3.4e38f, -2.5f}));
}

TEST_F(Files, ShortBankLoadsNothing) {
    fill_bank();
    ASSERT_TRUE(editor->save_bank(path("full.wb1").c_str()));
    auto bytes = *read_file_bytes(path("full.wb1"), kWb1Bytes);
    FakeEditor fresh(&ui);
    fresh.initialise(true);
    for (size_t cut : {size_t{5}, size_t{4 + 4096 * 10 + 7}, kWb1Bytes - 1}) {
        write("short.wb1", std::vector<uint8_t>(bytes.begin(), bytes.begin() + cut));
        fresh.load_bank(path("short.wb1").c_str());
        EXPECT_EQ(last_box().text, "Cannot read from file !");
        EXPECT_EQ(last_box().caption, "Tallisk");
        for (int w = 0; w < kWaveCount; ++w) ASSERT_EQ(fresh.bank().waveform(w)[7], 0.0f) << cut;
        EXPECT_STREQ(fresh.bank().name(0), "Untitled 1");
    }
}

TEST_F(Files, FailingWriteKeepsTheOldFileAndTheModifiedFlag) {
    fill_bank();
    ASSERT_TRUE(editor->save_bank(path("keep.wb1").c_str()));
    const auto old_bytes = *read_file_bytes(path("keep.wb1"), kWb1Bytes);
    editor->bank().waveform(3)[3] = 42.0f;
    editor->bank().modified = true;

    // A file size limit makes the write itself fail half way, as a full disk would.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old_limit{};
    getrlimit(RLIMIT_FSIZE, &old_limit);
    rlimit small = old_limit;
    small.rlim_cur = 100000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool saved = editor->save_bank(path("keep.wb1").c_str());
    setrlimit(RLIMIT_FSIZE, &old_limit);

    EXPECT_FALSE(saved);
    EXPECT_TRUE(editor->bank().modified);
    EXPECT_EQ(last_box().caption, "Error");
    EXPECT_EQ(last_box().text.rfind("Cannot write to file !", 0), 0u);
    EXPECT_EQ(*read_file_bytes(path("keep.wb1"), kWb1Bytes), old_bytes);
    int files = 0;
    for (const auto& entry : fs::directory_iterator(dir)) files += entry.is_regular_file();
    EXPECT_EQ(files, 1);  // no temporary left behind

    editor->save_bank((dir / "no_such_folder" / "x.wb1").string().c_str());
    EXPECT_EQ(last_box().text, "Cannot open file !");
    EXPECT_EQ(last_box().caption, "Error");
    EXPECT_TRUE(editor->bank().modified);
}

TEST_F(Files, SaveFollowsSymlinksAndRespectsReadOnlyFiles) {
    fill_bank();
    fs::create_directories(dir / "banks");
    fs::create_symlink("banks/real.wb1", dir / "link.wb1");
    ASSERT_TRUE(editor->save_bank(path("link.wb1").c_str()));
    EXPECT_TRUE(fs::is_symlink(dir / "link.wb1"));
    EXPECT_EQ(fs::file_size(dir / "banks" / "real.wb1"), kWb1Bytes);

    if (::geteuid() != 0) {
        write("locked.wb1", {'W', 'B', '1', ' '});
        fs::permissions(dir / "locked.wb1", fs::perms::owner_read);
        editor->bank().modified = true;
        EXPECT_FALSE(editor->save_bank(path("locked.wb1").c_str()));
        EXPECT_EQ(last_box().text, "Cannot open file !");
        EXPECT_EQ(fs::file_size(dir / "locked.wb1"), 4u);
        EXPECT_TRUE(editor->bank().modified);
    }
}

TEST_F(Files, MovedBankIsFoundInTheHostFolder) {
    fill_bank();
    ASSERT_TRUE(editor->save_bank(path("moved.wb1").c_str()));
    FakeEditor other(&ui);
    other.folder = path("tallisk.so");  // the host reports its module's path; the file name is cut off
    other.texts[kPinWbfPath] = "C:\\Users\\someone\\banks\\moved.wb1";
    other.initialise(true);
    EXPECT_EQ(other.bank().waveform(9)[0], 9.0f);
    EXPECT_STREQ(other.bank().text.bank_path, path("moved.wb1").c_str());
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(Files, MissingBankAsksToSearchAndYesOpensTheDialog) {
    editor->folder = path("x");
    ui.answers = {MessageAnswer::Yes};
    ui.files = {std::nullopt};
    editor->load_bank("/nowhere/gone.wb1");
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(last_box().text, "Could not find file /nowhere/gone.wb1.\nWould you like to search manually ?");
    EXPECT_EQ(last_box().caption, "Error");
    EXPECT_EQ(last_box().buttons, MessageButtons::YesNo);
    ASSERT_EQ(ui.requests.size(), 1u);
    const FileRequest& r = ui.requests[0].second;
    ASSERT_EQ(r.filters.size(), 2u);
    EXPECT_EQ(r.filters[1].description, "Tallisk bank files [16 waveforms](.wbf)");
    EXPECT_EQ(r.default_extension, "wbf");
}

TEST_F(Files, PatchRecallLoadsWhenWbfPathDiffers) {
    fill_bank();
    ASSERT_TRUE(editor->save_bank(path("recall.wb1").c_str()));
    FakeEditor other(&ui);
    other.initialise(true);
    other.deliver_int(kPinMorphSwitch, 1);
    other.deliver_text(kPinWbfPath, path("recall.wb1"));
    EXPECT_EQ(other.bank().waveform(2)[0], 2.0f);
    // Morphing is on: every waveform's levels were rebuilt from the loaded bank.
    EXPECT_NE(other.level_store()->published(40)[0], 0.0f);
    other.bank().waveform(2)[0] = 0.0f;
    other.deliver_text(kPinWbfPath, path("recall.wb1"));  // same path: nothing reloads
    EXPECT_EQ(other.bank().waveform(2)[0], 0.0f);
}

TEST_F(Files, NewBankAsksToSaveWhenModifiedThenEmptiesEverything) {
    fill_bank();
    editor->deliver_int(kPinWaveform, 5);
    editor->bank().modified = true;
    ui.answers = {MessageAnswer::No};
    editor->new_bank();
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(last_box().text, "Save current bank ?");
    EXPECT_EQ(last_box().caption, "Save");
    EXPECT_EQ(editor->bank().waveform(40)[10], 0.0f);
    EXPECT_STREQ(editor->bank().name(40), "Untitled 41");
    EXPECT_EQ(editor->texts[kPinWbfPath], "");
    EXPECT_EQ(editor->ints[kPinWaveform], 0);
    EXPECT_EQ(editor->bank().current, 0);
    EXPECT_EQ(editor->level_store()->published(0)[3], 0.0f);
}

TEST_F(Files, ReloadDoesNothingWithoutAPathAndLoadsItOtherwise) {
    editor->reload_bank();
    EXPECT_TRUE(ui.boxes.empty());
    fill_bank();
    ASSERT_TRUE(editor->save_bank(path("r.wb1").c_str()));
    editor->bank().waveform(8)[0] = -7.0f;
    editor->reload_bank();
    EXPECT_EQ(editor->bank().waveform(8)[0], 8.0f);
}

TEST_F(Files, ClosingWithChangesAsksToSave) {
    editor->bank().modified = true;
    ui.answers = {MessageAnswer::No};
    editor->confirm_save_on_close();
    EXPECT_EQ(last_box().text, "You have made changes on your waveforms. Would you like to save changes ?");
    EXPECT_EQ(last_box().caption, "TK_MAIN");
    EXPECT_EQ(last_box().icon, MessageIcon::Question);
}

// ---- WAV ------------------------------------------------------------------------------------

TEST_F(Files, Mono16BitOf1024FramesReproducesItsSamples) {
    editor->import_wav_file(kData + "mono16_1024.wav");
    auto bytes = *read_file_bytes(kData + "mono16_1024.wav", 1 << 20);
    for (int i = 0; i < kWaveLength; ++i) {
        int16_t s;
        std::memcpy(&s, bytes.data() + 44 + 2 * i, 2);
        ASSERT_EQ(editor->bank().edit[i], s * (1.0f / 32768.0f)) << i;
    }
    EXPECT_TRUE(editor->bank().modified);
    EXPECT_EQ(editor->sent(kPinWaveOut), (std::vector<std::string>{"10,0", "12,0"}));
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(Files, StereoUsesTheLeftChannel) {
    editor->import_wav_file(kData + "stereo16_1024.wav");
    auto bytes = *read_file_bytes(kData + "stereo16_1024.wav", 1 << 20);
    for (int i = 0; i < kWaveLength; ++i) {
        int16_t left;
        std::memcpy(&left, bytes.data() + 44 + 4 * i, 2);
        ASSERT_EQ(editor->bank().edit[i], left * (1.0f / 32768.0f)) << i;
    }
}

TEST_F(Files, EightAnd24BitFilesAreReadAtTheirOwnWidth) {
    editor->import_wav_file(kData + "mono24_1024.wav");  // square at half scale, extensible format
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_NEAR(editor->bank().edit[10], 0.5f, 1e-3);
    EXPECT_NEAR(editor->bank().edit[1000], -0.5f, 1e-3);
    editor->import_wav_file(kData + "mono8_1024.wav");  // sawtooth at half scale
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_NEAR(editor->bank().edit[512], 0.0f, 0.02);
    EXPECT_LT(editor->bank().edit[100], editor->bank().edit[400]);
}

TEST_F(Files, OtherLengthsAreStretchedToOneWaveform) {
    editor->import_wav_file(kData + "mono16_300.wav");  // one cycle of a sine in 300 frames
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_NEAR(editor->bank().edit[256], 0.8f, 0.01);
    EXPECT_NEAR(editor->bank().edit[768], -0.8f, 0.01);
}

TEST_F(Files, BadWavFilesShowTheirMessagesAndKeepTheBuffer) {
    auto good = *read_file_bytes(kData + "mono16_1024.wav", 1 << 20);
    generate(Shape::Sawtooth, editor->bank().edit);
    const auto before = edit_copy(*editor);
    struct Case {
        std::vector<uint8_t> bytes;
        const char* text;
        const char* caption;
    };
    auto patched = [&](size_t at, const char* with, size_t n) {
        auto b = good;
        std::memcpy(b.data() + at, with, n);
        return b;
    };
    const uint32_t huge = 0x7FFFFFF0;
    auto huge_data = good;
    std::memcpy(huge_data.data() + 40, &huge, 4);
    auto float_format = patched(20, "\x03\x00", 2);
    auto twelve_bit = patched(34, "\x0c\x00", 2);
    std::vector<uint8_t> no_data(good.begin(), good.begin() + 36);
    const std::vector<Case> cases = {
        {{'R', 'I'}, "Cannot read from file! closing ...", "QB_WaveView"},
        {patched(0, "RIFX", 4), "Not a RIFF file!", "QB_WaveView"},
        {{'R', 'I', 'F', 'F', 1, 2}, "Invalid header!", "QB_WaveView"},
        {patched(8, "AVI ", 4), "Not a Microsoft PCM Wave file!", "QB_WaveView"},
        {float_format, "This format is not supported!", "Error"},
        {twelve_bit, "This format is not supported!", "Error"},
        {no_data, "Missing data chunk!", "Error"},
        {huge_data, "Cannot read from file! closing ...", "QB_WaveView"},
        {std::vector<uint8_t>(good.begin(), good.begin() + 500), "Cannot read from file! closing ...", "QB_WaveView"},
    };
    for (const Case& c : cases) {
        write("bad.wav", c.bytes);
        editor->import_wav_file(path("bad.wav"));
        EXPECT_EQ(last_box().text, c.text);
        EXPECT_EQ(last_box().caption, c.caption);
        EXPECT_EQ(last_box().icon, MessageIcon::Warning);
        EXPECT_EQ(edit_copy(*editor), before) << c.text;
    }
    editor->import_wav_file(path("missing.wav"));
    EXPECT_EQ(last_box().text, "Cannot open file!");
}

TEST_F(Files, ExtraChunksBeforeDataAreSkipped) {
    auto good = *read_file_bytes(kData + "mono16_1024.wav", 1 << 20);
    std::vector<uint8_t> with_list(good.begin(), good.begin() + 36);
    const uint8_t list[] = {'L', 'I', 'S', 'T', 3, 0, 0, 0, 'a', 'b', 'c', 0};  // odd size, padded
    with_list.insert(with_list.end(), list, list + sizeof list);
    with_list.insert(with_list.end(), good.begin() + 36, good.end());
    write("list.wav", with_list);
    editor->import_wav_file(path("list.wav"));
    const auto a = edit_copy(*editor);
    editor->import_wav_file(kData + "mono16_1024.wav");
    EXPECT_EQ(a, edit_copy(*editor));
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(Files, WavDialogFilterAndCancel) {
    editor->bank().modified = false;
    editor->import_wav();
    EXPECT_FALSE(editor->bank().modified);
    const FileRequest& r = ui.requests.back().second;
    EXPECT_EQ(r.filters[0].description, "Windows PCM (*.wav)");
    EXPECT_EQ(r.filters[0].pattern, "*.WAV");
    EXPECT_EQ(r.max_length, 260);
}

// ---- BMP ------------------------------------------------------------------------------------

TEST_F(Files, PaletteBitmapGivesTheLineAsAWaveform) {
    editor->import_bmp_file(kData + "line8.bmp");
    EXPECT_TRUE(ui.boxes.empty());
    // Column 0 has its pixel 7 rows above the middle, column 63 nine below.
    EXPECT_EQ(editor->bank().edit[0], 7.0f / 9.0f);
    EXPECT_EQ(editor->bank().edit[1023], -1.0f);
    // In between it follows the line down (the stretch rounds to the nearest column and reaches half
    // a column either way from it).
    for (int i = 0; i < kWaveLength; ++i) {
        ASSERT_GE(editor->bank().edit[i], -1.0f - 1e-6f) << i;
        ASSERT_LE(editor->bank().edit[i], 8.0f / 9.0f) << i;
    }
    EXPECT_GT(editor->bank().edit[100], editor->bank().edit[500]);
    EXPECT_GT(editor->bank().edit[500], editor->bank().edit[900]);
    EXPECT_STREQ(editor->bank().text.picture_folder, (kData + "line8.bmp").c_str());
}

TEST_F(Files, BadBitmapsStopWithoutTouchingTheBuffer) {
    generate(Shape::Sinus, editor->bank().edit);
    const auto before = edit_copy(*editor);
    editor->import_bmp_file(kData + "line1.bmp");
    EXPECT_EQ(last_box().text, "Not a 1 bit BMP...");
    EXPECT_EQ(last_box().caption, "Error");
    EXPECT_EQ(edit_copy(*editor), before);
    const size_t boxes = ui.boxes.size();

    auto good = *read_file_bytes(kData + "line8.bmp", 1 << 20);
    auto with = [&](size_t at, int32_t v) {
        auto b = good;
        std::memcpy(b.data() + at, &v, 4);
        return b;
    };
    const std::vector<std::vector<uint8_t>> silent = {
        with(18, 0),                                              // width 0
        with(18, -5),                                             // negative width
        with(22, 0),                                              // height 0
        with(22, -32),                                            // top-down rows
        with(18, 100000),                                         // rows longer than the file
        with(10, 0x7FFFFFFF),                                     // pixels beyond the end
        std::vector<uint8_t>(good.begin(), good.end() - 100),     // cut short
        with(14, 12),                                             // other header size
        {'B', 'M', 0, 0},                                         // too short for the headers
        with(0, 0x4D42 ^ 0x0101),                                 // not "BM"
    };
    for (const auto& bytes : silent) {
        write("bad.bmp", bytes);
        editor->import_bmp_file(path("bad.bmp"));
        EXPECT_EQ(edit_copy(*editor), before);
    }
    EXPECT_EQ(ui.boxes.size(), boxes);
    editor->import_bmp_file("");
    EXPECT_EQ(last_box().text, "Cannot open file, invalid file name!");
    EXPECT_EQ(last_box().caption, "Error");
}

TEST_F(Files, BitmapWithNothingDrawnLeavesTheBuffer) {
    auto good = *read_file_bytes(kData + "line8.bmp", 1 << 20);
    const uint32_t offset = good[10] | (good[11] << 8);
    for (size_t i = offset; i < good.size(); ++i) good[i] = 21;  // all background
    write("blank.bmp", good);
    generate(Shape::Square, editor->bank().edit);
    const auto before = edit_copy(*editor);
    editor->import_bmp_file(path("blank.bmp"));
    EXPECT_EQ(edit_copy(*editor), before);
    EXPECT_TRUE(ui.boxes.empty());
}

// ---- expressions ----------------------------------------------------------------------------

namespace {
std::array<std::string, 7> output_only(const std::string& e) { return {"", "", "", "", "", "", e}; }
}  // namespace

TEST_F(Files, SineExpressionMatchesTheSinusGenerator) {
    editor->process_expressions(output_only("sin(2*PI*t)"));
    std::vector<float> sinus(kWaveLength);
    generate(Shape::Sinus, sinus.data());
    for (int i = 0; i < kWaveLength; ++i) // 2*PI*t in double against the generator's single-precision product: one rounding of the phase.
        ASSERT_NEAR(editor->bank().edit[i], sinus[i], 1e-6f) << i;
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(Files, XAloneLeavesTheBufferUpToNormalisation) {
    generate(Shape::Triangle, editor->bank().edit);
    const auto before = edit_copy(*editor);
    editor->process_expressions(output_only("x"));
    EXPECT_EQ(edit_copy(*editor), before);
    editor->undo();
    EXPECT_EQ(edit_copy(*editor), before);
}

TEST_F(Files, SyntaxErrorInSlot3ChangesNothingAndNamesFparsersMessage) {
    generate(Shape::Ramp, editor->bank().edit);
    const auto before = edit_copy(*editor);
    editor->process_expressions({"t", "2*t", "sin(t", "", "", "", "v1+v2"});
    EXPECT_EQ(edit_copy(*editor), before);
    ASSERT_EQ(ui.boxes.size(), 1u);
    FunctionParser fp;
    fp.Parse("sin(t", "x,t,v1,v2,v3,v4,v5,v6");
    EXPECT_EQ(last_box().text, std::string("An error occured while evaluating:\n  sin(t\n") + fp.ErrorMsg());
    EXPECT_EQ(last_box().caption, "QB_TKMAIN");
}

TEST_F(Files, ParameterSlotsFeedTheOutputAndNormalise) {
    editor->process_expressions({"2*t", "", "", "", "", "", "v1"});
    for (int i = 0; i < kWaveLength; ++i)
        ASSERT_FLOAT_EQ(editor->bank().edit[i], static_cast<float>(2.0 * i / 1024) / static_cast<float>(2.0 * 1023 / 1024));
    EXPECT_EQ(editor->bank().edit[1023], 1.0f);
    editor->settings().normalised_output = 0;
    editor->process_expressions({"2*t", "", "", "", "", "", "v1"});
    EXPECT_EQ(editor->bank().edit[1023], static_cast<float>(2.0 * 1023 / 1024));
    EXPECT_EQ(editor->expression_text(0), "2*t");
}

TEST_F(Files, NonFiniteResultsBecomeZero) {
    editor->settings().normalised_output = 0;
    for (const char* text : {"exp(1000)", "sqrt(-1)", "exp(1000)-exp(1000)"}) {
        generate(Shape::Square, editor->bank().edit);
        editor->process_expressions(output_only(text));
        for (int i = 0; i < kWaveLength; ++i) ASSERT_EQ(editor->bank().edit[i], 0.0f) << text;
    }
    editor->process_expressions(output_only("sqrt(t-0.5)"));  // NaN for t < 0.5
    EXPECT_EQ(editor->bank().edit[0], 0.0f);
    EXPECT_FLOAT_EQ(editor->bank().edit[768], 0.5f);
}

TEST_F(Files, HelpShowsTheQuickInfo) {
    editor->show_expression_help();
    EXPECT_EQ(last_box().caption, "Help");
    EXPECT_EQ(last_box().icon, MessageIcon::Information);
    EXPECT_EQ(last_box().text.rfind("Quick info:\nUse simple math expressions", 0), 0u);
}
