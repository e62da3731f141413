// The mvhost command as a user types it: the binary run with arguments, its output, its status and
// the files it writes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sndfile.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "mv_testing/cli_rig.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

using mv_testing::slurp;
using Result = mv_testing::CliResult;

class Cli : public mv_testing::CliRig {
protected:
    Result run(const std::string& args) const { return CliRig::run(MV_BINARY_DIR "/bin/mvhost", args); }
    std::string write(const std::string& name, const json& doc) const { return CliRig::write(name, doc.dump(1)); }
    std::vector<float> read_wav(const std::string& name, SF_INFO* info) const { return read_sound(name, info); }
};

// A constant into the audio output: what --set, --rate and --seconds change is plain to read.
json constant_patch() {
    return json::parse(R"({
      "sample_rate": 8000, "block_size": 64, "duration": 0.1,
      "instances": [{"name": "c", "module": "constant", "pins": {"Value": 1.0}},
                    {"name": "out", "module": "audio_out"}],
      "wires": [["c.Out", "out.Left"]],
      "output": {"channels": ["out.Left"]}
    })");
}

TEST_F(Cli, VersionHelpAndUnknownSubcommands) {
    struct Case {
        std::string args;
        int status;
        std::string in_out, in_err;
    };
    const Case cases[] = {
        {"--version", 0, "mvhost 1.0.0", ""},
        {"help", 0, "Subcommands:", ""},
        {"help render", 0, "--set", ""},
        {"help describe", 0, "--json", ""},
        {"help rendr", 2, "", "mvhost help: unknown subcommand \"rendr\" (subcommands: describe, list, render"},
        {"rendr p.json", 2, "", "mvhost: unknown subcommand \"rendr\"\nSubcommands:\n  describe"},
        {"", 2, "", "mvhost: a subcommand is required"},
        {"render --no-such-option p.json -o x.wav", 2, "", "--no-such-option"},
    };
    for (const Case& c : cases) {
        const Result r = run(c.args);
        EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.err;
        EXPECT_NE(r.out.find(c.in_out), std::string::npos) << c.args << "\n" << r.out;
        EXPECT_NE(r.err.find(c.in_err), std::string::npos) << c.args << "\n" << r.err;
    }
    // `help render` is `render --help`, usage line included.
    EXPECT_EQ(run("help render").out, run("render --help").out);
    // Every real subcommand is named where a misspelt one is refused.
    const Result r = run("rendr");
    for (const char* name : {"describe", "list", "render", "panel", "validate", "help"})
        EXPECT_NE(r.err.find(std::string("  ") + name), std::string::npos) << name;
}

TEST_F(Cli, ListAndDescribeByName) {
    const Result list = run("list");
    ASSERT_EQ(list.status, 0) << list.err;
    for (const char* line : {"tallisk", "QB_TKMAIN", "chain_sequencer", "midi_source", "MV_MidiSource"})
        EXPECT_NE(list.out.find(line), std::string::npos) << line;
    EXPECT_NE(list.out.find("built-in"), std::string::npos);

    const Result by_name = run("describe tallisk");
    ASSERT_EQ(by_name.status, 0) << by_name.err;
    EXPECT_EQ(by_name.out.rfind("name:        QB_TKMAIN\n", 0), 0u) << by_name.out;
    EXPECT_EQ(run("describe builtin:lfo").status, 0);

    const Result as_json = run("describe --json lfo");
    ASSERT_EQ(as_json.status, 0) << as_json.err;
    const json doc = json::parse(as_json.out);
    EXPECT_EQ(doc["name"], "MV_LFO");
    EXPECT_EQ(doc["id"], "MVHOST_LFO");
    ASSERT_EQ(doc["pins"].size(), 4u);
    EXPECT_EQ(doc["pins"][1]["name"], "Shape");
    EXPECT_EQ(doc["pins"][1]["type"], "enum");
    EXPECT_EQ(doc["pins"][1]["choices"], "Sine,Triangle,Saw");

    const Result unknown = run("describe talisk");
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.err.find("mvhost describe: unknown module \"talisk\""), std::string::npos) << unknown.err;
    EXPECT_TRUE(unknown.out.empty());
}

TEST_F(Cli, RenderOptionsOverrideThePatch) {
    write("p.json", constant_patch());
    // Repeatable options before the patch path do not take it as one of their values.
    const Result r = run("render --plugins /nonexistent --set c.Value=2.5 --rate 16000 --block 32 --seconds 0.25 "
                         "p.json -o out.wav -q");
    ASSERT_EQ(r.status, 0) << r.err;
    SF_INFO info;
    const auto data = read_wav("out.wav", &info);
    EXPECT_EQ(info.samplerate, 16000);
    EXPECT_EQ(info.frames, 4000);
    ASSERT_FALSE(data.empty());
    EXPECT_FLOAT_EQ(data[100], 0.25f);
    EXPECT_FLOAT_EQ(data.back(), 0.25f);
}

TEST_F(Cli, MidiFileToTheFirstMidiSourceOrANamedOne) {
    json doc = json::parse(R"({
      "sample_rate": 8000, "block_size": 64, "duration": 1.0,
      "instances": [{"name": "keys", "module": "midi_source"}, {"name": "cv", "module": "midi_to_cv"},
                    {"name": "out", "module": "audio_out"}],
      "wires": [["keys.MIDI Out", "cv.MIDI In"], ["cv.Gate", "out.Left"]],
      "output": {"channels": ["out.Left"]}
    })");
    write("p.json", doc);
    const std::string mid = MV_SOURCE_DIR "/examples/arp_chords.mid";
    SF_INFO info;
    for (const std::string& arg : {mid, "keys=" + mid}) {
        const Result r = run("render p.json -o out.wav -q --midi " + arg);
        ASSERT_EQ(r.status, 0) << r.err;
        const auto data = read_wav("out.wav", &info);
        EXPECT_GT(*std::max_element(data.begin(), data.end()), 0.0f) << "the gate opens: " << arg;
    }
    const Result silent = run("render p.json -o out.wav -q");
    const auto data = read_wav("out.wav", &info);
    EXPECT_EQ(*std::max_element(data.begin(), data.end()), 0.0f) << "no file, no notes";
}

TEST_F(Cli, BadOptionsAreRefusedAndWriteNothing) {
    write("p.json", constant_patch());
    struct Case {
        std::string args, message;
    };
    const Case cases[] = {
        {"--set c.Nope=1", "--set c.Nope=1: instance \"c\" has no pin \"Nope\""},
        {"--set c.Value=loud", "--set c.Value=loud: pin \"Value\": \"loud\" is not a value this pin takes: it takes volts"},
        {"--set nothing", "--set nothing: expected INSTANCE.PIN=VALUE"},
        {"--midi x.mid", "--midi x.mid: the patch has no midi_source instance"},
        {"--midi zz=x.mid", "--midi zz=x.mid: unknown instance \"zz\""},
        {"--format pcm8", "--format"},
        {"--rate 10", "--rate"},
    };
    for (const Case& c : cases) {
        const Result r = run("render p.json -o out.wav -q " + c.args);
        EXPECT_EQ(r.status, 2) << c.args;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.args << "\n" << r.err;
        EXPECT_FALSE(fs::exists(dir / "out.wav")) << c.args;
    }
}

// Inputs that once crashed, hung or meant something other than they said: each entry refuses them
// with status 2 and one line.
TEST_F(Cli, EveryEntryRefusesBadInputInOneLine) {
    write("p.json", constant_patch());
    write("osc.json", json::parse(R"({"duration": 0.1, "instances": [{"name": "osc", "module": "tallisk"}]})"));
    write("num.json", json::parse(R"({"instances": [{"name": "m", "module": 5}]})"));
    ASSERT_EQ(::mkfifo((dir / "fifo.json").c_str(), 0600), 0);
    const struct {
        std::string args, says;
    } cases[] = {
        {"render p.json -o out.wav -q --seconds nan", "--seconds: \"nan\" is not a number of seconds"},
        {"render num.json -o out.wav -q --midi x.mid", "--midi x.mid: the patch has no midi_source instance"},
        // A FIFO nobody writes is refused at once (the timeout only keeps a regression from hanging).
        {"render fifo.json -o out.wav -q", "fifo.json: is a FIFO; a patch file is read from a regular file only"},
        {"render . -o out.wav -q", ".: is a folder, not a patch file"},
        {"panel osc.json --instance osc -o out.png --at 0.2", "--at 0.2: expected seconds from 0 to the patch's end, 0.1"},
        {"panel osc.json --instance nope -o out.png", "unknown instance \"nope\" (instances: osc)"},
        {"render p.json -o out.wav --midi-out c.Out=a.mid", "\"Out\" is not a MIDI output (the patch has none)"},
        {"panel osc.json --instance osc -o out.png --at -1", "--at -1: expected seconds"},
        {"panel osc.json --instance osc -o out.png --at nan", "--at nan: expected seconds"},
        {"panel osc.json --instance osc -o osc.json", "-o osc.json: is the patch"},
    };
    for (const auto& c : cases) {
        const Result r = run("--version >/dev/null; timeout 20 " + mv_testing::program("'" MV_BINARY_DIR "/bin/mvhost'") + " " + c.args);
        EXPECT_EQ(r.status, 2) << c.args << "\n" << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args << "\n" << r.err;
        // One line, and for a refused option the pointer to the subcommand's help after it.
        const bool hint = r.err.find("shows its options.") != std::string::npos;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), hint ? 2 : 1) << c.args << "\n" << r.err;
        EXPECT_FALSE(fs::exists(dir / "out.wav") || fs::exists(dir / "out.png")) << c.args;
    }
}

// A bare name that exists as a file is that file, not one the library path holds.
TEST_F(Cli, ABareFileNameIsTheFileHere) {
    fs::copy_file(MV_BINARY_DIR "/plugins/host_tempo.so", dir / "host_tempo.so");
    const Result r = run("describe host_tempo.so");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Tempo"), std::string::npos) << r.out;
    std::ofstream(dir / "libm.so") << "not a library";
    EXPECT_EQ(run("describe libm.so").status, 2);
}

TEST_F(Cli, SampleFormats) {
    write("p.json", constant_patch());
    struct Case {
        std::string args;
        int subtype, container;
    };
    const Case cases[] = {
        {"", SF_FORMAT_FLOAT, SF_FORMAT_WAV},
        {"--format float", SF_FORMAT_FLOAT, SF_FORMAT_WAV},
        {"--format pcm24", SF_FORMAT_PCM_24, SF_FORMAT_WAV},
        {"--format pcm16", SF_FORMAT_PCM_16, SF_FORMAT_WAV},
        {"--pcm16", SF_FORMAT_PCM_16, SF_FORMAT_WAV},
    };
    for (const Case& c : cases) {
        const Result r = run("render p.json -o out.wav -q " + c.args);
        ASSERT_EQ(r.status, 0) << c.args << r.err;
        SF_INFO info;
        const auto data = read_wav("out.wav", &info);
        EXPECT_EQ(info.format & SF_FORMAT_SUBMASK, c.subtype) << c.args;
        EXPECT_EQ(info.format & SF_FORMAT_TYPEMASK, c.container) << c.args;
        ASSERT_FALSE(data.empty());
        EXPECT_NEAR(data[10], 0.1f, 1e-4f) << c.args;
    }
    // sox reads the float file without a warning, with the format chunk it writes itself.
    run("render p.json -o out.wav -q");
    std::ifstream wav(dir / "out.wav", std::ios::binary);
    char head[64];
    wav.read(head, sizeof head);
    EXPECT_EQ(std::string(head + 12, 8), std::string("fmt \x12\0\0\0", 8)) << "an 18-byte format chunk";
    EXPECT_EQ(std::string(head + 36, 6), std::string("\0\0fact", 6));
    const int sox = std::system(("sox -V2 '" + (dir / "out.wav").string() + "' -n stat 2>'" + (dir / "sox.txt").string() + "'").c_str());
    EXPECT_EQ(sox, 0);
    const std::string said = slurp(dir / "sox.txt");
    EXPECT_EQ(said.find("WARN"), std::string::npos) << said;
}

}  // namespace
