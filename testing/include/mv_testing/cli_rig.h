// A rig for tests that run the project's command-line tools as a user does: each test gets a
// folder of its own (removed after it), runs a command line there through the shell, and reads
// its status, its standard output and error, and the sound files it wrote.
#pragma once

#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "mv_testing/exec.h"

namespace mv_testing {

struct CliResult {
    int status = -1;
    std::string out, err;
};

inline std::string slurp(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class CliRig : public ::testing::Test {
protected:
    void SetUp() override {
        dir = std::filesystem::temp_directory_path() /
              ("mv_cli_" + std::to_string(::getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    // `tool` is the path of one of the project's programs; `args` a shell text (pipes allowed
    // after it, whose programs start as they are).
    CliResult run(const std::string& tool, const std::string& args) const {
        const std::string cmd = "cd '" + dir.string() + "' && " + program("'" + tool + "'") + " " + args + " >'" +
                                (dir / ".stdout").string() + "' 2>'" + (dir / ".stderr").string() + "'";
        CliResult r;
        const int raw = std::system(cmd.c_str());
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        r.out = slurp(dir / ".stdout");
        r.err = slurp(dir / ".stderr");
        return r;
    }
    std::string write(const std::string& name, const std::string& text) const {
        std::ofstream(dir / name) << text;
        return (dir / name).string();
    }
    // The interleaved samples of a sound file in the folder (empty when it cannot be read).
    std::vector<float> read_sound(const std::string& name, SF_INFO* info) const {
        *info = SF_INFO{};
        SNDFILE* f = sf_open((dir / name).c_str(), SFM_READ, info);
        if (!f) return {};
        std::vector<float> data(static_cast<size_t>(info->frames * info->channels));
        sf_readf_float(f, data.data(), info->frames);
        sf_close(f);
        return data;
    }

    std::filesystem::path dir;
};

}  // namespace mv_testing
