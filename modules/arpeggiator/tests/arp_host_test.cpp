// The arpeggiator through the reference host: its description, MIDI in at given clocks, and what
// reaches the next module, at the clocks the host delivers it.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "mvhost/host.h"

namespace {

const std::string kArp = std::string(MV_PLUGIN_DIR) + "/arpeggiator.so";
const std::string kTempo = std::string(MV_PLUGIN_DIR) + "/host_tempo.so";

int32_t note_on(int ch, int note, int vel) { return 0x90 + ch + note * 256 + vel * 65536; }
int32_t note_off(int ch, int note) { return 0x80 + ch + note * 256 + 64 * 65536; }
bool is_note_on(int32_t w) { return (w & 0xF0) == 0x90 && ((w >> 16) & 0x7F) != 0; }
bool is_note_off(int32_t w) { return (w & 0xF0) == 0x80; }

// An arpeggiator feeding a second one left at Arp Mode OFF: the second passes every message on
// with the time stamp it was delivered at, so its log shows what a downstream module receives.
struct ArpHost : ::testing::Test {
    mvh::Host host;
    mvh::Instance* arp = nullptr;
    mvh::Instance* sink = nullptr;

    void SetUp() override {
        host.config().block_size = 256;
        std::string err;
        arp = host.add(kArp, "arp", {}, &err);
        ASSERT_NE(arp, nullptr) << err;
        sink = host.add(kArp, "sink", {}, &err);
        ASSERT_NE(sink, nullptr) << err;
        ASSERT_TRUE(host.connect(arp, pin("MIDI Out"), sink, pin("MIDI In"), &err)) << err;
    }
    int pin(const std::string& name) const {
        const int p = arp->find_pin(name);
        EXPECT_GE(p, 0) << name;
        return p;
    }
    void key(int clock, int32_t word) { host.queue_midi(arp, pin("MIDI In"), clock, word); }
    std::vector<mvh::MidiRecord> received(bool (*keep)(int32_t)) const {
        std::vector<mvh::MidiRecord> out;
        for (const auto& r : sink->midi_log)
            if (keep(r.word)) out.push_back(r);
        return out;
    }
};

TEST_F(ArpHost, DescribesItselfAsTheClassicArp) {
    const mvh::Plugin& p = arp->plugin();
    EXPECT_EQ(p.name(), "WN_Classic_Arp");
    EXPECT_EQ(p.id(), "Classic_Arp_WN2003aMid");
    EXPECT_EQ(p.sdk_version(), 2230);
    EXPECT_EQ(p.module_flags(), 0);
    std::vector<std::string> lines;
    std::istringstream about(p.about());
    for (std::string line; std::getline(about, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 25u);
    EXPECT_EQ(lines[0], "Classic Arpeggio");
    EXPECT_EQ(lines[1].rfind("Ver:2.0", 0), 0u);
    EXPECT_EQ(lines[2], "");
    EXPECT_EQ(lines[3], "Insert between <Midi_In> and <Midi_to_CV> modules");
    EXPECT_EQ(lines[5], "");
    EXPECT_EQ(lines[6], "Features:");
    EXPECT_EQ(lines[11], "    Off, Up, Down, Up+Down, Down+Up, Up+Down2, Down+Up2");
    EXPECT_EQ(lines[24], "Arp_Status: Used for controlling other modules etc");

    const auto& pins = arp->pins();
    ASSERT_EQ(pins.size(), 15u);
    struct Want {
        const char* name;
        int direction, datatype;
        const char* def;
        const char* extra;
    };
    const Want want[] = {
        {"MIDI In", DR_IN, DT_MIDI, "", ""},
        {"Channel (1-16)", DR_IN, DT_ENUM, "0", "1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16"},
        {"BPM Tempo", DR_IN, DT_FSAMPLE, "120.0", "240,30,240,30"},
        {"Beat Ratio", DR_IN, DT_FSAMPLE, "1.0", "4,0.05,4,0.05"},
        {"Play Mode", DR_IN, DT_ENUM, "0", "On Beat"},
        {"Arp Mode", DR_IN, DT_ENUM, "0", "OFF,Up,Down,Up+Down,Down+Up,Up+Down:2,Down+Up:2"},
        {"Oct Range", DR_IN, DT_ENUM, "0", "1=0,2=12,3=24,4=36"},
        {"Velocity Mode", DR_IN, DT_ENUM, "0", "Note,Constant"},
        {"Arp Hold", DR_IN, DT_ENUM, "0", "OFF,ON"},
        {"Note Gate: %", DR_IN, DT_FSAMPLE, "50", "105,5,105,5"},
        {"MIDI Out", DR_OUT, DT_MIDI, "", ""},
        {"Transpose Channel (1-16)", DR_IN, DT_ENUM, "15", "1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,OFF=255"},
        {"Transpose Mode", DR_IN, DT_ENUM, "0", "Free,Reset"},
        {"Mono Mode", DR_IN, DT_ENUM, "0", "On=1,Off=0"},
        {"Arp_Status>", DR_OUT, DT_ENUM, "0", "Arp_Off,Arp_On"},
    };
    for (size_t i = 0; i < pins.size(); ++i) {
        EXPECT_EQ(pins[i].name, want[i].name) << i;
        EXPECT_EQ(pins[i].direction, want[i].direction) << i;
        EXPECT_EQ(pins[i].datatype, want[i].datatype) << i;
        EXPECT_EQ(pins[i].default_value, want[i].def) << i;
        EXPECT_EQ(pins[i].extra, want[i].extra) << i;
        EXPECT_EQ(pins[i].flags, 0) << i;
    }
    MVPinProperties none{};
    EXPECT_EQ(arp->dispatch(MD_PIN_PROPERTIES, 15, 0, &none), 0);
    EXPECT_EQ(arp->dispatch(MD_PIN_PROPERTIES, -1, 0, &none), 0);
}

TEST_F(ArpHost, NotesArriveOnTheGridAndNoteOffsInLaterBlocks) {
    arp->set_int(pin("Arp Mode"), 1);
    arp->set_float(pin("BPM Tempo"), 24.0f);
    arp->set_float(pin("Beat Ratio"), 0.0625f);
    host.open();
    for (int n : {60, 64, 67}) key(1000, note_on(0, n, 100));
    host.run(33000);

    const auto ons = received(is_note_on);
    const auto offs = received(is_note_off);
    ASSERT_GE(ons.size(), 5u);
    ASSERT_GE(offs.size(), 5u);
    const int want_clock[] = {1000, 7890, 14781, 21671, 28562};
    const int want_note[] = {60, 64, 67, 60, 64};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(ons[i].clock, want_clock[i]) << i;
        EXPECT_EQ((ons[i].word >> 8) & 0x7F, want_note[i]) << i;
        EXPECT_EQ(offs[i].clock, want_clock[i] + 3445) << i;
        EXPECT_EQ(offs[i].word, ons[i].word - 16) << i;
    }
}

TEST_F(ArpHost, FollowsTheHostTempoThroughTheTempoModule) {
    std::string err;
    mvh::Instance* tempo = host.add(kTempo, "tempo", {}, &err);
    ASSERT_NE(tempo, nullptr) << err;
    ASSERT_TRUE(host.connect(tempo, 0, arp, pin("BPM Tempo"), &err)) << err;
    arp->set_int(pin("Arp Mode"), 1);
    arp->set_float(pin("Beat Ratio"), 0.0625f);
    host.set_tempo(240.0);
    host.open();
    key(0, note_on(0, 60, 100));
    host.run(256 * 54);  // 13824: steps at 0, 6890, 13781
    host.set_tempo(120.0);  // from clock 13824 a step is 13781.25 samples
    host.run(256 * 60);

    const auto ons = received(is_note_on);
    ASSERT_GE(ons.size(), 4u);
    EXPECT_EQ(ons[0].clock, 0);
    EXPECT_EQ(ons[1].clock, 6890);
    EXPECT_EQ(ons[2].clock, 13781);
    EXPECT_EQ(ons[3].clock, 13781 + 13781);
}

TEST_F(ArpHost, OtherChannelsAndNonNotesPassWithTheirOwnTimeStamps) {
    arp->set_int(pin("Arp Mode"), 1);
    host.open();
    key(0, note_on(0, 60, 100));
    const int32_t bend = 0xE0 + (0x00 << 8) + (0x50 << 16);
    key(777, bend);
    key(900, note_on(4, 61, 90));
    key(1500, 0xB0 + (1 << 8) + (64 << 16));
    host.run(2048);

    std::vector<mvh::MidiRecord> passed;
    for (const auto& r : sink->midi_log)
        if (!(is_note_on(r.word) && (r.word & 0x0F) == 0) && !is_note_off(r.word) && r.word != 0x7BB0) passed.push_back(r);
    ASSERT_EQ(passed.size(), 3u);
    EXPECT_EQ(passed[0].word, bend);
    EXPECT_EQ(passed[0].clock, 777);
    EXPECT_EQ(passed[1].word, note_on(4, 61, 90));
    EXPECT_EQ(passed[1].clock, 900);
    EXPECT_EQ(passed[2].clock, 1500);
}

TEST_F(ArpHost, ReportsItsStatusAndSleepsWhileStopped) {
    arp->set_int(pin("Arp Mode"), 2);
    host.open();
    host.run_block();
    EXPECT_EQ(arp->read_variable(pin("Arp_Status>")).i, 1);
    ASSERT_FALSE(arp->status_log.empty());
    EXPECT_EQ(arp->status_log.back().pin, pin("Arp_Status>"));
    EXPECT_TRUE(arp->sleeping());

    key(300, note_on(0, 60, 100));
    host.run_block();
    EXPECT_FALSE(arp->sleeping());
    key(600, note_off(0, 60));
    host.run(512);
    EXPECT_TRUE(arp->sleeping());
    EXPECT_EQ(received(is_note_on).size(), 1u);
}

// What a receiver that stacks notes (as the host's MIDI to CV does) still holds at the end: per
// channel and note, note-ons minus note-offs; all-notes-off clears its channel.
int still_sounding(const std::vector<mvh::MidiRecord>& log) {
    std::map<int, int> held;
    for (const auto& r : log) {
        if ((r.word & 0xFFF0) == 0x7BB0) {
            for (auto& [key, count] : held)
                if ((key >> 8) == (r.word & 0x0F)) count = 0;
        } else if (is_note_on(r.word) || is_note_off(r.word)) {
            held[(r.word & 0x0F) << 8 | ((r.word >> 8) & 0x7F)] += is_note_on(r.word) ? 1 : -1;
        }
    }
    int sounding = 0;
    for (const auto& [key, count] : held) sounding += count > 0 ? count : 0;
    return sounding;
}

// Played as a user would, every case must leave no note sounding once the keys are up, and play
// (or not) as stated after a given clock.
TEST_F(ArpHost, NoNoteIsLeftSoundingOnceTheKeysAreUp) {
    struct Set {
        const char* pin;
        float value;
        int clock;
    };
    struct Case {
        const char* what;
        std::vector<Set> sets;
        std::vector<std::pair<int, int32_t>> keys;
        int after;  // note-ons from this clock on are counted
        size_t min_ons, max_ons;
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::vector<Case> cases = {
        {"Channel change while keys are held",
         {{"Channel (1-16)", 1, 5000}},
         {{0, note_on(0, 60, 100)}, {0, note_on(0, 64, 100)}, {6000, note_off(0, 60)}, {6000, note_off(0, 64)}},
         5000, 0, 0},
        {"tempo 0", {{"BPM Tempo", 0.0f, -1}}, {{0, note_on(0, 60, 100)}, {10000, note_off(0, 60)}}, 0, 0, 0},
        {"tempo NaN", {{"BPM Tempo", nan, -1}}, {{0, note_on(0, 60, 100)}, {10000, note_off(0, 60)}}, 0, 0, 0},
        {"Mono Mode with a gate of 105 %",
         {{"Mono Mode", 1, -1}, {"BPM Tempo", 24.0f, -1}, {"Beat Ratio", 0.0625f, -1}, {"Note Gate: %", 10.5f, -1}},
         {{0, note_on(0, 60, 100)}, {0, note_on(0, 64, 100)}, {20000, note_off(0, 60)}, {20000, note_off(0, 64)}},
         0, 3, 3},
        {"keys held while Arp Mode goes OFF, pressed again once it is back",
         {{"Arp Mode", 0, 1000}, {"Arp Mode", 1, 2000}},
         {{0, note_on(0, 60, 100)}, {1500, note_off(0, 60)}, {3000, note_on(0, 60, 100)}, {9000, note_off(0, 60)}},
         3000, 1, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        mvh::Host h;
        h.config().block_size = 256;
        std::string err;
        mvh::Instance* a = h.add(kArp, "arp", {}, &err);
        mvh::Instance* s = h.add(kArp, "sink", {}, &err);
        ASSERT_TRUE(a && s) << err;
        ASSERT_TRUE(h.connect(a, pin("MIDI Out"), s, pin("MIDI In"), &err)) << err;
        a->set_int(pin("Arp Mode"), 1);
        a->set_float(pin("Beat Ratio"), 0.01f);
        auto apply = [&](bool timed) {
            for (const Set& set : c.sets) {
                if ((set.clock >= 0) != timed) continue;
                const int32_t as_int = std::isfinite(set.value) ? static_cast<int32_t>(set.value) : 0;
                a->set_value(pin(set.pin), mvh::PinValue{as_int, set.value, {}}, set.clock);
            }
        };
        apply(false);
        h.open();
        apply(true);
        for (const auto& [clock, word] : c.keys) h.queue_midi(a, pin("MIDI In"), clock, word);
        h.run(30000);
        size_t ons = 0;
        for (const auto& r : s->midi_log) ons += is_note_on(r.word) && r.clock >= c.after;
        EXPECT_GE(ons, c.min_ons);
        EXPECT_LE(ons, c.max_ons);
        EXPECT_EQ(still_sounding(s->midi_log), 0);
    }
}

TEST_F(ArpHost, WalksTheChordInEveryMode) {
    // One arpeggiator per mode on its own channel, all feeding the sink.
    const std::vector<std::vector<int>> want = {
        {60, 64, 67, 60, 64, 67},         {60, 67, 64, 60, 67, 64},         {60, 64, 67, 64, 60, 64},
        {60, 64, 67, 64, 60, 64},         {60, 64, 67, 67, 64, 60},         {60, 60, 64, 67, 67, 64},
    };
    std::string err;
    for (int mode = 1; mode <= 6; ++mode) {
        mvh::Instance* a = mode == 1 ? arp : host.add(kArp, "arp" + std::to_string(mode), {}, &err);
        ASSERT_NE(a, nullptr) << err;
        if (mode != 1) {
            ASSERT_TRUE(host.connect(a, pin("MIDI Out"), sink, pin("MIDI In"), &err)) << err;
        }
        a->set_int(pin("Arp Mode"), mode);
        a->set_int(pin("Channel (1-16)"), mode);
        a->set_float(pin("Beat Ratio"), 0.01f);  // 2205-sample steps
        for (int n : {60, 64, 67}) host.queue_midi(a, pin("MIDI In"), 0, note_on(mode, n, 100));
    }
    host.open();
    host.run(2205 * 6 - 100);  // steps at 0, 2204, 4409, ... 11024
    for (int mode = 1; mode <= 6; ++mode) {
        std::vector<int> got;
        for (const auto& r : received(is_note_on))
            if ((r.word & 0x0F) == mode) got.push_back((r.word >> 8) & 0x7F);
        EXPECT_EQ(got, want[mode - 1]) << "mode " << mode;
    }
}

TEST_F(ArpHost, TransposeChannelShiftsTheArpeggioAndIsNotPassedOn) {
    arp->set_int(pin("Arp Mode"), 1);
    arp->set_float(pin("Beat Ratio"), 0.01f);
    host.open();
    key(0, note_on(0, 60, 100));
    key(100, note_on(15, 72, 100));  // middle C + 12 on channel 16
    key(3000, note_on(15, 48, 100));
    key(3000, note_off(15, 48));
    host.run(2205 * 3 - 100);
    std::vector<int> got;
    for (const auto& r : received(is_note_on)) got.push_back((r.word >> 8) & 0x7F);
    EXPECT_EQ(got, (std::vector<int>{60, 72, 48}));
    for (const auto& r : sink->midi_log) EXPECT_NE(r.word & 0x0F, 15);
}

TEST_F(ArpHost, HoldKeepsPlayingAfterTheKeysAreUp) {
    arp->set_int(pin("Arp Mode"), 1);
    arp->set_int(pin("Arp Hold"), 1);
    arp->set_float(pin("Beat Ratio"), 0.01f);
    host.open();
    key(0, note_on(0, 60, 100));
    key(10, note_on(0, 67, 100));
    key(20, note_off(0, 60));
    key(20, note_off(0, 67));
    host.run(2205 * 4 - 100);
    EXPECT_EQ(received(is_note_on).size(), 4u);
    arp->set_int(pin("Arp Hold"), 0);
    host.run(2205 * 4);
    EXPECT_EQ(received(is_note_on).size(), 4u);
    EXPECT_TRUE(arp->sleeping());
}

TEST(ArpHostBare, AnswersOnlyIndexZeroAndKindsOneAndTwo) {
    std::string err;
    auto plugin = mvh::Plugin::load(kArp, &err);
    ASSERT_NE(plugin, nullptr) << err;
    MVModuleProperties props{};
    EXPECT_EQ(plugin->get_module_properties()(1, &props), 0);
    EXPECT_EQ(props.name, nullptr);
    EXPECT_EQ(plugin->get_module_properties()(0, &props), 1);
    EXPECT_EQ(plugin->make_module()(1, 1, nullptr, 0), nullptr);
    EXPECT_EQ(plugin->make_module()(0, 3, nullptr, 0), nullptr);
    void* gui = plugin->make_module()(0, 2, nullptr, 0);
    ASSERT_NE(gui, nullptr);
    auto* g = static_cast<MVGuiStruct*>(gui);
    EXPECT_EQ(g->magic, 0x5345504Du);
    EXPECT_EQ(g->dispatcher(g, GD_CLOSE, 0, 0, nullptr, 0.0f), 1);
    void* audio = plugin->make_module()(0, 1, nullptr, 7);
    ASSERT_NE(audio, nullptr);
    auto* a = static_cast<MVModStruct*>(audio);
    EXPECT_EQ(a->magic, 0xC304C483u);
    EXPECT_EQ(a->host_handle, 7);
    EXPECT_EQ(a->dispatcher(a, MD_CLOSE, 0, 0, nullptr, 0.0f), 1);
}

TEST(ArpHostBare, NullCallbackAndNoGuiStaySilent) {
    mvh::Host host;
    mvh::InstanceOptions options;
    options.null_callback = true;
    std::string err;
    mvh::Instance* arp = host.add(kArp, "arp", options, &err);
    ASSERT_NE(arp, nullptr) << err;
    host.open();
    host.run(1024);
    EXPECT_TRUE(arp->midi_log.empty());
    host.close();
}

}  // namespace
