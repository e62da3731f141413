// The arp_chorus bundle in Ardour, headless on its dummy backend, as a musician uses it: found in
// a fresh LV2 folder, added to a MIDI track, played from a note processor, a control automated,
// saved, reopened and exported; saved again (the chorus switched off, the bundle's own bank file
// gone), reopened and exported again. Ardour keeps its plug-ins running between exports, so the exports are
// compared by their notes (onsets, level), not bit for bit. ardour/session.lua drives Ardour.
#include <gtest/gtest.h>
#include <signal.h>
#include <sndfile.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "mv_testing/exec.h"
#include "wav_channels.h"

namespace fs = std::filesystem;

namespace {

const fs::path kScripts = MV_SOURCE_DIR "/host/lv2/tests/ardour";
const std::string kUri = "urn:morvane:lv2:arp_chorus";
constexpr double kRate = 48000;
// The notes of ardour/notes.lua: on, off (seconds).
constexpr double kNotes[][2] = {{0.5, 1.5}, {2.5, 3.5}, {4.5, 5.5}};
// Ardour may be slow to start; a step that takes longer than this is stopped and fails.
constexpr auto kWatchdog = std::chrono::seconds(120);

// Ardour 7.3 now and then corrupts its heap in its export code and dies of it (SIGSEGV, SIGABRT),
// in this script's steps as with an empty MIDI track and no plug-in at all; a step that ends so
// is run again from the session as it was before it, up to this many times.
constexpr int kAttempts = 8;

struct Step {
    int status = -1;  // the exit status, or -1 when the watchdog stopped it or it died by a signal
    int signal = 0;   // the signal it died of
    bool stopped = false;
    std::string log;
    double seconds = 0;
    int attempts = 0;
};

// One ardour7-lua process in a process group of its own, with its settings, caches and LV2 folder
// under DIR: nothing of the user's Ardour set-up is read or written.
Step run_ardour(const fs::path& dir, const std::string& step) {
    const fs::path log = dir / (step + ".log");
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        FILE* out = std::fopen(log.c_str(), "w");
        if (!out) _exit(127);
        dup2(fileno(out), 1);
        dup2(fileno(out), 2);
        setenv("HOME", dir.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
        setenv("XDG_CACHE_HOME", (dir / "cache").c_str(), 1);
        setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
        setenv("LV2_PATH", (dir / "lv2").c_str(), 1);
        unsetenv("DISPLAY");
        const std::string script = (kScripts / "session.lua").string();
        execlp("ardour7-lua", "ardour7-lua", script.c_str(), step.c_str(), dir.c_str(), kUri.c_str(), nullptr);
        _exit(127);
    }
    Step result;
    int status = 0;
    bool ended = false;
    while (!ended && std::chrono::steady_clock::now() - start < kWatchdog) {
        ended = waitpid(pid, &status, WNOHANG) == pid;
        if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!ended) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    kill(-pid, SIGKILL);  // whatever it started in its group
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (ended && WIFEXITED(status)) result.status = WEXITSTATUS(status);
    if (ended && WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    result.stopped = !ended;
    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    result.log = text.str();
    return result;
}

// The script's "mv:" lines, split at its tabs.
std::vector<std::vector<std::string>> said(const std::string& log) {
    std::vector<std::vector<std::string>> lines;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("mv:\t", 0) != 0) continue;
        std::vector<std::string> fields;
        std::istringstream f(line.substr(4));
        for (std::string field; std::getline(f, field, '\t');) fields.push_back(field);
        lines.push_back(fields);
    }
    return lines;
}

using lv2test::read_wav;

double rms(const std::vector<float>& x, double from, double to) {
    const size_t a = static_cast<size_t>(from * kRate), b = std::min(x.size(), static_cast<size_t>(to * kRate));
    double sum = 0;
    for (size_t i = a; i < b; ++i) sum += double(x[i]) * x[i];
    return b > a ? std::sqrt(sum / double(b - a)) : 0;
}

// Where the sound starts after a quiet stretch of at least 0.3 s: the onset of each note.
std::vector<double> onsets(const std::vector<float>& x) {
    std::vector<double> found;
    size_t quiet = static_cast<size_t>(0.3 * kRate);
    for (size_t i = 0; i < x.size(); ++i) {
        if (std::fabs(x[i]) < 1e-3f) {
            ++quiet;
            continue;
        }
        if (quiet >= static_cast<size_t>(0.3 * kRate)) found.push_back(double(i) / kRate);
        quiet = 0;
    }
    return found;
}

// The session made, exported, saved, reopened and exported again, once for all the tests.
struct Session {
    fs::path dir;
    std::map<std::string, Step> steps;
    std::string failure;  // why the session could not be made, for every test to say

    Session() {
        char t[] = "/tmp/lv2_ardour_test.XXXXXX";
        dir = mkdtemp(t);
        const fs::path config = dir / "config/ardour7";
        fs::create_directories(config / "scripts");
        fs::create_directories(config / "export");
        fs::create_directories(dir / "lv2");
        fs::copy_file(kScripts / "config", config / "config");
        fs::copy_file(kScripts / "notes.lua", config / "scripts/notes.lua");
        fs::copy_file(kScripts / "test-float.format", config / "export/test-float.format");
        fs::copy_file(kScripts / "test-float.preset", config / "export/test-float.preset");
        const fs::path bundle = dir / "lv2/arp_chorus.lv2";
        const std::string exporter = mv_testing::program(MV_BINARY_DIR "/bin/mvhost") + " export-lv2 " + MV_SOURCE_DIR +
                                     "/examples/arp_chorus.json -o " + bundle.string() + " >/dev/null 2>&1";
        if (std::system(exporter.c_str()) != 0) {
            failure = "export-lv2 failed";
            return;
        }
        for (const char* step : {"create", "before", "after"}) {
            // From the first reopening on, only the state the session saved has the bank.
            if (std::string(step) == "before") fs::remove(bundle / "files/arp_bank.wbf");
            const fs::path kept = dir / "session.kept";
            if (fs::exists(dir / "session")) fs::copy(dir / "session", kept, fs::copy_options::recursive);
            Step& s = steps[step];
            double seconds = 0;
            for (int attempt = 1; attempt <= kAttempts; ++attempt) {
                fs::remove_all(dir / "session");
                if (fs::exists(kept)) fs::copy(kept, dir / "session", fs::copy_options::recursive);
                fs::remove(dir / (std::string(step) + ".wav"));
                s = run_ardour(dir, step);
                seconds += s.seconds;
                s.attempts = attempt;
                if (s.signal != SIGSEGV && s.signal != SIGABRT) break;
            }
            fs::remove_all(kept);
            std::printf("ardour7-lua %s: %.1f s, %d attempt(s)\n", step, seconds, s.attempts);
            if (s.status != 0) {
                failure = std::string("ardour7-lua ") + step + " failed (" +
                          (s.stopped ? "stopped by the watchdog" : s.signal ? "signal " + std::to_string(s.signal) : "status " + std::to_string(s.status)) +
                          ", attempt " + std::to_string(s.attempts) + "):\n" + s.log;
                return;
            }
        }
    }
    ~Session() { fs::remove_all(dir); }

    std::vector<std::vector<std::string>> said(const std::string& step) const { return ::said(steps.at(step).log); }
};

const Session& session() {
    static const Session s;
    return s;
}

#define NEED_SESSION()                                                 \
    const Session& s = session();                                      \
    if (!s.failure.empty()) FAIL() << s.failure;

// Ardour finds the bundle in the LV2 folder and offers every control port of it, with its range
// and default, as a control a person can set and automate.
TEST(Ardour, FindsThePlugInAndOffersItsControls) {
    NEED_SESSION();
    std::map<int, std::vector<std::string>> offered;
    bool found = false;
    for (const auto& line : s.said("create")) {
        if (line[0] == "found") found = line.size() == 3 && line[1] == "LV2" && line[2] == "arp_chorus";
        if (line[0] == "control" && line.size() == 7) offered[std::stoi(line[1])] = line;
    }
    EXPECT_TRUE(found) << s.steps.at("create").log;
    const nlohmann::json ports = nlohmann::json::parse(std::ifstream(s.dir / "lv2/arp_chorus.lv2/ports.json"))["ports"];
    int controls = 0;
    for (size_t index = 0; index < ports.size(); ++index) {
        const nlohmann::json& p = ports[index];
        if (p["kind"] != "control_in") continue;
        ++controls;
        const std::string name = p["name"];
        auto it = offered.find(static_cast<int>(index));
        ASSERT_NE(it, offered.end()) << name;
        const std::vector<std::string>& c = it->second;
        EXPECT_EQ(c[6], name);
        EXPECT_NEAR(std::stod(c[2]), double(p["minimum"]), 1e-6) << name;
        EXPECT_NEAR(std::stod(c[3]), double(p["maximum"]), 1e-6) << name;
        EXPECT_NEAR(std::stod(c[4]), double(p["value"]), 1e-6) << name;
        EXPECT_EQ(c[5], p.contains("choices") ? "enum" : "-") << name;
    }
    EXPECT_GT(controls, 20);
    // Beside them only the freewheel port, which the host sets.
    EXPECT_EQ(offered.size(), size_t(controls) + 1);
}

// Both exports hold the three notes where the processor played them, at the same level, with the
// sustain as its automation lane sets it; the chorus (left) sounds before the save and stays off after the session reopens; the dry voice
// (right) sounds although the bundle's own bank file is gone: the session's state carries it.
TEST(Ardour, ExportsHoldTheNotesAndTheReopenedSessionItsState) {
    NEED_SESSION();
    const auto before = read_wav(s.dir / "before.wav"), after = read_wav(s.dir / "after.wav");
    ASSERT_EQ(before.size(), 2u);
    ASSERT_EQ(after.size(), 2u);
    for (const auto* take : {&before, &after}) {
        const std::vector<double> found = onsets((*take)[1]);
        ASSERT_EQ(found.size(), std::size(kNotes)) << (take == &before ? "before" : "after");
        for (size_t n = 0; n < found.size(); ++n) EXPECT_NEAR(found[n], kNotes[n][0], 0.005) << "note " << n;
    }
    for (const auto& note : kNotes) {
        const double dry = rms(before[1], note[0], note[1]);
        EXPECT_GT(dry, 0.02);
        EXPECT_NEAR(20 * std::log10(rms(after[1], note[0], note[1]) / dry), 0, 1.0) << "note at " << note[0];
        EXPECT_GT(rms(before[0], note[0], note[1]), 0.5 * dry) << "the chorus before the save";
        EXPECT_LT(rms(after[0], note[0], note[1] + 0.5), 1e-6) << "the chorus after the reopening";
    }
    // The sustain's automation: 5 V for the first note, 1 V for the others (about 0.57 of its level).
    for (const auto* take : {&before, &after})
        for (size_t n = 1; n < std::size(kNotes); ++n)
            EXPECT_LT(rms((*take)[1], kNotes[n][0], kNotes[n][1]), 0.75 * rms((*take)[1], kNotes[0][0], kNotes[0][1])) << "note " << n;
    bool off = false;
    for (const auto& line : s.said("after")) off |= line.size() == 3 && line[0] == "value" && line[1] == "chorus.Active" && std::stod(line[2]) == 0;
    EXPECT_TRUE(off) << s.steps.at("after").log;
    // The bank as the session saved it, in the plug-in's state folder.
    bool bank = false;
    for (const auto& e : fs::recursive_directory_iterator(s.dir / "session/plugins")) bank |= e.path().filename() == "osc.wb1";
    EXPECT_TRUE(bank);
}

}  // namespace
