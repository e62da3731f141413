// Patches: building the host from JSON, rendering, writing the stored values back, bad input.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sndfile.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <fstream>
#include <sstream>

#include "../../mv_sdk2/tests/probe_report.h"
#include "mvhost/patch.h"
#include "mvhost/render.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

const std::vector<std::string> kDirs = {PROBE_DIR, MV_PLUGIN_DIR};

ProbeReport report(mvh::Instance* inst) {
    ProbeReport r{};
    inst->dispatch(MD_12, 0, 0, &r);
    return r;
}

json tempo_patch() {
    return json::parse(R"({
      "sample_rate": 48000, "block_size": 100, "duration": 0.01,
      "tempo": [{"time": 0, "bpm": 120}, {"sample": 250, "bpm": 60}],
      "instances": [{"name": "t", "module": "host_tempo"}, {"name": "p", "module": "sdk_probe"}],
      "wires": [["t.Tempo/BPM Out", "p.In"]],
      "output": {"channels": ["p.Out", "t.Tempo/BPM Out"]}
    })");
}

std::string error_of(const json& doc) {
    try {
        mvh::PatchRun run(doc, "patch.json", ".", kDirs);
    } catch (const mvh::PatchError& e) {
        return e.what();
    }
    return "";
}

struct TempDir : ::testing::Test {
    fs::path dir;
    void SetUp() override {
        dir = fs::temp_directory_path() / ("mvhost_patch_" + std::to_string(::getpid()) + "_" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string write(const std::string& name, const std::string& text) {
        std::ofstream(dir / name) << text;
        return (dir / name).string();
    }
    int render(const std::string& patch, const std::string& out, std::string* err_text = nullptr,
               const std::string& save = "") {
        mvh::RenderOptions o;
        o.patch = patch;
        o.output = out;
        o.save_patch = save;
        o.plugin_dirs = kDirs;  // not quiet: the tests read the summary (no bar: stderr is no terminal)
        std::ostringstream err;
        const int rc = mvh::cmd_render(o, err);
        if (err_text) *err_text = err.str();
        return rc;
    }
};

// Run order: audio wires only; a loop is cut at the wire that closes it (the last made), so an
// instance fed from the loop runs after it whatever the creation order.
TEST(RunOrder, AudioWiresOrderAndALoopIsCutOnlyAtItsClosingWire) {
    const std::string probe = std::string(PROBE_DIR) + "/sdk_probe.so";
    auto names = [](const mvh::Host& h) {
        std::string s;
        for (const mvh::Instance* i : h.order()) s += i->name();
        return s;
    };
    enum { kIn = 0, kGui = 1, kGuiOut = 2, kOut = 6 };
    mvh::Host host;
    std::map<char, mvh::Instance*> m;
    for (char c : std::string("dabc")) m[c] = host.add(probe, std::string(1, c), {false});
    ASSERT_TRUE(host.connect(m['a'], kOut, m['b'], kIn));
    ASSERT_TRUE(host.connect(m['b'], kOut, m['c'], kIn));
    ASSERT_TRUE(host.connect(m['c'], kOut, m['a'], kIn));  // closes the loop
    ASSERT_TRUE(host.connect(m['c'], kOut, m['d'], kIn));
    EXPECT_EQ(names(host), "abcd");

    mvh::Host gui_only;
    mvh::Instance* first = gui_only.add(probe, "x", {false});
    mvh::Instance* second = gui_only.add(probe, "y", {false});
    ASSERT_TRUE(gui_only.connect(second, kGuiOut, first, kGui));
    EXPECT_EQ(names(gui_only), "xy");
}

TEST(Patch, TempoChangesReachTheModuleAtTheBlockTheyFallIn) {
    mvh::PatchRun run(tempo_patch(), "patch.json", ".", kDirs);
    std::vector<float> left, right;
    run.run_until(run.total_samples(), [&](const std::vector<const float*>& b, int n) {
        left.insert(left.end(), b[0], b[0] + n);
        right.insert(right.end(), b[1], b[1] + n);
    });
    ASSERT_EQ(left.size(), 480u);
    EXPECT_EQ(right[0], 12.0f);
    EXPECT_EQ(right[299], 12.0f);  // the change at 250 takes effect with the block that starts at 300
    EXPECT_EQ(right[300], 6.0f);
    // The probe copies its input: the same numbers pass through a wire within the block.
    EXPECT_EQ(left, right);
}

TEST(Patch, ValuesInUserUnitsAndDuplicatesCreatedByWires) {
    json doc = json::parse(R"({
      "instances": [{"name": "a", "module": "sdk_probe", "pins": {"Mode": "Ramp", "In": 2.5, "Both": 4}},
                    {"name": "b", "module": "sdk_probe", "pins": {"Mode": 2}}],
      "wires": [["a.Out", "b.In"], ["a.Dup", "b.In"]]
    })");
    // Dup is an output, b.In takes two wires; the source's duplicating list grows by one.
    mvh::PatchRun run(doc, "patch.json", ".", kDirs);
    mvh::Instance* a = run.host().find("a");
    EXPECT_EQ(a->pins().size(), 10u);
    EXPECT_FLOAT_EQ(a->value(a->find_pin("In")).f, 0.25f);
    EXPECT_EQ(a->value(a->find_pin("Mode")).i, 1);
    EXPECT_EQ(run.user_value(a, a->find_pin("Mode")), "Ramp");
    EXPECT_DOUBLE_EQ(run.user_value(a, a->find_pin("In")).get<double>(), 2.5);
    mvh::Instance* b = run.host().find("b");
    EXPECT_EQ(b->value(b->find_pin("Mode")).i, 2);
}

TEST(Patch, ChoiceListsCountOnFromExplicitValues) {
    auto c = mvh::parse_choices("1 - 16,17 - 32 = 16,32 - 48 = 32, Off");
    ASSERT_EQ(c.size(), 4u);
    EXPECT_EQ(c[0].label, "1 - 16");
    EXPECT_EQ(c[0].value, 0);
    EXPECT_EQ(c[1].label, "17 - 32");
    EXPECT_EQ(c[1].value, 16);
    EXPECT_EQ(c[3].label, "Off");
    EXPECT_EQ(c[3].value, 33);
}

TEST(Patch, BadInputNamesThePlaceAndTheField) {
    auto with = [](const char* patch) { return error_of(json::parse(patch)); };
    EXPECT_EQ(error_of(json::array()), "patch.json: the patch must be a JSON object");
    EXPECT_EQ(with(R"({"instances": [{"name": "x", "module": "nothing_like_it"}]})")
                  .rfind("patch.json: instances[0].module: unknown module \"nothing_like_it\"", 0),
              0u);
    EXPECT_EQ(with(R"({"instances": [{"name": "p", "module": "sdk_probe", "pins": {"Nope": 1}}]})")
                  .rfind("patch.json: instances[0].pins.\"Nope\": instance \"p\" has no pin \"Nope\"", 0),
              0u);
    EXPECT_EQ(with(R"({"instances": [{"name": "p", "module": "sdk_probe", "pins": {"In": "loud"}}]})"),
              "patch.json: instances[0].pins.\"In\": pin \"In\": \"loud\" is not a value this pin takes: it takes volts "
              "(\"2.5\", \"2.5 V\", \"250 mV\") or a note (\"A4\", \"440 Hz\"; 1 V an octave)");
    EXPECT_EQ(with(R"({"instances": [{"name": "p", "module": "sdk_probe", "pins": {"Mode": "Fast"}}]})"),
              "patch.json: instances[0].pins.\"Mode\": pin \"Mode\" has no choice \"Fast\" (choices: \"Copy\", "
              "\"Ramp\", \"Sleep\")");
    EXPECT_EQ(with(R"({"instances": [{"name": "p", "module": "sdk_probe"}, {"name": "q", "module": "sdk_probe"}],
                       "wires": [["p.Out", "q.MIDI In"]]})"),
              "patch.json: wires[0]: p.Out -> q.MIDI In: p.Out (audio) cannot connect to q.MIDI In (midi)");
    EXPECT_EQ(with(R"({"instances": [{"name": "p", "module": "sdk_probe"}], "wires": [["p.In", "p.Out"]]})"),
              "patch.json: wires[0]: p.In -> p.Out: p.In is not an output");
    EXPECT_EQ(with(R"({"block_size": 0, "instances": []})").rfind("patch.json: block_size: expected a number from 1 to 8192", 0), 0u);
    EXPECT_EQ(with(R"({"instances": [], "tempo": "fast"})"),
              "patch.json: tempo: expected a number of beats per minute or a list of changes");
    EXPECT_EQ(with(R"({"instances": [{"name": "p", "module": "sdk_probe"}],
                       "events": [{"time": 0.1, "midi_file": "/no/such.mid", "to": "p"}]})"),
              "patch.json: events[0].midi_file: /no/such.mid: cannot open the MIDI file: No such file or directory");
    EXPECT_EQ(with(R"({"instances": [], "bogus": 1})"), "patch.json: bogus: unknown field");
    // Pin indices too long for a number are unknown pins, not an escaping conversion error.
    EXPECT_EQ(with(R"({"instances": [{"name": "p", "module": "sdk_probe", "pins": {"In[99999999999999]": 1}}]})")
                  .rfind("patch.json: instances[0].pins.\"In[99999999999999]\": instance \"p\" has no pin", 0),
              0u);
    EXPECT_NE(with(R"({"instances": [{"name": "p", "module": "sdk_probe"}], "wires": [["p.99999999999", "p.In"]]})")
                  .find("instance \"p\" has no pin \"99999999999\""),
              std::string::npos);
}

// What a patch may not do: each refusal names the field and says why.
TEST(Patch, HostilePatchesAreRefusedAtLoad) {
    const struct {
        const char* patch;
        const char* says;
    } cases[] = {
        {R"({"instances": [{"name": "osc", "module": "tallisk"}],
             "events": [{"time": 0, "pin": "osc.table_ptr", "value": "4096"}]})",
         "patch.json: events[0].pin: pin \"table_ptr\" of instance \"osc\" is private to the module"},
        {R"({"instances": [{"name": "osc", "module": "tallisk", "pins": {"table_ptr": "4096"}}]})", "is private to the module"},
        {R"({"instances": [{"name": "osc", "module": "tallisk"}, {"name": "p", "module": "sdk_probe"}],
             "wires": [["p.Out", "osc.table_ptr"]]})", "wires[0]: pin \"table_ptr\" of instance \"osc\" is private"},
        {R"({"instances": [{"name": "/tmp/evil", "module": "sdk_probe"}]})", "instances[0].name: a name may not contain '/'"},
        {R"({"instances": [{"name": "p", "module": "sdk_probe", "pins": {"Out": 1}}]})",
         "instances[0].pins.\"Out\": pin \"Out\" is an output"},
        {R"({"instances": [{"name": "t", "module": "host_tempo", "duplicates": 2}]})",
         "instances[0].duplicates: the module has no pins that duplicate"},
        {R"({"instances": [{"name": "p", "module": "sdk_probe"}], "events": [{"time": 0, "sample": 5, "pin": "p.In", "value": 1}]})",
         "events[0]: give either \"time\" or \"sample\", not both"},
        {R"({"instances": [{"name": "p", "module": "sdk_probe", "pins": {"In": 1e40}}]})", "expects a finite number of volts"},
        {R"({"instances": [], "user": [{"save_file": "../victim.txt"}]})",
         "user[0].save_file: ../victim.txt is outside the patch's folder"},
        {R"({"instances": [], "user": [{"save_file": "/etc/victim.txt"}]})", "is outside the patch's folder"},
    };
    for (const auto& c : cases) EXPECT_NE(error_of(json::parse(c.patch)).find(c.says), std::string::npos) << c.patch << "\n" << error_of(json::parse(c.patch));
}

// Files that are no patch or MIDI file are refused at once, with what they are.
TEST_F(TempDir, PatchAndMidiFilesAreReadOnlyFromBoundedRegularFiles) {
    const std::string fifo = (dir / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string patch = write("p.json", R"({"instances": [{"name": "p", "module": "sdk_probe"}],
        "events": [{"midi_file": "MIDI", "to": "p"}]})");
    auto patch_error = [&](const std::string& path) {
        try {
            mvh::read_patch_file(path);
        } catch (const mvh::PatchError& e) {
            return std::string(e.what());
        }
        return std::string();
    };
    EXPECT_EQ(patch_error(dir.string()), dir.string() + ": is a folder, not a patch file");
    EXPECT_EQ(patch_error(fifo), fifo + ": is a FIFO; a patch file is read from a regular file only");
    EXPECT_EQ(patch_error("/dev/zero"), "/dev/zero: is a device; a patch file is read from a regular file only");
    EXPECT_EQ(patch_error(write("dup.json", R"({"instances": [], "instances": []})")),
              (dir / "dup.json").string() + ": invalid JSON: the key \"instances\" appears twice in one object");
    EXPECT_NE(patch_error(write("big.json", R"({"duration": 1e400})")).find("invalid JSON: number overflow"), std::string::npos);

    const std::string header = std::string("MThd\0\0\0\6\0\0\0\0\x01\xE0", 14);
    const std::string track = std::string("MTrk\0\0\0\4\0\xFF\x2F\0", 12);
    const struct {
        std::string midi, says;
    } cases[] = {
        {"/dev/zero", "is a device; a MIDI file is read from a regular file only"},
        {fifo, "is a FIFO"},
        {dir.string(), "is a folder, not a MIDI file"},
        {write("short.mid", "MThd"), "4 bytes is shorter than a MIDI file's header (14 bytes)"},
        {write("zero.mid", header + track), "a track follows the 0 the header declares"},
    };
    for (const auto& c : cases) {
        json doc = json::parse(std::ifstream(patch));
        doc["events"][0]["midi_file"] = c.midi;
        EXPECT_NE(error_of(doc).find(c.says), std::string::npos) << c.midi << ": " << error_of(doc);
    }
}

// A note after many long deltas at the slowest tempo lies past the host's clock: it is dropped,
// never wrapped to a time the clock can reach.
TEST_F(TempDir, MidiFileEventsPastTheClockAreDropped) {
    std::string body = std::string("\0\xFF\x51\x03\xFF\xFF\xFF", 7) + std::string("\0\x90\x3C\x40", 4);
    for (int k = 0; k < 50000; ++k) body += std::string("\xFF\xFF\xFF\x7F\xFF\x01\0", 7);
    body += std::string("\0\x90\x3E\x40\0\xFF\x2F\0", 8);
    std::string len(4, '\0');
    for (int k = 0; k < 4; ++k) len[k] = static_cast<char>(body.size() >> (24 - 8 * k));
    write("far.mid", std::string("MThd\0\0\0\6\0\0\0\x01\0\x01", 14) + "MTrk" + len + body);
    json doc = json::parse(R"({"instances": [{"name": "p", "module": "sdk_probe"}], "events": [{"midi_file": "far.mid", "to": "p"}]})");
    mvh::PatchRun run(doc, "patch.json", dir.string(), kDirs);
    ASSERT_EQ(run.schedule().size(), 1u);
    EXPECT_EQ(run.schedule()[0].midi, 0x403C90);
}

// Two and three wires into one input: the input streams while any wire streams, whatever the
// others announce, and carries their sum.
TEST(Patch, AnInputSummedFromSeveralWiresStreamsWhileAnyDoes) {
    for (int constants : {1, 2}) {
        json doc = json::parse(R"({"sample_rate": 1000, "block_size": 10, "duration": 0.2,
          "instances": [{"name": "lfo", "module": "lfo"}, {"name": "p", "module": "sdk_probe"}],
          "wires": [["lfo.Out", "p.In"]], "events": []})");
        for (int k = 0; k < constants; ++k) {
            const std::string c = "c" + std::to_string(k);
            doc["instances"].push_back({{"name", c}, {"module", "constant"}});
            doc["wires"].push_back({c + ".Out", "p.In"});
            doc["events"].push_back({{"time", 0.05 + 0.02 * k}, {"pin", c + ".Value"}, {"value", 1.0 + k}});
        }
        mvh::PatchRun run(doc, "patch.json", ".", {PROBE_DIR, MV_PLUGIN_DIR, std::string(MV_PLUGIN_DIR) + "/../lib/builtin"});
        mvh::Instance* p = run.host().find("p");
        const int in = p->find_pin("In");
        run.run_until(run.total_samples());
        const ProbeReport r = report(p);
        EXPECT_EQ(r.pin_status[p->gui_to_audio(in)], PIN_STREAMING) << constants << " constant(s)";
        int last = -1;
        for (int k = 0; k < r.status_count; ++k)
            if (r.status_pin[k] == p->gui_to_audio(in)) last = r.status_state[k];
        EXPECT_EQ(last, PIN_STREAMING) << constants << " constant(s)";
        // The probe copies its input: the last block is the LFO plus each constant (in 0.1 V units).
        const float* lfo = run.host().find("lfo")->buffer(run.host().find("lfo")->find_pin("Out"));
        const float* out = p->buffer(p->find_pin("Out"));
        const float sum = constants == 1 ? 0.1f : 0.3f;
        for (int k = 0; k < 10; ++k) EXPECT_NEAR(out[k], lfo[k] + sum, 1e-6f) << constants << " constant(s), sample " << k;
    }
}

TEST_F(TempDir, RenderWritesTheWavAndASummaryLine) {
    const std::string patch = write("p.json", tempo_patch().dump());
    std::string err;
    ASSERT_EQ(render(patch, (dir / "out.wav").string(), &err), 0) << err;
    EXPECT_NE(err.find("0.01 s rendered in"), std::string::npos) << err;
    EXPECT_NE(err.find("peak 12.000"), std::string::npos) << err;
    EXPECT_NE(err.find("960 clipped samples"), std::string::npos) << err;
    SF_INFO info{};
    SNDFILE* f = sf_open((dir / "out.wav").c_str(), SFM_READ, &info);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.frames, 480);
    EXPECT_EQ(info.samplerate, 48000);
    std::vector<float> data(960);
    sf_readf_float(f, data.data(), 480);
    sf_close(f);
    EXPECT_EQ(data[1], 12.0f);
    EXPECT_EQ(data[2 * 400 + 1], 6.0f);
}

TEST_F(TempDir, FailedRenderLeavesNoFileBehind) {
    const std::string bad_json = write("bad.json", "{\"instances\": [ {\"name\": \"x\", }");
    std::string err;
    const std::string out = (dir / "out.wav").string();
    EXPECT_EQ(render(bad_json, out, &err), 2);
    EXPECT_NE(err.find("bad.json: invalid JSON: "), std::string::npos) << err;
    EXPECT_NE(err.find("line 1"), std::string::npos) << err;
    EXPECT_FALSE(fs::exists(out));
    EXPECT_EQ(render((dir / "missing.json").string(), out, &err), 2);
    EXPECT_NE(err.find("cannot open the patch file"), std::string::npos);
    // an existing file is not replaced by a failed render
    write("out.wav", "keep");
    EXPECT_EQ(render(bad_json, out, &err), 2);
    std::ifstream kept(out);
    std::string text;
    kept >> text;
    EXPECT_EQ(text, "keep");
    for (const auto& e : fs::directory_iterator(dir)) EXPECT_EQ(e.path().string().find(".part-"), std::string::npos);
}

TEST_F(TempDir, SavedPatchRestoresStoredValues) {
    json doc = json::parse(R"({
      "sample_rate": 44100, "block_size": 64, "duration": 0.05,
      "instances": [{"name": "p", "module": "sdk_probe"}],
      "events": [{"time": 0.01, "pin": "p.Both", "value": 42}],
      "output": {"channels": ["p.Out"]}
    })");
    const std::string patch = write("p.json", doc.dump());
    const std::string saved = (dir / "saved.json").string();
    std::string err;
    ASSERT_EQ(render(patch, (dir / "a.wav").string(), &err, saved), 0) << err;
    std::ifstream in(saved);
    json back = json::parse(in);
    EXPECT_EQ(back["instances"][0]["pins"]["Both"], 42);
    EXPECT_EQ(back["instances"][0]["restored"], true);
    back.erase("events");
    mvh::PatchRun again(back, "saved.json", dir.string(), kDirs);
    again.run_until(64);
    EXPECT_EQ(report(again.host().find("p")).both_value, 42);
}

TEST_F(TempDir, ARenderPastThe32BitClockIsRefused) {
    const std::string patch = write("long.json", R"({"sample_rate": 768000, "duration": 3600,
      "instances": [{"name": "t", "module": "host_tempo"}], "output": {"channels": ["t.Tempo/BPM Out"]}})");
    std::string err;
    EXPECT_EQ(render(patch, (dir / "long.wav").string(), &err), 2);
    EXPECT_NE(err.find("long.json: duration: 2764800000 samples is longer than the host's 32-bit sample clock counts "
                       "(2147483647 samples, 2796.2 s at 768000 Hz)"),
              std::string::npos)
        << err;
    EXPECT_FALSE(fs::exists(dir / "long.wav"));
}

TEST(WavContainer, RF64TakesOverWhereAWavWouldPass4GiB) {
    EXPECT_EQ(mvh::wav_container_for(0), SF_FORMAT_WAV);
    EXPECT_EQ(mvh::wav_container_for(0xFFFFFFFFull - 4096), SF_FORMAT_WAV);
    EXPECT_EQ(mvh::wav_container_for(0xFFFFFFFFull - 4095), SF_FORMAT_RF64);
    // The longest render the clock allows, in stereo floats: about 16 GiB.
    EXPECT_EQ(mvh::wav_container_for(uint64_t{2147483647} * 2 * 4), SF_FORMAT_RF64);
    SF_INFO info{};
    info.samplerate = 768000;
    info.channels = 2;
    info.format = SF_FORMAT_RF64 | SF_FORMAT_FLOAT;
    EXPECT_TRUE(sf_format_check(&info));
}

TEST_F(TempDir, TheSummaryCountsNaNAndInfiniteSamples) {
    // Each value is a finite float; their product in the VCA is not.
    const std::string patch = write("inf.json", R"({"sample_rate": 48000, "block_size": 64, "duration": 0.01,
      "instances": [{"name": "a", "module": "constant", "pins": {"Value": 5}},
                    {"name": "b", "module": "vca", "pins": {"Signal": 3e38, "Gain": 3e38}}],
      "output": {"channels": ["a.Out", "b.Out"]}})");
    std::string err;
    ASSERT_EQ(render(patch, (dir / "inf.wav").string(), &err), 0) << err;
    EXPECT_NE(err.find("peak 0.500 (-6.0 dBFS), 0 clipped samples, 480 NaN or infinite samples"), std::string::npos) << err;
}

// A FLAC file of 2000 frames whose header claims 2e8 (800 MB of samples).
void write_flac_claiming_more(const fs::path& path) {
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = 1;
    info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
    std::vector<float> sine(2000);
    for (size_t k = 0; k < sine.size(); ++k) sine[k] = 0.5f * std::sin(0.05f * static_cast<float>(k));
    sf_writef_float(f, sine.data(), static_cast<sf_count_t>(sine.size()));
    sf_close(f);
    // STREAMINFO comes first: after "fLaC" and its block header, 10 bytes of block and frame
    // sizes, then 64 bits of rate, channels, bits and (the low 36) the total of frames.
    std::fstream io(path, std::ios::in | std::ios::out | std::ios::binary);
    unsigned char field[8];
    io.seekg(18);
    io.read(reinterpret_cast<char*>(field), 8);
    uint64_t v = 0;
    for (unsigned char b : field) v = v << 8 | b;
    ASSERT_EQ(v & ((uint64_t{1} << 36) - 1), 2000u);
    v = (v & ~((uint64_t{1} << 36) - 1)) | 200000000u;
    for (int k = 7; k >= 0; --k, v >>= 8) field[k] = static_cast<unsigned char>(v & 0xff);
    io.seekp(18);
    io.write(reinterpret_cast<const char*>(field), 8);
}

long peak_rss_kb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// A sound file audio_file cannot read, one whose header claims far more than it holds, and a bank
// tallisk loads nothing from (0 bytes, which the editor passes over in silence) are one line each;
// --strict fails the render. The claim is not what the player allocates.
TEST_F(TempDir, UnreadableOrShortSoundAndEmptyBankAreReportedAndStrictFails) {
    std::ofstream(dir / "text.wav") << "not a sound";
    std::ofstream(dir / "empty.wbf");
    write_flac_claiming_more(dir / "claims.flac");
    struct Case {
        std::string instance, line, counted;
    } cases[] = {
        {R"({"name": "f", "module": "audio_file", "pins": {"File": "text.wav"}})",
         "mvhost render: unanswered message box: audio_file: " + (dir / "text.wav").string() + ": ",
         "--strict: failed for 1 unanswered message box\n"},
        {R"({"name": "f", "module": "audio_file", "pins": {"File": "claims.flac"}})",
         "mvhost render: unanswered message box: audio_file: " + (dir / "claims.flac").string() +
             ": holds 2000 frames, not the 200000000 its header claims (cut short or damaged); only those play",
         "--strict: failed for 1 unanswered message box\n"},
        {R"({"name": "f", "module": "tallisk", "pins": {"wbf_path": "empty.wbf"}})",
         "mvhost render: instance \"f\": its bank " + (dir / "empty.wbf").string() +
             " holds fewer than 4 bytes; nothing was loaded from it",
         // (Opened from where the render runs, the bank is not found: the editor asks.)
         "--strict: failed for 1 unanswered message box, 1 bank that loaded nothing\n"},
    };
    for (const Case& c : cases)
        for (bool strict : {false, true}) {
            mvh::RenderOptions o;
            o.patch = write("bad.json", R"({"sample_rate": 48000, "block_size": 64, "duration": 0.01, "instances": [)" +
                                            c.instance + "]}");
            o.plugin_dirs = kDirs;
            o.quiet = true;
            o.strict = strict;
            std::ostringstream err;
            const long rss_before = peak_rss_kb();
            EXPECT_EQ(mvh::cmd_render(o, err), strict ? 1 : 0) << err.str();
            EXPECT_LT(peak_rss_kb() - rss_before, 200 * 1024) << "kB more at the peak";
            const std::string text = err.str();
            EXPECT_NE(text.find(c.line), std::string::npos) << text;
            EXPECT_EQ(text.find(c.counted) != std::string::npos, strict) << text;
        }
}

// A tallisk editor whose bank was changed asks about saving when it closes: nobody answers, and
// the script's colour entry fits nothing. Each shows as one line as it happens; the user log holds
// the close-time question; --strict makes it exit status 1.
TEST_F(TempDir, UnansweredBoxesAndScriptProblemsAreReportedAndStrictFails) {
    const std::string patch = write("ask.json", R"({"sample_rate": 48000, "block_size": 64, "duration": 0.01,
      "instances": [{"name": "osc", "module": "tallisk"}],
      "events": [{"time": 0, "pointer": "osc", "action": "down", "x": 10, "y": 10}],
      "user": [{"menu": ["New", "Sawtooth"]}, {"color": "#000000"}],
      "output": {"channels": ["osc.Output"]}})");
    for (bool strict : {false, true}) {
        mvh::RenderOptions o;
        o.patch = patch;
        o.output = (dir / "ask.wav").string();
        o.user_log = (dir / "log.json").string();
        o.plugin_dirs = kDirs;
        o.quiet = true;
        o.strict = strict;
        std::ostringstream err;
        EXPECT_EQ(mvh::cmd_render(o, err), strict ? 1 : 0) << err.str();
        const std::string text = err.str();
        EXPECT_NE(text.find("mvhost render: user script: a message_box request met the script entry"), std::string::npos)
            << text;
        EXPECT_NE(text.find("mvhost render: unanswered message box: TK_MAIN: You have made changes on your waveforms. "
                            "Would you like to save changes ? (default answer: Yes)"),
                  std::string::npos)
            << text;
        EXPECT_EQ(text.find("--strict: failed for 1 unanswered message box, 2 user script problems\n") != std::string::npos, strict)
            << text;
        std::ifstream in(o.user_log);
        const json log = json::parse(in);
        bool asked = false;
        for (const json& e : log) asked = asked || e.value("caption", "") == "TK_MAIN";
        EXPECT_TRUE(asked) << log.dump();
    }
}

}  // namespace

namespace {

TEST(Patch, ChoicesTakeALabelOrAValueInTheList) {
    auto arp = [](const char* pins) {
        return json::parse(std::string(R"({"instances": [{"name": "a", "module": "arpeggiator", "pins": )") + pins + "}]}");
    };
    mvh::PatchRun run(arp(R"({"Oct Range": "2", "Arp Mode": 3})"), "patch.json", ".", kDirs);
    mvh::Instance* a = run.host().find("a");
    EXPECT_EQ(a->value(a->find_pin("Oct Range")).i, 12);
    EXPECT_EQ(run.user_value(a, a->find_pin("Arp Mode")), "Up+Down");
    // The number 2 is not one of the values (0, 12, 24, 36), though it is a label: refused.
    EXPECT_EQ(error_of(arp(R"({"Oct Range": 2})")),
              "patch.json: instances[0].pins.\"Oct Range\": pin \"Oct Range\" has no choice with the value 2; for the "
              "label write \"2\" (choices: \"1\"=0, \"2\"=12, \"3\"=24, \"4\"=36)");
    EXPECT_NE(error_of(arp(R"({"Arp Mode": 7})")).find("has no choice with the value 7 (choices: \"OFF\"=0, \"Up\"=1,"),
              std::string::npos);
    EXPECT_NE(error_of(arp(R"({"Arp Mode": "Sideways"})")).find("has no choice \"Sideways\" (choices: \"OFF\", \"Up\""),
              std::string::npos);
}

TEST(Patch, UnknownFieldsAreRefusedEverywhere) {
    auto with = [](const char* patch) { return error_of(json::parse(patch)); };
    const std::string p = R"({"instances": [{"name": "p", "module": "sdk_probe"}], )";
    EXPECT_EQ(with((p + R"("events": [{"time": 0, "pin": "p.Both", "value": 1, "velocity": 3}]})").c_str()),
              "patch.json: events[0].velocity: unknown field in a \"pin\" event (fields: \"pin\", \"value\", \"time\" or "
              "\"sample\")");
    EXPECT_EQ(with((p + R"("events": [{"time": 0, "midi_file": "x.mid", "too": "p"}]})").c_str()),
              "patch.json: events[0].too: unknown field in a \"midi_file\" event (fields: \"midi_file\", \"to\", \"time\" "
              "or \"sample\")");
    EXPECT_EQ(with((p + R"("host": {"versoin": 1}})").c_str()),
              "patch.json: host.versoin: unknown field (fields: \"version\", \"folder\", \"mode\", \"time_info\")");
    EXPECT_EQ(with((p + R"("output": {"channels": ["p.Out"], "rate": 1}})").c_str()),
              "patch.json: output.rate: unknown field (fields: \"channels\", \"format\")");
    EXPECT_EQ(with((p + R"("tempo": [{"time": 0, "bpm": 90, "beats": 4}]})").c_str()),
              "patch.json: tempo[0].beats: unknown field (fields: \"time\", \"sample\", \"bpm\")");
    EXPECT_NE(with((p + R"("wires": [{"from": "p.Out", "to": "p.In", "gain": 2}]})").c_str()).find("wires[0]: expected"),
              std::string::npos);
}

TEST_F(TempDir, SavedPatchNamesItsFilesFromItsOwnFolder) {
    fs::create_directories(dir / "a");
    fs::create_directories(dir / "b");
    fs::copy_file(MV_SOURCE_DIR "/examples/arp_chords.mid", dir / "a" / "chords.mid");
    fs::copy_file(MV_SOURCE_DIR "/examples/arp_bank.wbf", dir / "a" / "bank.wbf");
    const json doc = json::parse(R"({
      "sample_rate": 8000, "block_size": 64, "duration": 0.5, "host": {"folder": "."},
      "search_path": ["plugins"],
      "instances": [{"name": "keys", "module": "midi_source"}, {"name": "cv", "module": "midi_to_cv"},
                    {"name": "osc", "module": "tallisk", "pins": {"wbf_path": "bank.wbf"}},
                    {"name": "out", "module": "audio_out"}],
      "wires": [["keys.MIDI Out", "cv.MIDI In"], ["cv.Pitch", "osc.Pitch"], ["osc.Output", "out.Left"]],
      "events": [{"time": 0, "midi_file": "chords.mid", "to": "keys"}],
      "output": {"channels": ["out.Left"]}
    })");
    const std::string patch = write("a/p.json", doc.dump());
    const std::string saved = (dir / "b" / "saved.json").string();
    std::string err;
    ASSERT_EQ(render(patch, (dir / "a.wav").string(), &err, saved), 0) << err;
    std::ifstream in(saved);
    const json back = json::parse(in);
    EXPECT_EQ(back["host"]["folder"], "../a");
    EXPECT_EQ(back["search_path"][0], "../a/plugins");
    EXPECT_EQ(back["events"][0]["midi_file"], "../a/chords.mid");
    // Rendered from elsewhere, the saved patch finds its bank and its notes: the same sound.
    const fs::path previous = fs::current_path();
    fs::current_path("/");
    const int status = render(saved, (dir / "b.wav").string(), &err);
    fs::current_path(previous);
    ASSERT_EQ(status, 0) << err;
    EXPECT_EQ(err.find("silent"), std::string::npos) << err;
    SF_INFO ia{}, ib{};
    SNDFILE* fa = sf_open((dir / "a.wav").c_str(), SFM_READ, &ia);
    SNDFILE* fb = sf_open((dir / "b.wav").c_str(), SFM_READ, &ib);
    ASSERT_TRUE(fa && fb);
    std::vector<float> a(ia.frames), b(ib.frames);
    sf_readf_float(fa, a.data(), ia.frames);
    sf_readf_float(fb, b.data(), ib.frames);
    sf_close(fa);
    sf_close(fb);
    EXPECT_GT(*std::max_element(a.begin(), a.end()), 0.1f);
    EXPECT_EQ(a, b);
}

TEST_F(TempDir, AnOscillatorWithoutABankSaysWhyItIsSilent) {
    json doc = json::parse(R"({
      "sample_rate": 8000, "block_size": 64, "duration": 0.1,
      "instances": [{"name": "osc", "module": "tallisk"}, {"name": "out", "module": "audio_out"}],
      "wires": [["osc.Output", "out.Left"]],
      "output": {"channels": ["out.Left"]}
    })");
    std::string err;
    ASSERT_EQ(render(write("p.json", doc.dump()), (dir / "x.wav").string(), &err), 0) << err;
    EXPECT_NE(err.find("mvhost render: note: instance \"osc\" was silent: it has no bank (\"wbf_path\" is empty"),
              std::string::npos)
        << err;
    doc["instances"][0]["pins"] = {{"wbf_path", MV_SOURCE_DIR "/examples/arp_bank.wbf"}};
    ASSERT_EQ(render(write("p.json", doc.dump()), (dir / "x.wav").string(), &err), 0) << err;
    EXPECT_EQ(err.find("silent"), std::string::npos) << err;
}

// Each file the patch's script has a module save is named in one line (under -q too), whether
// the module wrote it or not; a save is no problem for --strict.
TEST_F(TempDir, EachFileTheUserScriptSavesIsNamed) {
    const std::string patch = write("save.json", R"({"sample_rate": 48000, "block_size": 64, "duration": 0.05,
      "instances": [{"name": "osc", "module": "tallisk"}],
      "events": [{"time": 0, "pointer": "osc", "action": "down", "x": 10, "y": 10},
                 {"time": 0.01, "pointer": "osc", "action": "down", "x": 10, "y": 10},
                 {"time": 0.02, "pointer": "osc", "action": "down", "x": 10, "y": 10}],
      "user": [{"menu": ["New", "Sawtooth"]}, {"menu": ["File", "Save bank"]}, {"save_file": "saved.wb1"},
               {"menu": ["File", "Save bank"]}, {"save_file": null}],
      "output": {"channels": ["osc.Output"]}})");
    mvh::RenderOptions o;
    o.patch = patch;
    o.output = (dir / "save.wav").string();
    o.plugin_dirs = kDirs;
    o.quiet = true;
    o.strict = true;
    std::ostringstream err;
    EXPECT_EQ(mvh::cmd_render(o, err), 0) << err.str();
    EXPECT_EQ(err.str(), "mvhost render: user script: saved " + (dir / "saved.wb1").string() + " (\"Save As\")\n");
    EXPECT_GT(fs::file_size(dir / "saved.wb1"), 4u);
}

}  // namespace
