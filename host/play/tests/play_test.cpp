// `mvhost play` as a person uses it: on a screen of its own (Xvfb) with a JACK server of its own
// (dummy backend), clicked and dragged with xdotool, its recording analysed.
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "live_session.h"

namespace fs = std::filesystem;
using namespace live_test;

namespace {

const std::string kMvhost = MVHOST_PATH;
// A bank whose first waveform is a sawtooth.
const std::string kBank = std::string(MV_SOURCE_DIR) + "/examples/tallisk_sweep.wbf";

std::string temp_dir() {
    static const std::string dir = [] {
        const fs::path d = fs::temp_directory_path() / ("mvplay-" + std::to_string(getpid()));
        fs::create_directories(d);
        return d.string();
    }();
    return dir;
}

// Writes a patch; "BANK" in it stands for the sawtooth bank's path.
std::string write_patch(const std::string& name, std::string json) {
    for (size_t at = 0; (at = json.find("BANK", at)) != std::string::npos; at += kBank.size())
        json.replace(at, 4, kBank);
    const std::string path = temp_dir() + "/" + name;
    std::ofstream(path) << json;
    return path;
}

void pause(double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); }

int xdotool(const std::vector<std::string>& args) {
    std::vector<std::string> argv{"xdotool"};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv);
}

// xdotool's key, keydown or keyup on whatever has the keyboard focus.
void keys(const std::vector<std::string>& names, const char* how = "key") {
    for (const std::string& k : names) ASSERT_EQ(xdotool({how, k}), 0) << k;
}

void click_at(int x, int y) {
    ASSERT_EQ(xdotool({"mousemove", "--sync", std::to_string(x), std::to_string(y)}), 0);
    pause(0.1);
    ASSERT_EQ(xdotool({"click", "1"}), 0);
}

// A tallisk at a constant pitch into both outputs, at the dummy server's default rate and period,
// so that the offline render of the same patch is the same sound sample for sample.
const char* kOscPatch = R"({
  "sample_rate": 48000, "block_size": 1024, "duration": 2.0,
  "instances": [
    {"name": "pitch", "module": "builtin:constant", "pins": {"Value": 5.0}},
    {"name": "osc", "module": "tallisk", "pins": {"Waveform": 0, "wbf_path": "BANK"}},
    {"name": "out", "module": "audio_out"}
  ],
  "wires": [["pitch.Out", "osc.Pitch"], ["osc.Output", "out.Left"], ["osc.Output", "out.Right"]],
  "output": {"channels": ["out.Left", "out.Right"]}
})";

// tallisk at a constant pitch with a wave view in Draw mode linked to its editor; `events` is empty
// or an "events" member with its trailing comma.
std::string drawn_oscillator(const std::string& events) {
    return R"({
      "sample_rate": 48000, "block_size": 1024,
      "instances": [
        {"name": "pitch", "module": "builtin:constant", "pins": {"Value": 5.0}},
        {"name": "osc", "module": "tallisk", "pins": {"Waveform": 0, "wbf_path": "BANK"}},
        {"name": "view", "module": "tallisk_view", "pins": {"Mode": "Draw"}},
        {"name": "out", "module": "audio_out"}
      ],
      "wires": [["pitch.Out", "osc.Pitch"], ["view.Wave out", "osc.Wave in"], ["osc.Wave out", "view.Wave in"],
                ["osc.Output", "out.Left"]], )" +
           events + R"(
      "output": {"channels": ["out.Left"]},
      "user": [{"message_box": "No", "caption": "TK_MAIN"}]
    })";
}

// Notes into an arpeggiator (up, one octave, fast) that plays the tallisk voice; `events` as above.
std::string arp_patch(const std::string& events) {
    return R"({
      "sample_rate": 48000, "block_size": 1024,
      "instances": [
        {"name": "keys", "module": "midi_source"},
        {"name": "arp", "module": "arpeggiator", "pins": {"Arp Mode": "Up", "Oct Range": "1", "BPM Tempo": 240.0}},
        {"name": "cv", "module": "midi_to_cv"},
        {"name": "osc", "module": "tallisk", "pins": {"Waveform": 0, "wbf_path": "BANK"}},
        {"name": "out", "module": "audio_out"}
      ],
      "wires": [["keys.MIDI Out", "arp.MIDI In"], ["arp.MIDI Out", "cv.MIDI In"], ["cv.Pitch", "osc.Pitch"],
                ["osc.Output", "out.Left"]], )" +
           events + R"(
      "output": {"channels": ["out.Left"]}
    })";
}

class PlayLive : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        std::string error;
        if (!screen.start(&error)) setup_error = error;
    }
    static void TearDownTestSuite() { screen.stop_all(); }
    void SetUp() override { ASSERT_TRUE(setup_error.empty()) << setup_error; }

    static Screen screen;
    static std::string setup_error;
};
Screen PlayLive::screen;
std::string PlayLive::setup_error;

TEST_F(PlayLive, RecordingIsTheRenderedSoundWithoutGapsAndPanelsAreListed) {
    const std::string patch = write_patch("osc.json", kOscPatch);
    const std::string live = temp_dir() + "/osc_live.wav", offline = temp_dir() + "/osc_render.wav";
    Play play({kMvhost, "play", patch, "--record", live, "--seconds", "2", "--zoom", "2"}, temp_dir() + "/osc.err");
    ASSERT_TRUE(play.wait_ready(20)) << play.err();
    const Rect osc = play.panels().at("osc");
    EXPECT_EQ(osc.w, 100);  // the editor's 50 x 50 panel, twice
    EXPECT_EQ(osc.h, 100);
    ASSERT_EQ(play.wait_exit(30), 0) << play.err();
    // The server's own xrun count depends on how busy the machine is (a dummy server without
    // real-time scheduling); the recording below shows whether the patch's sound has a gap.
    EXPECT_NE(play.err().find("2.00 s played at 48000 Hz in blocks of 1024, "), std::string::npos) << play.err();
    RecordProperty("summary", play.err());
    ASSERT_EQ(run({kMvhost, "render", patch, "-o", offline, "-q"}), 0);

    std::vector<float> a, b;
    int rate = 0, channels = 0;
    long frames = 0;
    ASSERT_TRUE(read_wav(live, &a, &rate, &channels, &frames));
    EXPECT_EQ(rate, 48000);
    EXPECT_EQ(channels, 2);
    EXPECT_EQ(frames, 96000);
    ASSERT_TRUE(read_wav(offline, &b, &rate, &channels, &frames));
    ASSERT_EQ(a.size(), b.size());
    size_t differ = 0;
    for (size_t k = 0; k < a.size(); ++k) differ += std::fabs(a[k] - b[k]) > 1e-6f;
    EXPECT_EQ(differ, 0u);
    EXPECT_NEAR(zero_crossing_hz(a, 0, a.size(), 48000), 440.0, 0.5);
    EXPECT_LT(longest_silence(a, 100, a.size()), 4u);
    // The recorder finishes its header as render does: the 18-byte format chunk sox expects.
    auto header = [](const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::string h(128, '\0');
        in.read(h.data(), 128);
        return h.substr(0, h.find("data") + 8);
    };
    EXPECT_EQ(header(live), header(offline));
    EXPECT_EQ(header(live).substr(12, 8), std::string("fmt \x12\0\0\0", 8));
}

TEST_F(PlayLive, DragInTheWaveViewRedrawsTheWaveformThatPlays) {
    const std::string patch = write_patch("draw.json", drawn_oscillator(""));
    const std::string wav = temp_dir() + "/draw.wav";
    Play play({kMvhost, "play", patch, "--record", wav, "--seconds", "4", "--zoom", "2"}, temp_dir() + "/draw.err");
    ASSERT_TRUE(play.wait_ready(20)) << play.err();
    const Rect v = play.panels().at("view");
    // A square wave drawn across the view: high on the left half, low on the right.
    ASSERT_EQ(xdotool({"mousemove", "--sync", std::to_string(v.x + 2), std::to_string(v.y + v.h / 5)}), 0);
    ASSERT_EQ(xdotool({"mousedown", "1"}), 0);
    for (int k = 1; k <= 20; ++k) {
        const int x = v.x + 2 + (v.w - 4) * k / 20;
        const int y = k <= 10 ? v.y + v.h / 5 : v.y + v.h * 4 / 5;
        ASSERT_EQ(xdotool({"mousemove", std::to_string(x), std::to_string(y)}), 0);
    }
    ASSERT_EQ(xdotool({"mouseup", "1"}), 0);
    ASSERT_EQ(play.wait_exit(30), 0) << play.err();

    std::vector<float> x;
    int rate = 0, channels = 0;
    long frames = 0;
    ASSERT_TRUE(read_wav(wav, &x, &rate, &channels, &frames));
    ASSERT_EQ(frames, 4 * 48000);
    // Before the drag (the window was not even up yet) the bank's sawtooth, with its second
    // harmonic at half the fundamental; at the end the square wave, which has none.
    const size_t early = 4800, late_from = x.size() - 48000;
    auto second_harmonic = [&](size_t from, size_t to) {
        const double f0 = zero_crossing_hz(x, from, to, rate);
        return magnitude_at(x, from, to, rate, 2 * f0) / magnitude_at(x, from, to, rate, f0);
    };
    EXPECT_NEAR(second_harmonic(0, early), 0.5, 0.05);
    EXPECT_LT(second_harmonic(late_from, x.size()), 0.2);
}

TEST_F(PlayLive, OctaveRangeChosenInTheArpeggiatorsControlsAddsTheOctaveAbove) {
    // C, E and G held from the start, arpeggiated upwards within one octave.
    const std::string patch = write_patch("arp.json", arp_patch(R"("events": [
        {"time": 0.0, "midi": "keys", "message": [144, 60, 100]},
        {"time": 0.0, "midi": "keys", "message": [144, 64, 100]},
        {"time": 0.0, "midi": "keys", "message": [144, 67, 100]}
      ],)"));
    const std::string wav = temp_dir() + "/arp.wav";
    Play play({kMvhost, "play", patch, "--record", wav, "--seconds", "5"}, temp_dir() + "/arp.err");
    ASSERT_TRUE(play.wait_ready(20)) << play.err();
    ASSERT_EQ(play.controls().count("arp.Oct Range"), 1u);
    const Rect range = play.controls().at("arp.Oct Range");
    pause(1.5);  // a second and a half of the first range
    // The drop-down opens on its current entry ("1"); the next one down is "2".
    click_at(range.x + range.w / 2, range.y + range.h / 2);
    pause(0.5);
    ASSERT_EQ(xdotool({"key", "Down"}), 0);
    ASSERT_EQ(xdotool({"key", "Return"}), 0);
    ASSERT_EQ(play.wait_exit(30), 0) << play.err();

    std::vector<float> x;
    int rate = 0, channels = 0;
    long frames = 0;
    ASSERT_TRUE(read_wav(wav, &x, &rate, &channels, &frames));
    // The highest note heard in 20 ms windows: G above middle C (392 Hz) during the first second,
    // the G an octave higher (784 Hz) in the last one and a half.
    auto highest = [&](size_t from, size_t to) {
        double best = 0;
        for (size_t k = from; k + 960 <= to; k += 960) best = std::max(best, zero_crossing_hz(x, k, k + 960, rate));
        return best;
    };
    EXPECT_NEAR(highest(0, 48000), 392.0, 10.0);
    EXPECT_NEAR(highest(x.size() - 72000, x.size()), 784.0, 20.0);
}

// The windows of the play process that are on the screen (the main window, open menus, dialogs).
int visible_windows() {
    const std::string ids = output_of({"xdotool", "search", "--onlyvisible", "--class", "mvhost"});
    return static_cast<int>(std::count(ids.begin(), ids.end(), '\n'));
}

// A tallisk with an empty bank (silent) at 5 V; the script answers the question about unsaved
// waveforms at the end, the person does the rest.
const char* kEmptyOscPatch = R"({
  "sample_rate": 48000, "block_size": 1024,
  "instances": [
    {"name": "pitch", "module": "builtin:constant", "pins": {"Value": 5.0}},
    {"name": "osc", "module": "tallisk", "pins": {"Waveform": 0}},
    {"name": "out", "module": "audio_out"}
  ],
  "wires": [["pitch.Out", "osc.Pitch"], ["osc.Output", "out.Left"]],
  "output": {"channels": ["out.Left"]},
  "user": [{"message_box": "No", "caption": "TK_MAIN"}]
})";

// Silent at first, a sawtooth at 440 Hz over the last second.
void expect_silence_then_sawtooth(const std::string& wav) {
    std::vector<float> x;
    int rate = 0, channels = 0;
    long frames = 0;
    ASSERT_TRUE(read_wav(wav, &x, &rate, &channels, &frames));
    ASSERT_GT(x.size(), 96000u);
    EXPECT_EQ(longest_silence(x, 0, 4800), 4800u);
    const size_t from = x.size() - 48000;
    const double f0 = zero_crossing_hz(x, from, x.size(), rate);
    EXPECT_NEAR(f0, 440.0, 0.5);
    EXPECT_NEAR(magnitude_at(x, from, x.size(), rate, 2 * f0) / magnitude_at(x, from, x.size(), rate, f0), 0.5, 0.02);
}

TEST_F(PlayLive, ClickOnTheEditorOpensItsMenuAndNewSawtoothPlaysASawtooth) {
    const std::string patch = write_patch("menu.json", kEmptyOscPatch);
    const std::string wav = temp_dir() + "/menu.wav";
    Play play({kMvhost, "play", patch, "--record", wav, "--seconds", "5"}, temp_dir() + "/menu.err");
    ASSERT_TRUE(play.wait_ready(20)) << play.err();
    const Rect osc = play.panels().at("osc");
    const int before = visible_windows();
    click_at(osc.x + osc.w / 3, osc.y + osc.h / 3);
    pause(0.7);
    EXPECT_EQ(visible_windows(), before + 1) << "the menu's window";
    // New is the third entry; its submenu starts with "New Bank", a separator, then the shapes.
    for (const char* key : {"Down", "Down", "Down", "Right", "Down", "Down", "Down"}) ASSERT_EQ(xdotool({"key", key}), 0);
    pause(0.3);
    EXPECT_EQ(visible_windows(), before + 2) << "the submenu's window";
    // For a person to look at: the menu with "Sawtooth" chosen.
    run({"import", "-window", "root", std::string(MV_BINARY_DIR) + "/tests/play-tallisk-menu.png"});
    ASSERT_EQ(xdotool({"key", "Return"}), 0);
    ASSERT_EQ(play.wait_exit(30), 0) << play.err();
    expect_silence_then_sawtooth(wav);
}

// File > Load bank (the first entry of the second menu), or Save bank (its second).
void open_bank_chooser(const Rect& osc, bool save, const std::string& title) {
    click_at(osc.x + osc.w / 3, osc.y + osc.h / 3);
    pause(0.7);
    if (save) keys({"Down", "Down", "Right", "Down", "Return"});
    else keys({"Down", "Down", "Right", "Return"});
    ASSERT_EQ(xdotool({"search", "--sync", "--onlyvisible", "--name", title}), 0) << "the file chooser";
    pause(0.5);
}

TEST_F(PlayLive, BankChoosersOpenBesideThePatchAndTheBankAndShowBothKinds) {
    // The patch and a 16-waveform bank in a folder of their own, away from where mvhost starts.
    const fs::path dir = fs::path(temp_dir()) / "choose";
    fs::create_directories(dir);
    fs::copy_file(kBank, dir / "sweep.wbf", fs::copy_options::overwrite_existing);
    const std::string patch = write_patch("choose/load.json", kEmptyOscPatch);
    const std::string wav = temp_dir() + "/load.wav";
    Play play({kMvhost, "play", patch, "--record", wav, "--seconds", "5"}, temp_dir() + "/load.err");
    ASSERT_TRUE(play.wait_ready(20)) << play.err();
    open_bank_chooser(play.panels().at("osc"), false, "Open|Load");
    // The list shows the patch's folder through a filter that lets .wbf files in: the bank is the
    // only entry; Down selects it and Return presses Open.
    run({"import", "-window", "root", std::string(MV_BINARY_DIR) + "/tests/play-load-chooser.png"});
    keys({"Down"});
    pause(0.3);
    keys({"Return"});
    ASSERT_EQ(play.wait_exit(30), 0) << play.err();
    expect_silence_then_sawtooth(wav);

    // Saving that bank opens where it lives: a bare name typed there lands beside it.
    std::string json = R"({"instances": [{"name": "osc", "module": "tallisk", "pins": {"wbf_path": "sweep.wbf"}}]})";
    const std::string saving = write_patch("choose/save.json", json);
    Play again({kMvhost, "play", saving, "--seconds", "6"}, temp_dir() + "/save.err");
    ASSERT_TRUE(again.wait_ready(20)) << again.err();
    open_bank_chooser(again.panels().at("osc"), true, "Save");
    keys({"ctrl+a"});
    ASSERT_EQ(xdotool({"type", "copy"}), 0);
    keys({"Return"});
    ASSERT_EQ(again.wait_exit(30), 0) << again.err();
    EXPECT_TRUE(fs::is_regular_file(dir / "copy.wb1")) << again.err();
}

bool window_visible(const std::string& name) {
    return !output_of({"xdotool", "search", "--onlyvisible", "--name", name}).empty();
}

// The pixels of a part of the screen, as the person sees them.
std::string grab(const Rect& r) {
    const std::string path = temp_dir() + "/grab.rgb";
    run({"import", "-window", "root", "-crop",
         std::to_string(r.w) + "x" + std::to_string(r.h) + "+" + std::to_string(r.x) + "+" + std::to_string(r.y),
         "rgb:" + path});
    return read_file(path);
}

TEST_F(PlayLive, OtherPanelsLiveWhileADialogIsOpenAndACloseMadeMeanwhileIsHonoured) {
    // The patch draws a square wave into the view at 3 s, while the editor's Evaluate dialog is up.
    std::string events;
    for (int k = 0; k <= 20; ++k)
        events += R"(, {"time": 3.0, "pointer": "view", "action": "move", "x": )" + std::to_string(2 + 2 * k) +
                  R"(, "y": )" + (k <= 10 ? "8" : "40") + "}";
    const std::string patch = write_patch("evaluate.json", drawn_oscillator(R"("events": [{"time": 3.0, "pointer": "view", "action": "down", "x": 2, "y": 8})" + events +
                                                                      R"(, {"time": 3.0, "pointer": "view", "action": "up", "x": 42, "y": 40}],)"));
    Play play({kMvhost, "play", patch, "--seconds", "60", "--zoom", "1", "--save-patch", temp_dir() + "/evaluate-saved.json"},
              temp_dir() + "/evaluate.err");
    ASSERT_TRUE(play.wait_ready(20)) << play.err();
    const Rect osc = play.panels().at("osc"), view = play.panels().at("view"), status = play.at("widget", "status");
    click_at(osc.x + osc.w / 3, osc.y + osc.h / 3);
    pause(0.7);
    keys({"Down", "Down", "Down", "Down", "Right", "Return"});  // Edit > Evaluate
    ASSERT_EQ(xdotool({"search", "--sync", "--onlyvisible", "--name", "Expression evaluator"}), 0);
    const std::string view_before = grab(view), status_before = grab(status);
    pause(3.0);
    run({"import", "-window", "root", std::string(MV_BINARY_DIR) + "/tests/play-evaluate-open.png"});
    EXPECT_TRUE(grab(view) != view_before) << "the wave view follows the patch's drawing";
    EXPECT_TRUE(grab(status) != status_before) << "the status line counts on";
    // Closing the window now is noted, and done as soon as the dialog is cancelled.
    ASSERT_TRUE(ask_window_to_close("evaluate.json"));
    pause(0.5);
    EXPECT_TRUE(window_visible("Expression evaluator"));
    keys({"Escape"});
    ASSERT_EQ(play.wait_exit(20), 0) << play.err();
    EXPECT_EQ(play.err().find("60.00 s played"), std::string::npos) << play.err();
}

// A keyboard of the test's own: a JACK client whose MIDI output sends one note when asked.
class TestKeyboard {
public:
    explicit TestKeyboard(const std::string& to) {
        jack_status_t status;
        m_client = jack_client_open("keyboard", JackNoStartServer, &status);
        if (!m_client) return;
        m_port = jack_port_register(m_client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        jack_set_process_callback(m_client, &TestKeyboard::process, this);
        m_ok = m_port && jack_activate(m_client) == 0 &&
               jack_connect(m_client, jack_port_name(m_port), to.c_str()) == 0;
    }
    ~TestKeyboard() {
        if (m_client) jack_client_close(m_client);
    }
    bool ok() const { return m_ok; }
    void note_on(int note) { m_note.store(note); }
    // Up to three notes struck together (the lowest byte first).
    void chord(int a, int b, int c) { m_chord.store(a | b << 8 | c << 16); }

private:
    static int process(jack_nframes_t frames, void* self) {
        auto* k = static_cast<TestKeyboard*>(self);
        void* buffer = jack_port_get_buffer(k->m_port, frames);
        jack_midi_clear_buffer(buffer);
        const int note = k->m_note.exchange(-1);
        if (note >= 0) {
            const jack_midi_data_t on[3] = {0x90, static_cast<jack_midi_data_t>(note), 100};
            jack_midi_event_write(buffer, 0, on, 3);
        }
        const int chord = k->m_chord.exchange(-1);
        for (int b = 0; chord >= 0 && b < 3; ++b) {
            const jack_midi_data_t on[3] = {0x90, static_cast<jack_midi_data_t>((chord >> (8 * b)) & 0x7F), 100};
            jack_midi_event_write(buffer, 0, on, 3);
        }
        return 0;
    }
    jack_client_t* m_client = nullptr;
    jack_port_t* m_port = nullptr;
    std::atomic<int> m_note{-1};
    std::atomic<int> m_chord{-1};
    bool m_ok = false;
};

TEST_F(PlayLive, NoteFromTheMidiPortPlaysAndThePatchIsSavedWithItsOwnRate) {
    const std::string patch = write_patch("keys.json", R"({
      "sample_rate": 44100, "block_size": 64,
      "instances": [
        {"name": "keys", "module": "midi_source"},
        {"name": "cv", "module": "midi_to_cv"},
        {"name": "osc", "module": "tallisk", "pins": {"Waveform": 0, "wbf_path": "BANK"}},
        {"name": "out", "module": "audio_out"}
      ],
      "wires": [["keys.MIDI Out", "cv.MIDI In"], ["cv.Pitch", "osc.Pitch"], ["osc.Output", "out.Left"]],
      "output": {"channels": ["out.Left"]}
    })");
    const std::string wav = temp_dir() + "/keys.wav", saved = temp_dir() + "/keys-saved.json";
    Play play({kMvhost, "play", patch, "--record", wav, "--seconds", "3", "--save-patch", saved},
              temp_dir() + "/keys.err");
    ASSERT_TRUE(play.wait_ready(20)) << play.err();
    TestKeyboard keyboard("keys:midi_in");
    ASSERT_TRUE(keyboard.ok());
    // A new connection joins the server's graph some cycles after jack_connect, later on a busy
    // machine: the key is struck again until surely heard (the same note, the same pitch).
    for (int k = 0; k < 6; ++k) {
        pause(0.25);
        keyboard.note_on(81);  // A5
    }
    // Ctrl+S in the window writes the patch while it plays.
    ASSERT_EQ(xdotool({"search", "--sync", "--name", "keys.json", "windowfocus", "--sync", "key", "ctrl+s"}), 0);
    ASSERT_EQ(play.wait_exit(30), 0) << play.err();
    EXPECT_NE(play.err().find("saved " + saved), std::string::npos) << play.err();

    std::vector<float> x;
    int rate = 0, channels = 0;
    long frames = 0;
    ASSERT_TRUE(read_wav(wav, &x, &rate, &channels, &frames));
    EXPECT_NEAR(zero_crossing_hz(x, x.size() - 24000, x.size(), rate), 880.0, 1.0);
    const std::string text = read_file(saved);
    EXPECT_NE(text.find("\"sample_rate\": 44100"), std::string::npos) << text;
    EXPECT_NE(text.find("\"block_size\": 64"), std::string::npos) << text;
    EXPECT_NE(text.find("\"restored\": true"), std::string::npos) << text;
}


void center(const Rect& r) {
    ASSERT_GT(r.w, 0) << "not listed";
    click_at(r.x + r.w / 2, r.y + r.h / 2);
}

// A format-0 MIDI file of one short note, as a patch's "midi_file" names it.
void write_midi(const std::string& path) {
    const unsigned char bytes[] = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 96, 'M', 'T', 'r', 'k', 0, 0, 0, 12,
                                   0, 0x90, 60, 64, 96, 0x80, 60, 0, 0, 0xFF, 0x2F, 0};
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

double last_second_hz(const std::string& wav) {
    std::vector<float> x;
    int rate = 0, channels = 0;
    long frames = 0;
    if (!read_wav(wav, &x, &rate, &channels, &frames) || x.size() < 48000) return 0;
    return zero_crossing_hz(x, x.size() - 48000, x.size(), rate);
}

TEST_F(PlayLive, WhatIsSetLiveIsSavedRebasedAndTheSavedPatchRendersAsItLastSounded) {
    // The patch in a folder of its own, saved into another: every relative path must still name
    // the same file from there.
    const fs::path src = fs::path(temp_dir()) / "src", dst = fs::path(temp_dir()) / "dst";
    fs::create_directories(src);
    fs::create_directories(dst);
    write_midi((src / "notes.mid").string());
    const std::string patch = (src / "live.json").string();
    std::ofstream(patch) << std::string(R"({
      "sample_rate": 48000, "block_size": 1024, "duration": 2.0,
      "instances": [
        {"name": "keys", "module": "midi_source"},
        {"name": "osc", "module": "tallisk", "pins": {"Waveform": 0, "wbf_path": ")") + kBank + R"("}},
        {"name": "view", "module": "tallisk_view"},
        {"name": "out", "module": "audio_out"}
      ],
      "host": {"folder": "."},
      "wires": [["osc.Output", "out.Left"]],
      "events": [{"time": 0, "midi_file": "notes.mid", "to": "keys"}],
      "output": {"channels": ["out.Left"]},
      "user": [{"open_file": "never.wav"}]
    })";
    const std::string saved = (dst / "saved.json").string(), wav = temp_dir() + "/live.wav";
    Play play({kMvhost, "play", patch, "--record", wav, "--save-patch", saved, "--zoom", "1"}, temp_dir() + "/live.err");
    ASSERT_TRUE(play.wait_ready(20)) << play.err();
    // Inputs handled on the GUI side have controls too.
    EXPECT_EQ(play.controls().count("view.Mode"), 1u);
    // Pitch typed: 2 V, in Volt/KHz 2000 Hz; Morph at the bank's first waveform.
    for (const auto& [pin, volts] : {std::pair<const char*, const char*>{"osc.Pitch", "2"}, {"osc.Morph", "0"}}) {
        center(play.at("number", pin));
        keys({"ctrl+a"});
        ASSERT_EQ(xdotool({"type", volts}), 0);
        keys({"Return"});
    }
    center(play.controls().at("osc.Freq Scale"));
    pause(0.5);
    keys({"Down", "Return"});
    center(play.controls().at("osc.Morph Sw."));
    pause(0.5);
    keys({"Down", "Return"});
    // Five notches of the wheel over the slider once it has lost the focus change nothing.
    keys({"Escape"});
    const Rect pitch = play.controls().at("osc.Pitch");
    ASSERT_EQ(xdotool({"mousemove", "--sync", std::to_string(pitch.x + pitch.w / 2), std::to_string(pitch.y + pitch.h / 2)}), 0);
    ASSERT_EQ(xdotool({"click", "--repeat", "5", "4"}), 0);
    pause(1.0);
    // Ctrl+S says where it saved, in the window; Ctrl+Q quits as closing does.
    ASSERT_EQ(xdotool({"search", "--sync", "--name", "live.json", "windowfocus", "--sync", "key", "ctrl+s"}), 0);
    pause(0.3);
    keys({"ctrl+q"});
    ASSERT_EQ(play.wait_exit(30), 0) << play.err();
    EXPECT_NEAR(last_second_hz(wav), 2000.0, 5.0);

    const nlohmann::json doc = nlohmann::json::parse(read_file(saved));
    const nlohmann::json& osc = doc["instances"][1]["pins"];
    EXPECT_NEAR(osc.value("Pitch", 0.0), 2.0, 1e-6) << osc;
    EXPECT_EQ(osc.value("Freq Scale", ""), "Volt/KHz") << osc;
    EXPECT_EQ(osc.value("Morph Sw.", ""), "Enable") << osc;
    EXPECT_EQ(doc["events"][0]["midi_file"], "../src/notes.mid");
    EXPECT_EQ(doc["host"]["folder"], "../src");
    EXPECT_EQ(doc["user"][0]["open_file"], "../src/never.wav");
    const std::string rendered = temp_dir() + "/saved-render.wav";
    ASSERT_EQ(run({kMvhost, "render", saved, "-o", rendered, "-q"}), 0);
    EXPECT_NEAR(last_second_hz(rendered), 2000.0, 5.0);
}

TEST_F(PlayLive, CtrlCFinishesTheSessionAsClosingDoes) {
    const fs::path dir = fs::path(temp_dir()) / "signal";
    fs::create_directories(dir);
    const std::string patch = write_patch("signal/signal.json", kOscPatch);
    const std::string wav = (dir / "signal.wav").string(), saved = (dir / "signal-saved.json").string();
    Play play({kMvhost, "play", patch, "--record", wav, "--save-patch", saved}, temp_dir() + "/signal.err");
    ASSERT_TRUE(play.wait_ready(20)) << play.err();
    pause(1.0);
    ASSERT_EQ(kill(play.pid(), SIGINT), 0);
    ASSERT_EQ(play.wait_exit(30), 0) << play.err();
    EXPECT_NE(play.err().find("mvhost play: the session was interrupted by a signal\n"), std::string::npos) << play.err();
    EXPECT_NEAR(last_second_hz(wav), 440.0, 1.0);
    EXPECT_NE(read_file(saved).find("\"restored\": true"), std::string::npos);
    for (const auto& entry : fs::directory_iterator(dir))
        EXPECT_EQ(entry.path().string().find(".part"), std::string::npos) << entry.path();
}

TEST_F(PlayLive, SecondsEndUnattendedWithOpenMenuAndUnansweredQuestion) {
    // A waveform made from the menu leaves the editor's question about unsaved waveforms for the
    // close, and the menu opened again at the end is still on the screen when the time is up.
    const std::string patch = write_patch("alone.json", R"({
      "sample_rate": 48000, "block_size": 1024,
      "instances": [
        {"name": "pitch", "module": "builtin:constant", "pins": {"Value": 5.0}},
        {"name": "osc", "module": "tallisk", "pins": {"Waveform": 0}},
        {"name": "out", "module": "audio_out"}
      ],
      "wires": [["pitch.Out", "osc.Pitch"], ["osc.Output", "out.Left"]],
      "output": {"channels": ["out.Left"]}
    })");
    Play play({kMvhost, "play", patch, "--seconds", "4"}, temp_dir() + "/alone.err");
    ASSERT_TRUE(play.wait_ready(20)) << play.err();
    const Rect osc = play.panels().at("osc");
    click_at(osc.x + osc.w / 3, osc.y + osc.h / 3);
    pause(0.7);
    keys({"Down", "Down", "Down", "Right", "Down", "Down", "Down", "Return"});
    pause(0.5);
    ASSERT_EQ(xdotool({"click", "1"}), 0);  // the pointer is still over the panel
    ASSERT_EQ(play.wait_exit(20), 0) << play.err();
    EXPECT_NE(play.err().find("mvhost play: unanswered message box: TK_MAIN: You have made changes on your waveforms."),
              std::string::npos)
        << play.err();
}


TEST_F(PlayLive, ClosingAsksEachModuleWhileTheWindowIsUpThenOffersToSaveTheChangedPatch) {
    std::string json = kEmptyOscPatch;
    json.erase(json.find(",\n  \"user\""), std::string::npos);
    const std::string patch = write_patch("closing.json", json + "\n}");
    Play play({kMvhost, "play", patch}, temp_dir() + "/closing.err");
    ASSERT_TRUE(play.wait_ready(20)) << play.err();
    const Rect osc = play.panels().at("osc");
    click_at(osc.x + osc.w / 3, osc.y + osc.h / 3);
    pause(0.7);
    keys({"Down", "Down", "Down", "Right", "Down", "Down", "Down", "Return"});  // New > Sawtooth
    center(play.controls().at("osc.Freq Scale"));
    pause(0.5);
    keys({"Down", "Return"});
    ASSERT_EQ(xdotool({"search", "--sync", "--name", "closing.json", "windowfocus", "--sync", "key", "ctrl+q"}), 0);
    // The editor's question comes while the window is still up, its card marked.
    ASSERT_EQ(xdotool({"search", "--sync", "--onlyvisible", "--name", "TK_MAIN"}), 0);
    EXPECT_TRUE(window_visible("closing.json"));
    pause(0.3);
    run({"import", "-window", "root", std::string(MV_BINARY_DIR) + "/tests/play-closing.png"});
    keys({"alt+n"});
    // Then the patch, changed and named by no --save-patch: Save as... is the default.
    ASSERT_EQ(xdotool({"search", "--sync", "--onlyvisible", "--name", "^mvhost play$"}), 0);
    pause(0.3);
    keys({"Return"});
    ASSERT_EQ(xdotool({"search", "--sync", "--onlyvisible", "--name", "Save the patch as"}), 0);
    pause(0.5);
    keys({"ctrl+a"});
    ASSERT_EQ(xdotool({"type", "asked.json"}), 0);
    keys({"Return"});
    ASSERT_EQ(play.wait_exit(30), 0) << play.err();
    const std::string saved = read_file(temp_dir() + "/asked.json");
    EXPECT_NE(saved.find("\"Freq Scale\": \"Volt/KHz\""), std::string::npos) << play.err();
}


// The pitches heard in 50 ms windows of a recording.
std::vector<double> pitches(const std::string& wav) {
    std::vector<float> x;
    int rate = 0, channels = 0;
    long frames = 0;
    std::vector<double> hz;
    if (!read_wav(wav, &x, &rate, &channels, &frames)) return hz;
    for (size_t k = 0; k + 2400 <= x.size(); k += 2400) hz.push_back(zero_crossing_hz(x, k, k + 2400, rate));
    return hz;
}
bool heard(const std::vector<double>& hz, double f) {
    return std::any_of(hz.begin(), hz.end(), [&](double h) { return std::fabs(h - f) < f * 0.01; });
}
// Whether the last second holds one pitch: the arpeggio has stopped on its last note.
bool settled(const std::vector<double>& hz) {
    if (hz.size() < 20) return false;
    const auto [lo, hi] = std::minmax_element(hz.end() - 20, hz.end());
    return *lo > 0 && *hi - *lo < *lo * 0.01;
}

TEST_F(PlayLive, OnScreenAndComputerKeysPlayAndEscapeIsPanic) {
    const std::string patch = write_patch("playkeys.json", arp_patch(""));
    const std::string wav = temp_dir() + "/playkeys.wav";
    Play play({kMvhost, "play", patch, "--record", wav, "--seconds", "5"}, temp_dir() + "/playkeys.err");
    ASSERT_TRUE(play.wait_ready(20)) << play.err();
    const Rect kb = play.at("widget", "keyboard");
    ASSERT_GT(kb.w, 0);
    // A4 on the screen (the 13th white key from C3), low on the key.
    ASSERT_EQ(xdotool({"mousemove", "--sync", std::to_string(kb.x + 12 * 22 + 11), std::to_string(kb.y + kb.h - 10)}), 0);
    ASSERT_EQ(xdotool({"mousedown", "1"}), 0);
    pause(0.8);
    ASSERT_EQ(xdotool({"mouseup", "1"}), 0);
    // C, E and G of the octave from Q, held; Esc while they are still down.
    keys({"q", "e", "t"}, "keydown");
    pause(1.0);
    keys({"Escape"});
    keys({"q", "e", "t"}, "keyup");
    ASSERT_EQ(play.wait_exit(30), 0) << play.err();
    RecordProperty("summary", play.err());
    const std::vector<double> hz = pitches(wav);
    EXPECT_TRUE(heard(hz, 440.0));
    EXPECT_TRUE(heard(hz, 261.63));
    EXPECT_TRUE(heard(hz, 392.0));
    EXPECT_TRUE(settled(hz));
}

TEST_F(PlayLive, AKeyboardThatGoesAwayWithKeysDownLeavesNoNoteHeld) {
    const std::string patch = write_patch("gone.json", arp_patch(""));
    const std::string wav = temp_dir() + "/gone.wav";
    Play play({kMvhost, "play", patch, "--record", wav, "--seconds", "4"}, temp_dir() + "/gone.err");
    ASSERT_TRUE(play.wait_ready(20)) << play.err();
    {
        TestKeyboard keyboard("gone:midi_in");
        ASSERT_TRUE(keyboard.ok());
        pause(0.5);  // until the connection is surely in the graph
        keyboard.chord(60, 64, 67);
        pause(1.0);
    }
    ASSERT_EQ(play.wait_exit(30), 0) << play.err();
    const std::vector<double> hz = pitches(wav);
    EXPECT_TRUE(heard(hz, 392.0));
    EXPECT_TRUE(settled(hz));
}

TEST_F(PlayLive, MidiFilePlaysAsRenderPlaysItAndLoopsWithLoop) {
    // A4 for half a second, then A5 released at one second: without a loop the voice stays on A5.
    const std::string mid = temp_dir() + "/two-notes.mid";
    const unsigned char bytes[] = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 96, 'M', 'T', 'r', 'k', 0, 0, 0, 20,
                                   0, 0x90, 69, 100, 96, 0x80, 69, 0, 0, 0x90, 81, 100, 96, 0x80, 81, 0, 0, 0xFF, 0x2F, 0};
    std::ofstream(mid, std::ios::binary).write(reinterpret_cast<const char*>(bytes), sizeof bytes);
    const std::string patch = write_patch("looped.json", R"({
      "sample_rate": 48000, "block_size": 1024, "duration": 1.0,
      "instances": [
        {"name": "keys", "module": "midi_source"},
        {"name": "cv", "module": "midi_to_cv"},
        {"name": "osc", "module": "tallisk", "pins": {"Waveform": 0, "wbf_path": "BANK"}},
        {"name": "out", "module": "audio_out"}
      ],
      "wires": [["keys.MIDI Out", "cv.MIDI In"], ["cv.Pitch", "osc.Pitch"], ["osc.Output", "out.Left"]],
      "output": {"channels": ["out.Left"]}
    })");
    const std::string live = temp_dir() + "/looped.wav", offline = temp_dir() + "/looped-render.wav";
    Play play({kMvhost, "play", patch, "--midi", "keys=" + mid, "--loop", "--record", live, "--seconds", "3"},
              temp_dir() + "/looped.err");
    ASSERT_TRUE(play.wait_ready(20)) << play.err();
    ASSERT_EQ(play.wait_exit(30), 0) << play.err();
    ASSERT_EQ(run({kMvhost, "render", patch, "--midi", mid, "-o", offline, "-q"}), 0);
    std::vector<float> a, b;
    int rate = 0, channels = 0;
    long frames = 0;
    ASSERT_TRUE(read_wav(offline, &b, &rate, &channels, &frames));
    ASSERT_TRUE(read_wav(live, &a, &rate, &channels, &frames));
    ASSERT_EQ(a.size(), 3u * 48000);
    // The first pass is the render, sample for sample; each later one starts on A4 again.
    size_t differ = 0;
    for (size_t k = 0; k < b.size(); ++k) differ += std::fabs(a[k] - b[k]) > 1e-6f;
    EXPECT_EQ(differ, 0u);
    for (size_t pass = 0; pass < 3; ++pass) {
        const size_t at = pass * 48000;
        EXPECT_NEAR(zero_crossing_hz(a, at + 4800, at + 19200, rate), 440.0, 1.0) << "pass " << pass;
        EXPECT_NEAR(zero_crossing_hz(a, at + 28800, at + 43200, rate), 880.0, 2.0) << "pass " << pass;
    }
}

TEST_F(PlayLive, RefusesAnUnknownMidiInstanceAndARecordingWithoutOutputs) {
    const std::string with_outputs = write_patch("plain2.json", kOscPatch);
    const std::string without = write_patch("silent.json", R"({
      "instances": [{"name": "pitch", "module": "builtin:constant"}]
    })");
    const std::string wav = temp_dir() + "/never.wav";
    struct Case {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"play", with_outputs, "--midi-in", "nosuch"}, "--midi-in nosuch: no such instance"},
        {{"play", with_outputs, "--midi-in", "osc"}, "the instance has no \"MIDI In\" MIDI input"},
        {{"play", without, "--record", wav}, "--record: the patch names no output channels"},
        {{"play", with_outputs, "--midi", wav}, "--midi " + wav + ": the patch has no midi_source instance"},
        // Outputs that would destroy each other or an input, or cannot be written, before the session.
        {{"play", with_outputs, "--record", with_outputs}, "--record " + with_outputs + ": is the patch"},
        {{"play", with_outputs, "--record", wav, "--save-patch", wav}, "is the same file as --record " + wav},
        {{"play", with_outputs, "--record", wav, "--save-patch", temp_dir() + "/nodir/x.json"}, "nodir"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> argv{kMvhost};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const std::string err = temp_dir() + "/refused.err";
        const pid_t pid = spawn(argv, -1, err);
        ASSERT_GT(pid, 0);
        EXPECT_EQ(wait_exit(pid, 30), 2) << c.message;
        EXPECT_NE(read_file(err).find(c.message), std::string::npos) << read_file(err);
    }
    EXPECT_FALSE(fs::exists(wav));
    EXPECT_TRUE(nlohmann::json::accept(read_file(with_outputs))) << "the patch is still the patch";
}

TEST(PlayCommand, RefusesBadInputWithOneLineAndStatus2) {
    const std::string patch = write_patch("plain.json", kOscPatch);
    struct Case {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"play", temp_dir() + "/missing.json"}, "cannot open the patch file"},
        {{"play", patch, "--zoom", "0"}, "--zoom 0: expected 1 to 16"},
        {{"play", patch, "--seconds", "-1"}, "--seconds: expected"},
        {{"play", patch, "--loop"}, "--loop: repeats the files of --midi, and none was given"},
        {{"play", patch}, "no JACK server is running; start one"},
    };
    // No server answers under this name, whatever else runs on the machine.
    setenv("JACK_DEFAULT_SERVER", ("mvplay-none-" + std::to_string(getpid())).c_str(), 1);
    for (const Case& c : cases) {
        std::vector<std::string> argv{kMvhost};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const std::string err = temp_dir() + "/bad.err";
        const pid_t pid = spawn(argv, -1, err);
        ASSERT_GT(pid, 0);
        EXPECT_EQ(wait_exit(pid, 20), 2) << c.message;
        const std::string text = read_file(err);
        EXPECT_NE(text.find(c.message), std::string::npos) << text;
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
    }
    unsetenv("JACK_DEFAULT_SERVER");
}

}  // namespace
