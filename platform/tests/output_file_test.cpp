// Output files: what the path names survives (devices, FIFOs, symlinks, modes, long names,
// read-only files), and an interrupted writer leaves no temporary file behind.
#include "mvp/output_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

struct OutputFileTest : ::testing::Test {
    fs::path dir;
    void SetUp() override {
        dir = fs::temp_directory_path() / ("mvp_output_" + std::to_string(::getpid()) + "_" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(dir);
    }
    std::string read(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::vector<std::string> names() {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
};

TEST_F(OutputFileTest, WritingToACharacterDeviceKeepsTheDevice) {
    std::string error;
    ASSERT_TRUE(mvp::write_output_file("/dev/null", "RIFF", &error)) << error;
    struct stat st {};
    ASSERT_EQ(::stat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    // A seekable writer (libsndfile) writes /dev/null directly too: it can seek.
    mvp::OutputFile out;
    ASSERT_TRUE(out.open("/dev/null", &error, mvp::OutputFile::Access::Seekable)) << error;
    EXPECT_TRUE(out.in_place());
    ASSERT_TRUE(out.commit(&error)) << error;
}

TEST_F(OutputFileTest, AFifoIsWrittenInPlaceEvenForASeekableWriter) {
    const fs::path fifo = dir / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::string received;
    std::thread reader([&] { received = read(fifo); });
    mvp::OutputFile out;
    std::string error;
    ASSERT_TRUE(out.open(fifo.string(), &error, mvp::OutputFile::Access::Seekable)) << error;
    // The writer goes back to patch its header, as a WAV writer does; the reader sees the result.
    ASSERT_TRUE(out.write("....body", 8));
    ASSERT_EQ(::lseek(out.fd(), 0, SEEK_SET), 0);
    ASSERT_TRUE(out.write("head", 4));
    ASSERT_TRUE(out.commit(&error)) << error;
    reader.join();
    EXPECT_EQ(received, "headbody");
    struct stat st {};
    ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(names(), std::vector<std::string>{"pipe"});
}

TEST_F(OutputFileTest, ASymlinkStaysAndItsTargetIsReplaced) {
    fs::create_directories(dir / "real");
    std::ofstream(dir / "real" / "take.wav") << "old";
    fs::create_symlink("real/take.wav", dir / "link.wav");
    fs::create_symlink("real/new.wav", dir / "dangling.wav");
    std::string error;
    ASSERT_TRUE(mvp::write_output_file((dir / "link.wav").string(), "new", &error)) << error;
    ASSERT_TRUE(mvp::write_output_file((dir / "dangling.wav").string(), "fresh", &error)) << error;
    EXPECT_TRUE(fs::is_symlink(dir / "link.wav"));
    EXPECT_TRUE(fs::is_symlink(dir / "dangling.wav"));
    EXPECT_EQ(read(dir / "real" / "take.wav"), "new");
    EXPECT_EQ(read(dir / "real" / "new.wav"), "fresh");
}

TEST_F(OutputFileTest, AReplacedFileKeepsItsModeAndANewOneFollowsTheUmask) {
    const fs::path kept = dir / "kept.json";
    std::ofstream(kept) << "old";
    ASSERT_EQ(::chmod(kept.c_str(), 0640), 0);
    const mode_t previous = ::umask(027);
    std::string error;
    const bool ok_kept = mvp::write_output_file(kept.string(), "new", &error);
    const bool ok_new = mvp::write_output_file((dir / "new.json").string(), "new", &error);
    ::umask(previous);
    ASSERT_TRUE(ok_kept && ok_new) << error;
    struct stat st {};
    ASSERT_EQ(::stat(kept.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    ASSERT_EQ(::stat((dir / "new.json").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);  // 0666 less the umask 027
}

TEST_F(OutputFileTest, A250CharacterNameGetsATemporaryNameThatFits) {
    const std::string name = std::string(246, 'n') + ".wav";
    std::string error;
    ASSERT_TRUE(mvp::write_output_file((dir / name).string(), "data", &error)) << error;
    EXPECT_EQ(read(dir / name), "data");
    EXPECT_EQ(names(), std::vector<std::string>{name});
    // The cut never splits a character: a 2-byte "é" straddling the limit goes whole.
    EXPECT_EQ(mvp::temporary_name("ab\xc3\xa9", 10, "1234567"), "ab1234567");
    EXPECT_EQ(mvp::temporary_name("short", 255, ".part-x"), "short.part-x");
}

TEST_F(OutputFileTest, FailuresLeaveTheOldFileAndNoTemporary) {
    const fs::path locked = dir / "locked.wb1";
    std::ofstream(locked) << "old";
    ASSERT_EQ(::chmod(locked.c_str(), 0444), 0);
    std::string error;
    if (::geteuid() != 0) {
        // A read-only file is not replaced behind its owner's back.
        EXPECT_FALSE(mvp::write_output_file(locked.string(), "new", &error));
        EXPECT_NE(error.find("locked.wb1: cannot write: Permission denied"), std::string::npos) << error;
        EXPECT_EQ(read(locked), "old");
    }
    EXPECT_FALSE(mvp::write_output_file(dir.string(), "x", &error));
    EXPECT_NE(error.find("is a folder"), std::string::npos) << error;
    EXPECT_FALSE(mvp::write_output_file((dir / "missing" / "x.wav").string(), "x", &error));
    EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
    EXPECT_FALSE(mvp::write_output_file("", "x", &error));
    // Abandoned and failed outputs remove their temporary files.
    {
        mvp::OutputFile out;
        ASSERT_TRUE(out.open((dir / "dropped.wav").string(), &error)) << error;
        out.write("x", 1);
    }
    EXPECT_EQ(names(), std::vector<std::string>{"locked.wb1"});
}

TEST_F(OutputFileTest, SameFileSeesLinksAndHardLinks) {
    const fs::path patch = dir / "patch.json";
    std::ofstream(patch) << "{}";
    fs::create_symlink("patch.json", dir / "alias.json");
    fs::create_hard_link(patch, dir / "hard.json");
    EXPECT_TRUE(mvp::same_file(patch.string(), (dir / "alias.json").string()));
    EXPECT_TRUE(mvp::same_file(patch.string(), (dir / "hard.json").string()));
    EXPECT_FALSE(mvp::same_file(patch.string(), (dir / "other.json").string()));
}

TEST_F(OutputFileTest, AnInterruptRemovesTheTemporaryFileAndEndsByTheSignal) {
    const fs::path target = dir / "out.wav";
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::dup2(fds[1], STDERR_FILENO);
        mvp::remove_temporaries_on_interrupt("writer: interrupted");
        mvp::OutputFile out;
        std::string error;
        if (!out.open(target.string(), &error)) ::_exit(3);
        out.write("partial", 7);
        ::raise(SIGINT);
        ::_exit(4);
    }
    ::close(fds[1]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    char text[128] = {};
    const ssize_t n = ::read(fds[0], text, sizeof text - 1);
    ::close(fds[0]);
    ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
    EXPECT_EQ(WTERMSIG(status), SIGINT);
    EXPECT_EQ(std::string(text, n > 0 ? static_cast<size_t>(n) : 0), "writer: interrupted\n");
    EXPECT_TRUE(names().empty());
}

}  // namespace
