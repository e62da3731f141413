// Exported bundles loaded by an LV2 host built on lilv: any block pattern renders what
// `mvhost render` renders, bit for bit; the state reopens with the sound it had; several
// instances and bundles share the process.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "mv_testing/exec.h"
#include "wav_channels.h"
#include "lilv_rig.h"
#include "mvhost/patch.h"
#include "rt_shim.h"

namespace fs = std::filesystem;

namespace {

const std::string kSource = MV_SOURCE_DIR;
const std::string kMvhost = mv_testing::program(MV_BINARY_DIR "/bin/mvhost");
constexpr double kRate = 44100;
#ifndef MV_TOOL_PREFIX
#define MV_TOOL_PREFIX ""
#endif

struct TempDir {
    fs::path path;
    TempDir() {
        char t[] = "/tmp/lv2_host_test.XXXXXX";
        path = mkdtemp(t);
    }
    ~TempDir() { fs::remove_all(path); }
};

int run(const std::string& command) { return std::system(command.c_str()); }

std::string export_bundle(const fs::path& dir, const std::string& args, const std::string& name) {
    const fs::path bundle = dir / (name + ".lv2");
    EXPECT_EQ(run(kMvhost + " export-lv2 " + args + " -o " + bundle.string() + " 2>/dev/null"), 0) << args;
    return bundle.string();
}

using lv2test::read_wav;

// The notes of a MIDI file at the frames `mvhost render --midi` plays them.
std::vector<lv2test::Note> notes_of(const std::string& file) {
    std::vector<lv2test::Note> notes;
    for (const mvh::MidiFileEvent& e : mvh::read_midi_file(file)) {
        lv2test::Note n{std::llround(e.seconds * static_cast<float>(kRate)),
                        {static_cast<uint8_t>(e.word), static_cast<uint8_t>(e.word >> 8), static_cast<uint8_t>(e.word >> 16)}};
        notes.push_back(n);
    }
    return notes;
}

// `mvhost render` of the bundle's own patch, float WAV.
std::vector<std::vector<float>> render(const std::string& bundle, const fs::path& out, const std::string& extra,
                                       const std::string& patch = "") {
    EXPECT_EQ(run(kMvhost + " render " + (patch.empty() ? bundle + "/patch.json" : patch) + " -q -o " + out.string() + " --format float " + extra +
                  " 2>/dev/null"),
              0);
    return read_wav(out.string());
}

size_t first_difference(const std::vector<std::vector<float>>& a, const std::vector<std::vector<float>>& b) {
    if (a.size() != b.size()) return 0;
    for (size_t c = 0; c < a.size(); ++c) {
        const size_t n = std::min(a[c].size(), b[c].size());
        for (size_t i = 0; i < n; ++i)
            if (std::memcmp(&a[c][i], &b[c][i], sizeof(float)) != 0) return i;
        if (a[c].size() != b[c].size()) return n;
    }
    return SIZE_MAX;
}

double rms(const std::vector<float>& v) {
    double s = 0;
    for (float x : v) s += double(x) * x;
    return v.empty() ? 0 : std::sqrt(s / v.size());
}

class Lv2Host : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir = new TempDir;
        arp_chorus = export_bundle(dir->path, kSource + "/examples/arp_chorus.json", "arp_chorus");
        chorus = export_bundle(dir->path, kSource + "/examples/chorus_effect.json", "chorus_effect");
        echo = export_bundle(dir->path, kSource + "/examples/delay_echo.json", "delay_echo");
    }
    static void TearDownTestSuite() { delete dir; }
    static TempDir* dir;
    static std::string arp_chorus, chorus, echo;
};
TempDir* Lv2Host::dir = nullptr;
std::string Lv2Host::arp_chorus, Lv2Host::chorus, Lv2Host::echo;

// Two instances of a bundle side by side in one process, one in irregular blocks, one in the
// patch's own, both give what `mvhost render --midi` gives, the notes at their exact frames; an
// instance of the other bundle lives (its GUI thread ticking) in the same process meanwhile.
TEST_F(Lv2Host, AnyBlockPatternRendersWhatRenderRenders) {
    const int64_t frames = 3 * 44100;
    const std::string midi = kSource + "/examples/arp_chords.mid";
    const auto notes = notes_of(midi);
    const std::vector<int> irregular = {1, 7, 64, 333, 4096, 2, 1000, 129};
    lv2test::World world;
    const LilvPlugin* echo_plugin = world.load(echo);
    const LilvPlugin* arp_plugin = world.load(arp_chorus);
    ASSERT_TRUE(echo_plugin && arp_plugin);
    for (const auto& [bundle, pattern] : {std::pair{echo, irregular}, std::pair{arp_chorus, irregular},
                                          std::pair{arp_chorus, std::vector<int>{333}}}) {
        SCOPED_TRACE(bundle);
        const auto reference = render(bundle, dir->path / "ref.wav", "--seconds 3 --midi keys=" + midi);
        ASSERT_EQ(reference.size(), 2u);
        ASSERT_GT(rms(reference[0]), 1e-3);
        const LilvPlugin* plugin = bundle == echo ? echo_plugin : arp_plugin;
        lv2test::Instance other(world, bundle == echo ? arp_plugin : echo_plugin, kRate);
        other.render(4096, {512}, notes);
        lv2test::Instance odd(world, plugin, kRate), even(world, plugin, kRate);
        ASSERT_TRUE(odd.ok() && even.ok());
        const auto a = odd.render(frames, pattern, notes);
        const auto b = even.render(frames, {256}, notes);
        EXPECT_EQ(first_difference(a, reference), SIZE_MAX);
        EXPECT_EQ(first_difference(b, reference), SIZE_MAX);
    }
}

TEST_F(Lv2Host, StateReopensWithTheBankChosenInTheSession) {
    const std::string bank = kSource + "/examples/tallisk_sweep.wbf";
    const auto notes = notes_of(kSource + "/examples/arp_chords.mid");
    lv2test::World world;
    const LilvPlugin* plugin = world.load(arp_chorus);
    ASSERT_NE(plugin, nullptr);
    using Texts = std::vector<std::pair<std::string, std::string>>;
    auto sent = [](const lv2test::Instance& in, const std::string& uri) {
        std::string text = "(nothing)";
        for (const auto& [k, v] : in.parameters_out)
            if (k == uri) text = v;
        return text;
    };
    const std::string key = std::string(lilv_node_as_uri(lilv_plugin_get_uri(plugin))) + "#osc_wbf_path";
    LilvState* state = nullptr;
    {
        lv2test::Instance first(world, plugin, kRate);
        first.render(4096, {512}, {});
        // The host is told which bank plays (so that it can show it): at first every parameter
        // (the bank, the editor's menu caption), then only the bank it chose, on a patch:Get all.
        EXPECT_EQ(sent(first, key), (fs::path(arp_chorus) / "files" / "arp_bank.wbf").lexically_normal().string());
        EXPECT_EQ(first.parameters_out.size(), 2u);
        first.set_path("osc_wbf_path", bank);
        first.render(4096, {512}, {});
        EXPECT_EQ(first.parameters_out, Texts({{key, bank}}));
        first.ask_parameters();
        first.render(4096, {512}, {});
        EXPECT_EQ(sent(first, key), bank);
        EXPECT_EQ(first.parameters_out.size(), 2u);
        state = first.save((dir->path / "state").string());
        ASSERT_NE(state, nullptr);
    }
    lv2test::Instance second(world, plugin, kRate);
    second.restore(state);
    lilv_state_free(state);
    const auto got = second.render(2 * 44100, {100, 3000}, notes);
    // The same in mvhost: the bundle's patch reopened with the stored pins and the bank the state
    // carries (the chosen file loaded into the bank the session held, from its current waveform on).
    const fs::path wb1 = dir->path / "state" / "osc.wb1";
    ASSERT_TRUE(fs::exists(wb1));
    EXPECT_EQ(sent(second, key), wb1.string());
    const auto reference = render(arp_chorus, dir->path / "bank.wav",
                                  "--seconds 2 --set osc.wbf_path=" + wb1.string() + " --midi keys=" + kSource + "/examples/arp_chords.mid");
    const auto plain = render(arp_chorus, dir->path / "plain.wav", "--seconds 2 --midi keys=" + kSource + "/examples/arp_chords.mid");
    EXPECT_EQ(first_difference(got, reference), SIZE_MAX);
    EXPECT_NE(first_difference(got, plain), SIZE_MAX) << "the restored bank made no difference";
}

// A bank the patch's script edits (waveform 1 made a sawtooth, morphed with the file's waveform 2)
// is saved into the state as a .wb1: the session reopens with the same sound after the bank file
// of the bundle is gone. (The script plays again in the reopened patch, as in a reopened saved
// patch, so the sound alone would also hold with the file's copy; the .wb1 is what carries the
// edit.)
TEST_F(Lv2Host, StateCarriesTheBankEditedInTheSession) {
    const fs::path folder = dir->path / "edited";
    fs::create_directories(folder);
    fs::copy_file(kSource + "/examples/arp_bank.wbf", folder / "arp_bank.wbf");
    std::ofstream(folder / "edited.json") << R"({
      "sample_rate": 44100, "block_size": 256, "duration": 1, "host": {"folder": "."},
      "instances": [
        {"name": "pitch", "module": "builtin:constant", "pins": {"Value": 4.0}},
        {"name": "osc", "module": "tallisk", "pins": {"wbf_path": "arp_bank.wbf", "Morph Sw.": "Enable", "Morph": 0.07}},
        {"name": "out", "module": "audio_out"}],
      "wires": [["pitch.Out", "osc.Pitch"], ["osc.Output", "out.Left"]],
      "events": [{"time": 0.01, "pointer": "osc", "action": "down", "x": 10, "y": 10}],
      "user": [{"menu": ["New", "Sawtooth"]}],
      "plugin": {"controls": []},
      "output": {"channels": ["out.Left"]}})";
    const std::string bundle = export_bundle(dir->path, (folder / "edited.json").string(), "edited");
    lv2test::World world;
    const LilvPlugin* plugin = world.load(bundle);
    ASSERT_NE(plugin, nullptr);
    const int64_t frames = 22050, skip = 4410;  // compared after the script's edit has played in
    LilvState* state = nullptr;
    std::vector<std::vector<float>> first;
    {
        lv2test::Instance inst(world, plugin, kRate);
        first = inst.render(frames, {512}, {});
        state = inst.save((dir->path / "edited_state").string());
        ASSERT_NE(state, nullptr);
    }
    fs::remove(fs::path(bundle) / "files" / "arp_bank.wbf");
    lv2test::Instance again(world, plugin, kRate);
    again.restore(state);
    lilv_state_free(state);
    const auto reopened = again.render(frames, {512}, {});
    ASSERT_EQ(reopened.size(), 1u);
    ASSERT_GT(rms(first[0]), 1e-3);
    first[0].erase(first[0].begin(), first[0].begin() + skip);
    std::vector<std::vector<float>> tail = {{reopened[0].begin() + skip, reopened[0].end()}};
    EXPECT_EQ(first_difference(first, tail), SIZE_MAX);
    bool saved = false;
    for (const auto& e : fs::recursive_directory_iterator(dir->path / "edited_state")) saved = saved || e.path().extension() == ".wb1";
    EXPECT_TRUE(saved) << "no .wb1 in the state's folder";
}

// lv2apply runs one frame per run() and passes no features; the same sound through the patch,
// with a file player in place of its audio input, renders the same samples.
TEST_F(Lv2Host, Lv2applyOnTheChorusMatchesRenderOfTheSameSound) {
    const fs::path in = dir->path / "in.wav", out = dir->path / "applied.wav";
    ASSERT_EQ(run("sox -n -r 44100 -c 1 -b 32 -e floating-point " + in.string() + " synth 0.5 sine 220 vol 0.5"), 0);
    ASSERT_EQ(run(std::string(MV_TOOL_PREFIX) + " LV2_PATH=" + dir->path.string() + " lv2apply -i " + in.string() + " -o " + out.string() +
                  " urn:morvane:lv2:chorus_effect >/dev/null 2>&1"),
              0);
    nlohmann::json patch = nlohmann::json::parse(std::ifstream(chorus + "/patch.json"));
    for (auto& inst : patch["instances"])
        if (inst["name"] == "in") inst = {{"name", "in"}, {"module", "builtin:audio_file"}, {"pins", {{"File", in.string()}}}};
    const fs::path through = fs::path(chorus) / "through_file.json";
    std::ofstream(through) << patch.dump();
    ASSERT_EQ(run(kMvhost + " render " + through.string() + " -q --seconds 0.5 --format float -o " +
                  (dir->path / "through.wav").string() + " 2>/dev/null"),
              0);
    fs::remove(through);
    const auto got = read_wav(out.string()), reference = read_wav((dir->path / "through.wav").string());
    ASSERT_EQ(got.size(), 2u);
    ASSERT_GT(rms(reference[0]), 1e-3);
    EXPECT_EQ(first_difference(got, reference), SIZE_MAX);
}

// Every bundle `make lv2` writes passes lv2_validate, loads, and runs a few blocks to finite output.
// run() live (not freewheeling), as a host's audio thread calls it, under the validator's
// real-time shim: no allocation, lock, sleep, file, network or exception there, whatever the
// block length, with notes, controls that move, a bank chosen and a patch:Get on the way. The
// slowest run() is printed (what a period must leave room for).
TEST_F(Lv2Host, RunDoesNothingAnAudioThreadMustNot) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the shim replaces malloc, which the sanitizers replace too";
#else
    const auto arm = reinterpret_cast<MVRtArmFn>(dlsym(RTLD_DEFAULT, "mv_rt_arm"));
    const auto take = reinterpret_cast<MVRtTakeFn>(dlsym(RTLD_DEFAULT, "mv_rt_take"));
    if (!arm || !take) {
        // The shim counts only where it is preloaded: this test again, in a process that has it.
        const std::string self = fs::read_symlink("/proc/self/exe").string();
        EXPECT_EQ(run("LD_PRELOAD=" MV_RT_SHIM " " + self + " --gtest_filter=Lv2Host.RunDoesNothingAnAudioThreadMustNot"), 0);
        return;
    }
    const auto notes = notes_of(kSource + "/examples/arp_chords.mid");
    const std::vector<int> blocks = {1, 7, 64, 333, 4096, 2, 1000, 129};
    lv2test::World world;
    for (const std::string& bundle : {arp_chorus, chorus, echo}) {
        SCOPED_TRACE(bundle);
        const LilvPlugin* plugin = world.load(bundle);
        ASSERT_NE(plugin, nullptr);
        lv2test::Instance live(world, plugin, kRate);
        MVRtReport report{};
        std::string first;
        uint32_t counted = 0;
        double worst_ms = 0;
        std::chrono::steady_clock::time_point start;
        live.around_run = [&](bool before) {
            if (before) {
                start = std::chrono::steady_clock::now();
                arm(1);
                return;
            }
            arm(0);
            worst_ms = std::max(worst_ms, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
            take(&report);
            for (uint32_t c : report.counts) counted += c;
            if (report.first_call && first.empty()) first = report.first_call;
        };
        // The first run()s come before the GUI side has done its first tick, the later ones after.
        live.render(44100, blocks, notes, false);
        if (bundle == arp_chorus) {
            live.set_control("env_Sustain", 1.0f);
            live.set_path("osc_wbf_path", kSource + "/examples/tallisk_sweep.wbf");
            live.ask_parameters();
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        live.render(44100, blocks, notes, false);
        EXPECT_EQ(counted, 0u) << "first: " << first;
        std::printf("%s: slowest run() %.3f ms (blocks of 1 to 4096 frames)\n", fs::path(bundle).filename().c_str(), worst_ms);
    }
#endif
}

TEST(Lv2Bundles, EveryModuleAndExampleValidatesLoadsAndRuns) {
    TempDir out;
    ASSERT_EQ(run(kSource + "/tools/make-lv2 " + MV_BINARY_DIR + " " + out.path.string() + " >/dev/null"), 0);
    std::vector<fs::path> bundles;
    for (const auto& e : fs::directory_iterator(out.path)) bundles.push_back(e.path());
    EXPECT_GE(bundles.size(), 22u);
    ASSERT_EQ(run("lv2_validate " + out.path.string() + "/*.lv2/*.ttl >/dev/null 2>&1"), 0);
    lv2test::World world;
    for (const fs::path& b : bundles) {
        SCOPED_TRACE(b.string());
        // A file parameter for tallisk's bank; the view link's texts are no controls.
        std::ifstream ttl(b / (b.stem().string() + ".ttl"));
        const std::string text((std::istreambuf_iterator<char>(ttl)), std::istreambuf_iterator<char>());
        EXPECT_EQ(text.find("Wave in\""), std::string::npos);
        if (b.stem() == "tallisk") {
            EXPECT_NE(text.find("rdfs:label \"wbf_path\""), std::string::npos);
        }
        const LilvPlugin* plugin = world.load(b.string());
        ASSERT_NE(plugin, nullptr);
        lv2test::Instance inst(world, plugin, 48000);
        ASSERT_TRUE(inst.ok());
        for (const auto& channel : inst.render(3000, {64, 1000}, {{10, {0x90, 60, 100}}}))
            for (float x : channel) ASSERT_TRUE(std::isfinite(x));
    }
}

// Bad command lines and "plugin" sections are refused with one line that names the fault, and
// nothing is written (a folder in the way is left as it was).
TEST(Lv2Export, BadInputIsRefusedAndWritesNothing) {
    TempDir dir;
    int made = 0;
    auto with_plugin = [&](const std::string& section) {
        const fs::path patch = dir.path / ("p" + std::to_string(++made) + ".json");
        std::ifstream in(kSource + "/examples/chorus_effect.json");
        nlohmann::json doc = nlohmann::json::parse(in);
        doc["plugin"] = nlohmann::json::parse(section);
        std::ofstream(patch) << doc.dump();
        return patch.string();
    };
    fs::create_directories(dir.path / "taken.lv2");
    std::ofstream(dir.path / "taken.lv2" / "mine.txt") << "keep";
    const std::string ok = kSource + "/examples/chorus_effect.json";
    const std::string out = (dir.path / "x.lv2").string();
    const struct {
        std::string args, message;
    } cases[] = {
        {ok + " -o " + (dir.path / "x").string(), "ends in .lv2"},
        {ok + " -o " + (dir.path / "taken.lv2").string(), "is not a bundle export-lv2 wrote"},
        {ok + " -o " + (dir.path / "none" / "x.lv2").string(), "does not exist"},
        {ok + " --module chorus -o " + out, "one of them"},
        {"--module nosuch -o " + out, "unknown module \"nosuch\""},
        {(dir.path / "missing.json").string() + " -o " + out, "cannot open"},
        {ok + " --uri 'not a uri' -o " + out, "is not an absolute URI"},
        {with_plugin(R"({"colour": 1})") + " -o " + out, "plugin: unknown field \"colour\""},
        {with_plugin(R"({"class": "drum"})") + " -o " + out, "unknown class \"drum\""},
        {with_plugin(R"({"controls": ["cho.Nothing"]})") + " -o " + out, "no pin \"cho.Nothing\""},
        {with_plugin(R"({"controls": ["cho.Audio_In"]})") + " -o " + out, "is wired"},
        {with_plugin(R"({"controls": "cho.Active"})") + " -o " + out, "expected a list"},
        {with_plugin(R"({"midi_out": ["cho.Active"]})") + " -o " + out, "is not a MIDI output"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        const fs::path err = dir.path / "err.txt";
        EXPECT_EQ(WEXITSTATUS(run(kMvhost + " export-lv2 " + c.args + " 2>" + err.string())), 2);
        std::ifstream in(err);
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_NE(text.find("mvhost export-lv2: "), std::string::npos) << text;
        std::string want = c.message;
        EXPECT_NE(text.find(want), std::string::npos) << text;
        EXPECT_FALSE(fs::exists(out));
    }
    EXPECT_TRUE(fs::exists(dir.path / "taken.lv2" / "mine.txt"));
    for (const auto& e : fs::directory_iterator(dir.path)) EXPECT_EQ(e.path().filename().string().find(".part"), std::string::npos);
}

}  // namespace
