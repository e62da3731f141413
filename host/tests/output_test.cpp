// `mvhost render` never clobbers what an output path names: devices, FIFOs, symlinks, modes, long
// names and the patch itself survive, and an interrupted render leaves nothing behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "mv_testing/exec.h"
#include "mvhost/render.h"

namespace fs = std::filesystem;

namespace {

const char* kPatch = R"({"sample_rate": 48000, "block_size": 100, "duration": 0.01,
  "instances": [{"name": "t", "module": "host_tempo"}, {"name": "m", "module": "midi_source"}],
  "output": {"channels": ["t.Tempo/BPM Out"]}})";

struct RenderOutput : ::testing::Test {
    fs::path dir;
    std::string patch;
    void SetUp() override {
        dir = fs::temp_directory_path() / ("mvhost_output_" + std::to_string(::getpid()) + "_" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
        patch = (dir / "patch.json").string();
        std::ofstream(patch) << kPatch;
    }
    void TearDown() override { fs::remove_all(dir); }
    int render(const std::string& out, std::string* err_text = nullptr, const std::string& user_log = "") {
        mvh::RenderOptions o;
        o.patch = patch;
        o.output = out;
        o.user_log = user_log;
        o.plugin_dirs = {MV_PLUGIN_DIR};
        o.quiet = true;
        std::ostringstream err;
        const int rc = mvh::cmd_render(o, err);
        if (err_text) *err_text = err.str();
        return rc;
    }
    static sf_count_t frames_in(const fs::path& wav) {
        SF_INFO info{};
        SNDFILE* f = sf_open(wav.c_str(), SFM_READ, &info);
        if (!f) return -1;
        sf_close(f);
        return info.frames;
    }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
};

TEST_F(RenderOutput, DevNullStaysADevice) {
    std::string err;
    ASSERT_EQ(render("/dev/null", &err), 0) << err;
    struct stat st {};
    ASSERT_EQ(::lstat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
}

TEST_F(RenderOutput, AFifoReceivesACompleteWav) {
    const fs::path fifo = dir / "pipe.wav";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::string bytes;
    std::thread reader([&] {
        std::ifstream in(fifo, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        bytes = s.str();
    });
    std::string err;
    const int rc = render(fifo.string(), &err);
    reader.join();
    ASSERT_EQ(rc, 0) << err;
    std::ofstream(dir / "copy.wav", std::ios::binary) << bytes;
    EXPECT_EQ(frames_in(dir / "copy.wav"), 480);
    struct stat st {};
    ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST_F(RenderOutput, ASymlinkKeepsPointingAtTheNewFileAndModesAreKept) {
    fs::create_directories(dir / "takes");
    std::ofstream(dir / "takes" / "t1.wav") << "old";
    ASSERT_EQ(::chmod((dir / "takes" / "t1.wav").c_str(), 0640), 0);
    fs::create_symlink("takes/t1.wav", dir / "latest.wav");
    std::string err;
    ASSERT_EQ(render((dir / "latest.wav").string(), &err), 0) << err;
    EXPECT_TRUE(fs::is_symlink(dir / "latest.wav"));
    EXPECT_EQ(frames_in(dir / "takes" / "t1.wav"), 480);
    struct stat st {};
    ASSERT_EQ(::stat((dir / "takes" / "t1.wav").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(RenderOutput, A250CharacterNameRenders) {
    const std::string name = std::string(246, 'x') + ".wav";
    std::string err;
    ASSERT_EQ(render((dir / name).string(), &err), 0) << err;
    EXPECT_EQ(frames_in(dir / name), 480);
    EXPECT_EQ(names(), (std::vector<std::string>{"patch.json", name}));
}

// No output replaces another output or a file the run reads (the patch through a hard link or a
// symlink, its MIDI file), and a collision is refused before any work, naming both.
TEST_F(RenderOutput, NoOutputReplacesAnotherOutputOrAnInput) {
    fs::create_hard_link(patch, dir / "same.json");
    fs::create_symlink("patch.json", dir / "alias.json");
    const std::string mid = (dir / "in.mid").string();
    std::ofstream(mid) << std::string("MThd\0\0\0\6\0\0\0\x01\x01\xE0MTrk\0\0\0\4\0\xFF\x2F\0", 26);
    const std::string wav = (dir / "a.wav").string(), log = (dir / "a.json").string();
    const struct {
        std::string output, user_log, save_patch, says;
        std::vector<std::string> midi;
    } cases[] = {
        {patch, "", "", "-o " + patch + ": is the patch (" + patch + ")", {}},
        {(dir / "same.json").string(), "", "", "is the patch", {}},
        {(dir / "alias.json").string(), "", "", "is the patch", {}},
        {wav, patch, "", "--user-log " + patch + ": is the patch", {}},
        {wav, wav, "", "--user-log " + wav + ": is the same file as -o " + wav, {}},
        {wav, "", wav, "--save-patch " + wav + ": is the same file as -o " + wav, {}},
        {mid, "", "", "-o " + mid + ": is the MIDI file of events[0] (" + mid + ")", {mid}},
        {wav, log, (dir / "alias.json").string(), "", {}},  // the patch saved onto itself is a save
    };
    const std::string original = kPatch;
    for (const auto& c : cases) {
        mvh::RenderOptions o;
        o.patch = patch;
        o.output = c.output;
        o.user_log = c.user_log;
        o.save_patch = c.save_patch;
        o.overrides.midi = c.midi;
        o.plugin_dirs = {MV_PLUGIN_DIR};
        o.quiet = true;
        std::ostringstream err;
        const int rc = mvh::cmd_render(o, err);
        EXPECT_EQ(rc, c.says.empty() ? 0 : 2) << c.output << " " << err.str();
        EXPECT_NE(err.str().find(c.says), std::string::npos) << err.str();
        if (c.says.empty()) continue;
        std::ifstream in(patch);
        std::stringstream text;
        text << in.rdbuf();
        EXPECT_EQ(text.str(), original);
        EXPECT_FALSE(fs::exists(wav));
        EXPECT_EQ(fs::file_size(mid), 26u);
    }
}

// Every output's folder is checked before the render starts; an exit with status 2 leaves every
// output as it was.
TEST_F(RenderOutput, AllOutputsOrNone) {
    const std::string keep = (dir / "keep.wav").string();
    const struct {
        std::string user_log, save_patch, panels, says;
        std::vector<std::string> midi_out;
    } cases[] = {
        {(dir / "nodir/log.json").string(), "", "", "nodir/log.json: cannot write into the folder", {}},
        {"", dir.string(), "", ": is a folder", {}},
        {"", "", "/proc/x", "--panels /proc/x: cannot make the folder /proc/x", {}},
        {"", "", "", "nodir/a.mid: cannot write into the folder", {"m.MIDI Out=" + (dir / "nodir/a.mid").string()}},
    };
    for (const auto& c : cases) {
        std::ofstream(keep) << "keep";
        mvh::RenderOptions o;
        o.patch = patch;
        o.output = keep;
        o.user_log = c.user_log;
        o.save_patch = c.save_patch;
        o.panels_dir = c.panels;
        o.midi_out = c.midi_out;
        o.plugin_dirs = {MV_PLUGIN_DIR};
        o.quiet = true;
        std::ostringstream err;
        EXPECT_EQ(mvh::cmd_render(o, err), 2) << err.str();
        EXPECT_NE(err.str().find(c.says), std::string::npos) << err.str();
        EXPECT_EQ(fs::file_size(keep), 4u) << err.str();
        EXPECT_EQ(names(), (std::vector<std::string>{"keep.wav", "patch.json"})) << err.str();
    }
}

// Through the mvhost program: an interrupt while the WAV is being written removes its temporary
// file, says so, and ends the process by the signal as a shell expects.
TEST_F(RenderOutput, AnInterruptedRenderLeavesNothingBehind) {
    std::ofstream(patch) << R"({"sample_rate": 1000, "block_size": 8192, "samples": 200000000,
      "instances": [{"name": "t", "module": "host_tempo"}, {"name": "m", "module": "midi_source"}],
  "output": {"channels": ["t.Tempo/BPM Out"]}})";
    const std::string out = (dir / "long.wav").string(), log = (dir / "stderr.txt").string();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const std::string cmd = "exec " + mv_testing::program(MVHOST_EXE) + " render '" + patch + "' -o '" + out + "' -q 2>'" + log + "'";
        ::execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    // Wait until the temporary file is being written, then interrupt.
    bool writing = false;
    for (int k = 0; k < 3000 && !writing; ++k) {
        for (const std::string& n : names()) writing = writing || n.rfind("long.wav.part-", 0) == 0;
        if (!writing) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ::kill(child, SIGINT);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(writing);
    ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << (WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    EXPECT_EQ(WTERMSIG(status), SIGINT);
    std::ifstream in(log);
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "mvhost render: interrupted");
    EXPECT_EQ(names(), (std::vector<std::string>{"patch.json", "stderr.txt"}));
}

}  // namespace
