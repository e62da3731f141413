// An exported instrument in jalv, the LV2 host Debian ships for JACK, on a dummy JACK server of
// the test's own: notes from jack_midiseq, the sound recorded by a JACK client of the test that
// also hears the notes, so that each note's onset is checked against the frame it was sent at.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include <nlohmann/json.hpp>

#include "live_session.h"
#include "mv_testing/exec.h"

namespace fs = std::filesystem;

namespace {

const std::string kSource = MV_SOURCE_DIR;
const std::string kMvhost = mv_testing::program(MV_BINARY_DIR "/bin/mvhost");
constexpr int kRate = 48000;  // the dummy server's default rate, which the reference render uses too

// One voice: a note's gate opens an envelope of 1 ms over a tallisk waveform, so that the sound
// starts on the note's frame (render puts the first loud sample there).
const char* kPatch = R"({
  "sample_rate": 48000, "block_size": 256, "duration": 1, "host": {"folder": "."},
  "instances": [
    {"name": "keys", "module": "midi_source"},
    {"name": "cv", "module": "midi_to_cv"},
    {"name": "env", "module": "adsr", "pins": {"Attack": 0.001, "Decay": 0.1, "Sustain": 6, "Release": 0.01}},
    {"name": "osc", "module": "tallisk", "pins": {"wbf_path": "tallisk_sweep.wbf", "Waveform": 0}},
    {"name": "vca", "module": "vca"},
    {"name": "out", "module": "audio_out"}],
  "wires": [["keys.MIDI Out", "cv.MIDI In"], ["cv.Pitch", "osc.Pitch"], ["cv.Gate", "env.Gate"],
            ["osc.Output", "vca.Signal"], ["env.Out", "vca.Gain"], ["vca.Out", "out.Left"]],
  "plugin": {"uri": "urn:morvane:test:jalv_keys", "name": "jalv keys"},
  "output": {"channels": ["out.Left"]}})";

// jack_midiseq's loop: (start frame, note, length), velocity 64. The starts fall inside the JACK
// periods, not on their edges, so a note moved to a period's start would be seen.
struct SeqNote {
    int start, note, length;
};
constexpr int kLoop = 24000;
const SeqNote kSequence[] = {{1100, 60, 4000}, {9301, 67, 4000}, {17777, 72, 4000}};

struct Recorder {
    jack_client_t* client = nullptr;
    jack_port_t *audio = nullptr, *midi = nullptr;
    std::vector<float> sound;
    std::vector<std::pair<int64_t, int>> note_ons;  // (frame of the recording, note)
    std::atomic<bool> armed{false};
    std::atomic<int64_t> recorded{0};

    // [JACK's thread] The notes jack_midiseq sends reach jalv and this client in the same cycle,
    // and jalv runs before it (the graph orders it by the connections): the frame of a note-on
    // here is the frame jalv played it at.
    static int process(jack_nframes_t frames, void* self) {
        auto* r = static_cast<Recorder*>(self);
        if (!r->armed.load(std::memory_order_acquire)) return 0;
        const int64_t at = r->recorded.load(std::memory_order_relaxed);
        if (at >= static_cast<int64_t>(r->sound.size())) return 0;
        void* events = jack_port_get_buffer(r->midi, frames);
        for (uint32_t k = 0; k < jack_midi_get_event_count(events); ++k) {
            jack_midi_event_t e;
            if (jack_midi_event_get(&e, events, k) == 0 && e.size == 3 && (e.buffer[0] & 0xf0) == 0x90 && e.buffer[2] > 0 &&
                r->note_ons.size() < r->note_ons.capacity())
                r->note_ons.emplace_back(at + e.time, e.buffer[1]);
        }
        const auto* in = static_cast<const float*>(jack_port_get_buffer(r->audio, frames));
        const int64_t n = std::min<int64_t>(frames, static_cast<int64_t>(r->sound.size()) - at);
        std::copy(in, in + n, r->sound.begin() + at);
        r->recorded.store(at + n, std::memory_order_release);
        return 0;
    }
};

bool wait_for_port(jack_client_t* client, const std::string& name, double seconds) {
    const auto t0 = std::chrono::steady_clock::now();
    while (!jack_port_by_name(client, name.c_str())) {
        if (std::chrono::steady_clock::now() - t0 > std::chrono::duration<double>(seconds)) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

// The frames where a sound starts: the first sample above 1 % of the peak after at least
// `gap` quiet frames.
std::vector<int64_t> onsets(const std::vector<float>& x, int64_t gap) {
    float peak = 0;
    for (float v : x) peak = std::max(peak, std::fabs(v));
    std::vector<int64_t> found;
    int64_t last_loud = -gap - 1;
    for (int64_t k = 0; k < static_cast<int64_t>(x.size()); ++k) {
        if (std::fabs(x[k]) <= 0.01f * peak) continue;
        if (k - last_loud > gap) found.push_back(k);
        last_loud = k;
    }
    return found;
}

double rms(const std::vector<float>& x, int64_t from, int64_t frames) {
    double s = 0;
    for (int64_t k = from; k < from + frames && k < static_cast<int64_t>(x.size()); ++k) s += double(x[k]) * x[k];
    return std::sqrt(s / frames);
}

// jalv plays the exported bundle from LV2_PATH, as a person's session would load it from ~/.lv2.
TEST(Jalv, PlaysAnExportedInstrumentWithEachNoteOnItsFrame) {
    char t[] = "/tmp/lv2_jalv_test.XXXXXX";
    const fs::path dir = mkdtemp(t);
    struct Cleanup {
        fs::path dir;
        live_test::Screen screen;
        ~Cleanup() {
            screen.stop_all();
            fs::remove_all(dir);
        }
    } rig{dir, {}};
    fs::copy_file(kSource + "/examples/tallisk_sweep.wbf", dir / "tallisk_sweep.wbf");
    std::ofstream(dir / "keys.json") << kPatch;
    fs::create_directories(dir / "lv2");
    ASSERT_EQ(live_test::run({"sh", "-c", kMvhost + " export-lv2 " + (dir / "keys.json").string() + " -o " + (dir / "lv2" / "keys.lv2").string()}), 0);

    // The reference: the patch rendered with the loop's notes once, at its frames.
    nlohmann::json patch = nlohmann::json::parse(kPatch);
    for (const SeqNote& n : kSequence) {
        patch["events"].push_back({{"sample", n.start}, {"midi", "keys"}, {"message", {0x90, n.note, 64}}});
        patch["events"].push_back({{"sample", n.start + n.length}, {"midi", "keys"}, {"message", {0x80, n.note, 64}}});
    }
    std::ofstream(dir / "reference.json") << patch.dump();
    const std::string ref_wav = (dir / "reference.wav").string();
    ASSERT_EQ(live_test::run({"sh", "-c", kMvhost + " render " + (dir / "reference.json").string() + " -q --format float -o " + ref_wav}), 0);
    std::vector<float> reference;
    int rate = 0, channels = 0;
    long frames = 0;
    ASSERT_TRUE(live_test::read_wav(ref_wav, &reference, &rate, &channels, &frames));
    std::map<int, double> ref_level, ref_hz;
    {
        const auto found = onsets(reference, 2000);
        ASSERT_EQ(found.size(), std::size(kSequence));
        for (size_t k = 0; k < found.size(); ++k) {
            EXPECT_EQ(found[k], kSequence[k].start) << "render starts the note elsewhere: the onset measure is off";
            ref_level[kSequence[k].note] = rms(reference, kSequence[k].start, kSequence[k].length);
            ref_hz[kSequence[k].note] = live_test::zero_crossing_hz(reference, kSequence[k].start + 500, kSequence[k].start + 3500, kRate);
        }
    }

    std::string error;
    ASSERT_TRUE(rig.screen.start(&error)) << error;
    setenv("LV2_PATH", (dir / "lv2").c_str(), 1);
    // jalv's console reads commands from stdin and ends at its end: the test holds the pipe and
    // closes it to end jalv, which is stopped by its process id should it not go.
    int to_jalv[2];
    ASSERT_EQ(pipe2(to_jalv, O_CLOEXEC), 0);
    const std::string jalv_err = (dir / "jalv.err").string();
    const pid_t jalv = live_test::spawn({"jalv", "-x", "-n", "mvjalv", "urn:morvane:test:jalv_keys"}, -1, jalv_err, to_jalv[0]);
    close(to_jalv[0]);
    std::vector<std::string> seq_args = {"jack_midiseq", "mvseq", std::to_string(kLoop)};
    for (const SeqNote& n : kSequence)
        for (int v : {n.start, n.note, n.length}) seq_args.push_back(std::to_string(v));
    const pid_t seq = live_test::spawn(seq_args, -1, "");
    struct Children {
        pid_t jalv, seq;
        int pipe;
        ~Children() {
            close(pipe);
            if (live_test::wait_exit(jalv, 10) < 0) ADD_FAILURE() << "jalv did not end when its input ended";
            live_test::stop(seq);
        }
    } children{jalv, seq, to_jalv[1]};
    ASSERT_GT(jalv, 0);
    ASSERT_GT(seq, 0);

    Recorder rec;
    rec.sound.assign(2 * kLoop + 1000, 0.0f);
    rec.note_ons.reserve(64);
    rec.client = jack_client_open("mvrec", JackNoStartServer, nullptr);
    ASSERT_NE(rec.client, nullptr);
    struct Close {
        jack_client_t* c;
        ~Close() { jack_client_close(c); }
    } close_rec{rec.client};
    ASSERT_EQ(static_cast<int>(jack_get_sample_rate(rec.client)), kRate);
    rec.audio = jack_port_register(rec.client, "in", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    rec.midi = jack_port_register(rec.client, "notes", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    jack_set_process_callback(rec.client, &Recorder::process, &rec);
    ASSERT_EQ(jack_activate(rec.client), 0);
    ASSERT_TRUE(wait_for_port(rec.client, "mvjalv:control", 20)) << live_test::read_file(jalv_err);
    ASSERT_TRUE(wait_for_port(rec.client, "mvseq:out", 20));
    for (const auto& [from, to] : {std::pair{"mvseq:out", "mvjalv:control"}, {"mvseq:out", "mvrec:notes"}, {"mvjalv:out_Left", "mvrec:in"}})
        ASSERT_EQ(jack_connect(rec.client, from, to), 0) << from << " -> " << to;
    rec.armed.store(true, std::memory_order_release);
    const auto t0 = std::chrono::steady_clock::now();
    while (rec.recorded.load(std::memory_order_acquire) < static_cast<int64_t>(rec.sound.size())) {
        ASSERT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(20)) << "the dummy server stopped running";
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    jack_deactivate(rec.client);

    // Two loops: each note twice, in the loop's order and at its distances.
    ASSERT_GE(rec.note_ons.size(), 2 * std::size(kSequence));
    const size_t n = std::size(kSequence);
    size_t first = 0;
    while (first < n && kSequence[first].note != rec.note_ons[0].second) ++first;
    ASSERT_LT(first, n);
    for (size_t k = 1; k < rec.note_ons.size(); ++k) {
        const SeqNote &a = kSequence[(first + k - 1) % n], &b = kSequence[(first + k) % n];
        EXPECT_EQ(rec.note_ons[k].second, b.note);
        EXPECT_EQ(rec.note_ons[k].first - rec.note_ons[k - 1].first, (b.start - a.start + kLoop) % kLoop) << "jack_midiseq's note " << k;
    }
    // Each note sounds from the frame it was sent at. The detector finds the first sample above 1 %
    // of the peak; render puts it on the note's frame, but live the oscillator has run freely
    // before the note, and a note starting near its waveform's zero crossing needs a few more
    // frames of the 1 ms (48-frame) attack to get there: 8 frames cover that and are far below
    // the 1024-frame period, so a note played at a period's edge or a period late fails.
    const auto found = onsets(rec.sound, 2000);
    for (const auto& [frame, note] : rec.note_ons) {
        if (frame + 4000 > static_cast<int64_t>(rec.sound.size())) continue;
        SCOPED_TRACE("note " + std::to_string(note) + " sent at frame " + std::to_string(frame));
        int64_t nearest = INT64_MAX;
        for (int64_t o : found)
            if (std::llabs(o - frame) < std::llabs(nearest - frame)) nearest = o;
        EXPECT_GE(nearest, frame);
        EXPECT_LE(nearest, frame + 8);
        // The level and pitch of the held note are the render's: the same voice at velocity 64
        // (within 5 % and 0.5 %: the waveform starts at another phase and the window holds no
        // whole number of its cycles, which moves the level by up to 2 %).
        EXPECT_NEAR(rms(rec.sound, frame, 4000) / ref_level[note], 1.0, 0.05);
        EXPECT_NEAR(live_test::zero_crossing_hz(rec.sound, frame + 500, frame + 3500, kRate) / ref_hz[note], 1.0, 0.005);
    }
    unsetenv("LV2_PATH");
}

}  // namespace
