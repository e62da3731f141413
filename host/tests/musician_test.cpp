// What a musician meets: values typed with units, the meaning of pins in `describe`, and renders
// that say when they are silent, when a module reported an error, and when --set cannot be heard.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>

#include "mv_testing/cli_rig.h"
#include "mvhost/pin_reference.h"

using mvh::PinUnit;
using nlohmann::json;

namespace {

const std::string kMvhost = MV_BINARY_DIR "/bin/mvhost";

mvh::LawPin law(int freq_scale, int pre_delay_mode) {
    return [=](const std::string& pin) { return pin == "Freq Scale" ? freq_scale : pin == "Pre_Dly Mode" ? pre_delay_mode : 0; };
}

TEST(PinUnits, TypedValuesBecomeTheVoltsTheTablesName) {
    struct Case {
        PinUnit unit;
        const char* text;
        int freq_scale, pre_delay_mode;
        double volts;
    } const cases[] = {
        {PinUnit::Pitch, "A4", 0, 0, 5.0},
        {PinUnit::Pitch, "440 Hz", 0, 0, 5.0},
        {PinUnit::Pitch, "13.75 Hz", 0, 0, 0.0},
        {PinUnit::Pitch, "C4", 0, 0, 5.0 - 9.0 / 12.0},
        {PinUnit::Pitch, "Eb5", 0, 0, 6.0 - 6.0 / 12.0},
        {PinUnit::Pitch, "440 Hz", 1, 0, 0.44},
        {PinUnit::Pitch, "1.2 kHz", 1, 0, 1.2},
        {PinUnit::VoltOctave, "A#3", 0, 0, 4.0 + 1.0 / 12.0},
        {PinUnit::Volts, "250 mV", 0, 0, 0.25},
        {PinUnit::Volts, "-2.5 V", 0, 0, -2.5},
        {PinUnit::Morph, "waveform 1.5", 0, 0, 0.0},
        {PinUnit::Morph, "waveform 12", 0, 0, 10.5 / 6.4},
        {PinUnit::Morph, "waveform 64", 0, 0, 62.5 / 6.4},
        {PinUnit::Bpm, "140 BPM", 0, 0, 140.0},
        {PinUnit::Beats, "1/4 beat", 0, 0, 0.25},
        {PinUnit::Percent, "80 %", 0, 0, 80.0},
        {PinUnit::Level, "50 %", 0, 0, 5.0},
        {PinUnit::Level, "0 dB", 0, 0, 10.0},
        {PinUnit::Tenths, "50 ms", 0, 0, 0.5},
        {PinUnit::Tenths, "1.5 s", 0, 0, 15.0},
        {PinUnit::Millis, "4 ms", 0, 0, 4.0},
        {PinUnit::PreDelay, "10 ms", 0, 0, 0.01},
        {PinUnit::PreDelay, "10 ms", 0, 1, 10.0},
        {PinUnit::Step, "step 17", 0, 0, 17.0},
        {PinUnit::Index, "choice 3", 0, 0, 2.0},
        {PinUnit::Gate, "on", 0, 0, 10.0},
        {PinUnit::Velocity, "velocity 127", 0, 0, 10.0},
    };
    for (const Case& c : cases)
        EXPECT_NEAR(mvh::volts_from_text(c.unit, c.text, law(c.freq_scale, c.pre_delay_mode)), c.volts, 1e-9) << c.text;
}

TEST(PinUnits, UnitsAPinDoesNotTakeAreRefusedWithTheOnesItDoes) {
    struct Case {
        PinUnit unit;
        const char* text;
        const char* says;
    } const cases[] = {
        {PinUnit::Morph, "440 Hz", "it takes waveform"},
        {PinUnit::Morph, "waveform 1", "set \"Morph Sw.\" to \"Disable\""},
        {PinUnit::Morph, "waveform 65", "waveforms 1.5 to 64"},
        {PinUnit::Tenths, "2,5 s", "s (1 V = 0.1 s)"},
        {PinUnit::Level, "loud", "% or dB"},
        {PinUnit::Pitch, "H4", "Hz or note"},
        {PinUnit::Bpm, "120 ms", "BPM"},
    };
    for (const Case& c : cases) {
        try {
            mvh::volts_from_text(c.unit, c.text, law(0, 0));
            ADD_FAILURE() << c.text << " was taken";
        } catch (const mvh::UnitError& e) {
            EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
        }
    }
}

TEST(PinUnits, VoltsReadInTheUnit) {
    EXPECT_EQ(mvh::musical_reading(PinUnit::Pitch, 5.0, law(0, 0)), "440 Hz (A4)");
    EXPECT_EQ(mvh::musical_reading(PinUnit::Pitch, 0.44, law(1, 0)), "440 Hz");
    EXPECT_EQ(mvh::musical_reading(PinUnit::Morph, 0.0, law(0, 0)), "waveform 1.5 (50 % of 1, 50 % of 2)");
    EXPECT_EQ(mvh::musical_reading(PinUnit::Morph, 10.5 / 6.4, law(0, 0)), "waveform 12");
    EXPECT_EQ(mvh::musical_reading(PinUnit::Morph, 10.0, law(0, 0)), "waveform 64");
    EXPECT_EQ(mvh::musical_reading(PinUnit::Tenths, 0.5, law(0, 0)), "50 ms");
    EXPECT_EQ(mvh::musical_reading(PinUnit::PreDelay, 0.01, law(0, 0)), "10 ms");
    EXPECT_EQ(mvh::musical_reading(PinUnit::Level, 5.0, law(0, 0)), "50 % (-6 dB)");
}

class Musician : public mv_testing::CliRig {};

const char kConstantPatch[] = R"({
  "sample_rate": 8000, "block_size": 64, "duration": 0.05,
  "instances": [{"name": "c", "module": "constant", "pins": {"Value": "A5"}},
                {"name": "lfo", "module": "lfo", "pins": {"Rate": "0 Hz", "Amplitude": "2 V"}},
                {"name": "out", "module": "audio_out"}],
  "wires": [["c.Out", "out.Left"], ["lfo.Out", "out.Right"]],
  "output": {"channels": ["out.Left", "out.Right"]}
})";

TEST_F(Musician, RenderTakesUnitsInThePatchAndOnTheCommandLine) {
    write("p.json", kConstantPatch);
    SF_INFO info;
    ASSERT_EQ(run(kMvhost, "render -q p.json -o a.wav").status, 0);
    EXPECT_FLOAT_EQ(read_sound("a.wav", &info)[0], 0.6f);  // A5 = 6 V
    const mv_testing::CliResult set = run(kMvhost, "render -q p.json -o b.wav --set 'c.Value=220 Hz'");
    ASSERT_EQ(set.status, 0) << set.err;
    EXPECT_FLOAT_EQ(read_sound("b.wav", &info)[0], 0.4f);

    const mv_testing::CliResult bad = run(kMvhost, "render -q p.json -o c.wav --set 'lfo.Rate=fast'");
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("mvhost render: --set lfo.Rate=fast: pin \"Rate\": \"fast\" is not a value this pin takes: it takes Hz"),
              std::string::npos)
        << bad.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "c.wav"));
}

TEST_F(Musician, SetOnAWiredInputIsRefused) {
    write("p.json", kConstantPatch);
    const mv_testing::CliResult r = run(kMvhost, "render -q p.json -o a.wav --set out.Left=1");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("\"out.Left\" is driven by the wire from \"c.Out\""), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "a.wav"));
}

TEST_F(Musician, SummaryNamesSilenceAndModuleErrors) {
    write("p.json", R"({
      "duration": 0.05,
      "instances": [{"name": "osc", "module": "tallisk", "pins": {"wbf_path": "nope.wb1"}},
                    {"name": "out", "module": "audio_out"}],
      "wires": [["osc.Output", "out.Left"]],
      "output": {"channels": ["out.Left"]}
    })");
    const mv_testing::CliResult r = run(kMvhost, "render p.json -o a.wav");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("NaN or infinite samples: the output is silent\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("mvhost render: module error: Error: Could not find file nope.wb1. Would you like to "
                         "search manually ? (answered Yes)"),
              std::string::npos)
        << r.err;
}

TEST_F(Musician, DescribeShowsTheMeaningBesideTheFields) {
    const mv_testing::CliResult r = run(kMvhost, "describe tallisk");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("  1 \"Pitch\" in audio default=\"5\" range=\"10,0.01,10,0.01\" flags=0x1\n"
                         "      the note played;"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("default: 440 Hz (A4) = 5 V; range: 13.85 Hz (A-1 +12 ct) = 0.01 V to 14080 Hz (A9) = 10 V"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("default: waveform 33.5 (50 % of 33, 50 % of 34) = 5 V"), std::string::npos) << r.out;
    const mv_testing::CliResult raw = run(kMvhost, "describe tallisk --raw");
    EXPECT_EQ(raw.out.find("the note played"), std::string::npos);
    const json doc = json::parse(run(kMvhost, "describe arpeggiator --json").out);
    EXPECT_EQ(doc["pins"][2]["default_reading"], "120 BPM = 120 V");
}

// The conventions of sox: "-" for standard input and output, the format from the extension, -q.
TEST_F(Musician, StandardInputAndOutputWithARealPipeIntoSox) {
    write("p.json", kConstantPatch);
    // sox reads standard input and prints its statistics (and any warning) on its standard error.
    const mv_testing::CliResult r = run(kMvhost, "render - -o - -q < p.json 2>mvhost.err | sox -V2 -t wav - -n stat");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(mv_testing::slurp(dir / "mvhost.err"), "") << "-q prints nothing but problems";
    EXPECT_NE(r.err.find("Length (seconds):      0.050000"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Maximum amplitude:     0.600000"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("WARN"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "-"));
}

TEST_F(Musician, TheExtensionNamesTheFormat) {
    write("p.json", kConstantPatch);
    struct Case {
        const char* args;
        int status, container, subtype;
        const char* err;
        float tolerance;  // Vorbis is lossy
    } const cases[] = {
        {"-o a.flac", 0, SF_FORMAT_FLAC, SF_FORMAT_PCM_24, "", 1e-5f},
        {"-o a.FLAC --format pcm16", 0, SF_FORMAT_FLAC, SF_FORMAT_PCM_16, "", 1e-4f},
        {"-o a.ogg", 0, SF_FORMAT_OGG, SF_FORMAT_VORBIS, "", 0.05f},
        {"-o a.aiff", 0, SF_FORMAT_AIFF, SF_FORMAT_FLOAT, "", 0.0f},
        {"-o a.flac --format float", 2, 0, 0, "a.flac: libsndfile cannot write .flac with float samples; choose another --format", 0},
        {"-o a.xyz", 2, 0, 0, "mvhost render: a.xyz: cannot write a .xyz file (the extension names the format: .wav,", 0},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(dir / "out");
        const mv_testing::CliResult r = run(kMvhost, std::string("render -q p.json ") + c.args);
        EXPECT_EQ(r.status, c.status) << c.args << r.err;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << c.args << r.err;
        const std::string name = std::string(c.args).substr(3, std::string(c.args).find(' ', 3) - 3);
        SF_INFO info;
        const auto data = read_sound(name, &info);
        if (c.status != 0) {
            EXPECT_TRUE(data.empty()) << c.args;
            EXPECT_FALSE(std::filesystem::exists(dir / name)) << c.args;
            continue;
        }
        EXPECT_EQ(info.format & SF_FORMAT_TYPEMASK, c.container) << c.args;
        EXPECT_EQ(info.format & SF_FORMAT_SUBMASK, c.subtype) << c.args;
        ASSERT_FALSE(data.empty()) << c.args;
        EXPECT_NEAR(data[400], 0.6f, c.tolerance) << c.args;  // left channel, 0.025 s in
        std::filesystem::remove(dir / name);
    }
}

// apply: an effect over a sound file, as a module (one copy per channel) or a patch with audio_in.
class Apply : public mv_testing::CliRig {
protected:
    // A mono click at frame 100 of 4410 frames at 44.1 kHz.
    void write_click(const std::string& name) const {
        SF_INFO info{};
        info.samplerate = 44100;
        info.channels = 1;
        info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
        std::vector<float> data(4410, 0.0f);
        data[100] = 0.5f;
        SNDFILE* f = sf_open((dir / name).c_str(), SFM_WRITE, &info);
        ASSERT_NE(f, nullptr);
        sf_writef_float(f, data.data(), static_cast<sf_count_t>(data.size()));
        sf_close(f);
    }
};

TEST_F(Apply, AModuleOrAPatchOverASoundFile) {
    write_click("click.wav");
    // A chorus pre-delay of 20 ms (882 samples) moves the click; the sound sets rate and length.
    mv_testing::CliResult r = run(kMvhost, "apply chorus click.wav -o out.flac -q --set 'Pre_Dly1=20 ms' --format pcm24");
    ASSERT_EQ(r.status, 0) << r.err;
    SF_INFO info;
    auto out = read_sound("out.flac", &info);
    EXPECT_EQ(info.samplerate, 44100);
    EXPECT_EQ(info.frames, 4410);
    ASSERT_EQ(out.size(), 4410u);
    const size_t peak = static_cast<size_t>(std::max_element(out.begin(), out.end()) - out.begin());
    EXPECT_EQ(peak, 982u);
    EXPECT_NEAR(out[982], 0.5f, 1e-4f);

    write("half.json", R"({
      "instances": [{"name": "in", "module": "audio_in", "pins": {"Channels": "Mono"}},
                    {"name": "vca", "module": "vca", "pins": {"Gain": "50 %"}}],
      "wires": [["in.Left", "vca.Signal"]],
      "output": {"channels": ["vca.Out"]}
    })");
    r = run(kMvhost, "apply half.json click.wav -o half.wav -q --set 'vca.Gain=25 %'");
    ASSERT_EQ(r.status, 0) << r.err;
    out = read_sound("half.wav", &info);
    ASSERT_EQ(out.size(), 4410u);
    EXPECT_FLOAT_EQ(out[100], 0.125f);
}

TEST_F(Apply, BadInputIsRefusedAndWritesNothing) {
    write_click("click.wav");
    write("no_input.json", R"({"instances": [{"name": "c", "module": "constant"}], "output": {"channels": ["c.Out"]}})");
    write("text.wav", "not a sound");
    const struct {
        const char* args;
        const char* says;
    } cases[] = {
        {"apply nope click.wav -o out.wav", "mvhost apply: unknown module \"nope\""},
        {"apply chorus missing.wav -o out.wav", "mvhost apply: missing.wav: cannot read the sound file"},
        {"apply chorus text.wav -o out.wav", "mvhost apply: text.wav: cannot read the sound file"},
        {"apply no_input.json click.wav -o out.wav", "the patch has no audio_in instance to play click.wav into"},
        {"apply chorus click.wav -o click.wav", "mvhost apply: click.wav: is the sound being played"},
        {"apply chorus click.wav -o out.wav --set Nope=1", "mvhost apply: --set fx.Nope=1: instance \"fx\" has no pin \"Nope\""},
    };
    for (const auto& c : cases) {
        const mv_testing::CliResult r = run(kMvhost, c.args);
        EXPECT_EQ(r.status, 2) << c.args;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args << "\n" << r.err;
        EXPECT_FALSE(std::filesystem::exists(dir / "out.wav")) << c.args;
    }
    SF_INFO info;
    EXPECT_EQ(read_sound("click.wav", &info).size(), 4410u) << "the input is untouched";
}

// "auto": to the last event or note, then until the sound stays below -90 dB for 0.1 s.
TEST_F(Musician, AutomaticLengthEndsAfterTheLastNoteAndItsRelease) {
    write("note.json", R"({
      "sample_rate": 8000, "block_size": 16, "duration": "auto",
      "instances": [{"name": "keys", "module": "midi_source"}, {"name": "cv", "module": "midi_to_cv"},
                    {"name": "env", "module": "adsr", "pins": {"Attack": "10 ms", "Sustain": "50 %", "Release": "100 ms"}},
                    {"name": "c", "module": "constant", "pins": {"Value": 5}}, {"name": "vca", "module": "vca"}],
      "wires": [["keys.MIDI Out", "cv.MIDI In"], ["cv.Gate", "env.Gate"], ["env.Out", "vca.Gain"], ["c.Out", "vca.Signal"]],
      "events": [{"time": 0.1, "midi": "keys", "message": [144, 60, 100]},
                 {"time": 0.3, "midi": "keys", "message": [128, 60, 0]}],
      "output": {"channels": ["vca.Out"]}
    })");
    SF_INFO info;
    mv_testing::CliResult r = run(kMvhost, "render note.json -o a.wav");
    ASSERT_EQ(r.status, 0) << r.err;
    read_sound("a.wav", &info);
    // The note-off at 0.3 s, the release from 5 V over 0.05 s, then 0.1 s below -90 dB.
    EXPECT_NEAR(info.frames / 8000.0, 0.45, 0.005) << r.err;
    // The same from the command line, over the patch's length.
    write("endless.json", R"({"sample_rate": 8000, "duration": 1,
      "instances": [{"name": "c", "module": "constant", "pins": {"Value": 5}}], "output": {"channels": ["c.Out"]}})");
    r = run(kMvhost, "render endless.json -o b.wav --seconds auto");
    ASSERT_EQ(r.status, 0) << r.err;
    read_sound("b.wav", &info);
    EXPECT_EQ(info.frames, 60 * 8000);
    EXPECT_NE(r.err.find("mvhost render: note: the sound had not fallen below -90 dB 60 s after the last event"), std::string::npos)
        << r.err;
}

// One style for every tool: --version and --help, errors that name the tool and the subcommand.
TEST_F(Musician, EveryToolAnswersVersionHelpAndNamesItselfInErrors) {
    write("p.json", kConstantPatch);
    const std::string bin = MV_BINARY_DIR "/bin/";
    const struct {
        std::string tool, args;
        int status;
        const char* says;  // on stdout for status 0, else on stderr
    } cases[] = {
        {"mvbank", "--version", 0, "mvbank 1."},
        {"mvbank", "--help", 0, "usage: mvbank convert"},
        {"ui_tables", "--version", 0, "ui_tables 1."},
        {"ui_tables", "--help", 0, "usage: ui_tables"},
        {"pin_reference", "--help", 0, "usage: pin_reference"},
        {"mvhost", "list --plugins /nonexistent", 2, "mvhost list: --plugins /nonexistent: no such folder"},
        {"mvhost", "render p.json -o a.wav --seconds 4000", 2, "mvhost render: --seconds: \"4000\" is not a number of seconds"},
        {"mvhost", "render p.json -o a.wav --rate 5", 2, "mvhost render: --rate: Value 5 not in range"},
    };
    for (const auto& c : cases) {
        const mv_testing::CliResult r = run(bin + c.tool, c.args);
        EXPECT_EQ(r.status, c.status) << c.tool << " " << c.args << "\n" << r.err;
        EXPECT_NE((c.status == 0 ? r.out : r.err).find(c.says), std::string::npos) << c.tool << " " << c.args << "\n" << r.out << r.err;
    }
}

}  // namespace
