// MIDI source and MIDI to CV through the reference host: forwarding, pitch law, gate timing at the
// event's sample, last-note priority, channels.
#include "builtin_rig.h"

namespace {

using mvb_test::Rig;

int32_t note_on(int note, int velocity, int channel = 0) { return 0x90 | channel | note << 8 | velocity << 16; }
int32_t note_off(int note, int channel = 0) { return 0x80 | channel | note << 8 | 64 << 16; }

float pitch(int note) { return static_cast<float>(0.5 + (note - 69) / 120.0); }

struct MidiRig : ::testing::Test {
    Rig rig{48000.0f, 256};
    mvh::Instance* src = rig.add("midi_source", "src");
    mvh::Instance* cv = rig.add("midi_to_cv", "cv");
    const std::vector<float>* p = nullptr;
    const std::vector<float>* g = nullptr;
    const std::vector<float>* v = nullptr;

    void SetUp() override {
        rig.wire(src, "MIDI Out", cv, "MIDI In");
        p = &rig.record(cv, "Pitch");
        g = &rig.record(cv, "Gate");
        v = &rig.record(cv, "Velocity");
        rig.host.open();
    }
    void send(int clock, int32_t word) { rig.host.queue_midi(src, Rig::pin(src, "MIDI In"), clock, word); }
    // Every sample of [from, to) holds x.
    static void expect_span(const std::vector<float>& s, int from, int to, float x, const char* what) {
        for (int k = from; k < to; ++k) ASSERT_EQ(s[k], x) << what << " at " << k;
    }
};

TEST_F(MidiRig, TheSourceForwardsEachMessageAtItsClock) {
    send(10, note_on(60, 100));
    send(300, note_off(60));
    rig.host.run(512);
    ASSERT_EQ(src->midi_log.size(), 2u);
    EXPECT_EQ(src->midi_log[0].clock, 10);
    EXPECT_EQ(src->midi_log[0].word, note_on(60, 100));
    EXPECT_EQ(src->midi_log[1].clock, 300);
    EXPECT_TRUE(src->sleeping());
}

TEST_F(MidiRig, PitchGateAndVelocityChangeAtTheEventSample) {
    send(100, note_on(60, 127));
    send(700, note_off(60));
    rig.host.run(1024);
    expect_span(*p, 0, 100, 0.5f, "pitch");
    expect_span(*p, 100, 1024, pitch(60), "pitch");
    expect_span(*g, 0, 100, 0.0f, "gate");
    expect_span(*g, 100, 700, 1.0f, "gate");
    expect_span(*g, 700, 1024, 0.0f, "gate");
    expect_span(*v, 100, 1024, 1.0f, "velocity");
    const auto gate = Rig::states(cv, "Gate");
    ASSERT_EQ(gate.size(), 3u);
    EXPECT_EQ(gate[0].clock, 0);
    EXPECT_EQ(gate[1].clock, 100);
    EXPECT_EQ(gate[2].clock, 700);
    for (const auto& s : gate) EXPECT_EQ(s.state, PIN_CHANGED_ONCE);
    // Pitch and velocity did not change at the note-off, so they were not announced again.
    EXPECT_EQ(Rig::states(cv, "Pitch").size(), 2u);
    EXPECT_EQ(Rig::states(cv, "Velocity").size(), 2u);
    EXPECT_TRUE(cv->sleeping());
}

TEST_F(MidiRig, PitchLawIsOneVoltPerOctaveWithA440AtFiveVolts) {
    EXPECT_EQ(pitch(69), 0.5f);
    EXPECT_EQ(pitch(81), static_cast<float>(0.6));
    EXPECT_EQ(pitch(9), 0.0f);
    send(0, note_on(81, 64));
    send(256, note_on(0, 1));
    rig.host.run(512);
    EXPECT_EQ((*p)[10], static_cast<float>(0.6));
    EXPECT_EQ((*v)[10], static_cast<float>(64 / 127.0));
    EXPECT_EQ((*p)[300], static_cast<float>(0.5 - 69 / 120.0));
}

TEST_F(MidiRig, LastNotePriorityReturnsToTheHeldNote) {
    send(50, note_on(60, 100));
    send(200, note_on(64, 90));
    send(400, note_off(64));
    send(600, note_off(60));
    rig.host.run(768);
    expect_span(*p, 50, 200, pitch(60), "pitch");
    expect_span(*p, 200, 400, pitch(64), "pitch");
    expect_span(*v, 200, 400, static_cast<float>(90 / 127.0), "velocity");
    expect_span(*p, 400, 768, pitch(60), "pitch");
    expect_span(*v, 400, 600, static_cast<float>(100 / 127.0), "velocity");
    expect_span(*g, 50, 600, 1.0f, "gate");
    expect_span(*g, 600, 768, 0.0f, "gate");
}

TEST_F(MidiRig, ReleasingANoteUnderneathKeepsTheTopOne) {
    send(0, note_on(60, 100));
    send(10, note_on(64, 100));
    send(20, note_off(60));
    send(30, note_off(67));  // never held
    rig.host.run(256);
    expect_span(*p, 10, 256, pitch(64), "pitch");
    expect_span(*g, 0, 256, 1.0f, "gate");
}

TEST_F(MidiRig, NoteOnWithVelocityZeroIsANoteOff) {
    send(100, note_on(60, 100));
    send(200, note_on(60, 0));
    rig.host.run(256);
    expect_span(*g, 100, 200, 1.0f, "gate");
    expect_span(*g, 200, 256, 0.0f, "gate");
    // The velocity stays at the last note's, as a held voltage does.
    EXPECT_EQ((*v)[250], static_cast<float>(100 / 127.0));
}

TEST_F(MidiRig, SeveralMessagesAtOneClockGiveOneAnnouncement) {
    send(100, note_on(60, 100));
    send(100, note_on(62, 100));
    send(100, note_on(64, 100));
    rig.host.run(256);
    EXPECT_EQ((*p)[100], pitch(64));
    EXPECT_EQ(Rig::states(cv, "Pitch").size(), 2u);
}

TEST_F(MidiRig, AllNotesOffClosesTheGate) {
    send(0, note_on(60, 100));
    send(5, note_on(62, 100));
    send(100, 0xB0 | 123 << 8);
    rig.host.run(256);
    expect_span(*g, 100, 256, 0.0f, "gate");
}

TEST(MidiToCvChannel, OnlyTheChosenChannelIsHeard) {
    Rig rig(48000.0f, 256);
    auto* cv = rig.add("midi_to_cv", "cv");
    cv->set_int(Rig::pin(cv, "Channel"), 2);  // the choice "3"
    const auto& g = rig.record(cv, "Gate");
    const auto& p = rig.record(cv, "Pitch");
    rig.host.open();
    const int in = Rig::pin(cv, "MIDI In");
    rig.host.queue_midi(cv, in, 10, note_on(60, 100, 0));
    rig.host.queue_midi(cv, in, 20, note_on(62, 100, 2));
    rig.host.queue_midi(cv, in, 30, note_off(62, 0));
    rig.host.run(256);
    EXPECT_EQ(g[15], 0.0f);
    EXPECT_EQ(g[25], 1.0f);
    EXPECT_EQ(g[35], 1.0f);
    EXPECT_EQ(p[35], pitch(62));
}

TEST(MidiToCvChannel, ChangingTheChannelReleasesHeldNotes) {
    Rig rig(48000.0f, 256);
    auto* cv = rig.add("midi_to_cv", "cv");
    const auto& g = rig.record(cv, "Gate");
    rig.host.open();
    const int in = Rig::pin(cv, "MIDI In");
    rig.host.queue_midi(cv, in, 10, note_on(60, 100, 4));
    cv->set_int(Rig::pin(cv, "Channel"), 0, 100);
    rig.host.queue_midi(cv, in, 150, note_off(60, 4));  // on the old channel: ignored now
    rig.host.run(256);
    EXPECT_EQ(g[50], 1.0f);
    EXPECT_EQ(g[100], 0.0f);
    EXPECT_EQ(g[200], 0.0f);
}

TEST(MidiToCvChannel, AChoiceOutOfRangeListensToAll) {
    Rig rig(48000.0f, 256);
    auto* cv = rig.add("midi_to_cv", "cv");
    cv->set_int(Rig::pin(cv, "Channel"), 40);
    const auto& g = rig.record(cv, "Gate");
    rig.host.open();
    rig.host.queue_midi(cv, Rig::pin(cv, "MIDI In"), 10, note_on(60, 100, 9));
    rig.host.run(256);
    EXPECT_EQ(g[20], 1.0f);
}

TEST(MidiToCvChannel, SystemMessagesAndRunningDataAreIgnored) {
    Rig rig(48000.0f, 256);
    auto* cv = rig.add("midi_to_cv", "cv");
    const auto& g = rig.record(cv, "Gate");
    rig.host.open();
    const int in = Rig::pin(cv, "MIDI In");
    rig.host.queue_midi(cv, in, 10, 0xF8);
    rig.host.queue_midi(cv, in, 20, 0x3C | 100 << 8);
    rig.host.queue_midi(cv, in, 30, 0xE0 | 0x40 << 16);  // pitch bend: not a note
    rig.host.run(256);
    for (float x : g) ASSERT_EQ(x, 0.0f);
    EXPECT_EQ(Rig::states(cv, "Gate").size(), 1u);
}

}  // namespace
