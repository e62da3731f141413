// The walk through the held chord: the six orders, octave ranges, reversals and repeats.
#include <gtest/gtest.h>

#include "arp_test_rig.h"

using arp_test::Rig;
using V = std::vector<int>;

namespace {
enum Mode { kUp = 1, kDown, kUpDown, kDownUp, kUpDown2, kDownUp2 };

V walk(int mode, int oct_range, std::initializer_list<int> chord, size_t count) {
    Rig rig(mode, oct_range);
    rig.chord(chord);
    return rig.steps(count);
}
}  // namespace

TEST(ArpWalk, ChordCEGInEveryMode) {
    EXPECT_EQ(walk(kUp, 0, {60, 64, 67}, 6), (V{60, 64, 67, 60, 64, 67}));
    EXPECT_EQ(walk(kDown, 0, {60, 64, 67}, 6), (V{60, 67, 64, 60, 67, 64}));
    EXPECT_EQ(walk(kUpDown, 0, {60, 64, 67}, 8), (V{60, 64, 67, 64, 60, 64, 67, 64}));
    EXPECT_EQ(walk(kDownUp, 0, {60, 64, 67}, 6), (V{60, 64, 67, 64, 60, 64}));
    EXPECT_EQ(walk(kUpDown2, 0, {60, 64, 67}, 10), (V{60, 64, 67, 67, 64, 60, 60, 64, 67, 67}));
    EXPECT_EQ(walk(kDownUp2, 0, {60, 64, 67}, 10), (V{60, 60, 64, 67, 67, 64, 60, 60, 64, 67}));
}

TEST(ArpWalk, UpOverTwoOctavesClimbsThenWraps) {
    EXPECT_EQ(walk(kUp, 12, {60, 64, 67}, 7), (V{60, 64, 67, 72, 76, 79, 60}));
}

TEST(ArpWalk, UpDownOverTwoOctavesTurnsWithoutRepeatingTheTop) {
    EXPECT_EQ(walk(kUpDown, 12, {60, 64, 67}, 11), (V{60, 64, 67, 72, 76, 79, 76, 72, 67, 64, 60}));
}

TEST(ArpWalk, DownOverTwoOctavesStartsOnTheFirstKeyInTheTopOctave) {
    // Down starts at the top octave offset, so the first key sounds an octave up.
    EXPECT_EQ(walk(kDown, 12, {60, 64, 67}, 8), (V{72, 67, 64, 60, 79, 76, 72, 67}));
}

TEST(ArpWalk, SingleNoteReversesOnlyWithMoreThanOneOctave) {
    EXPECT_EQ(walk(kUpDown, 12, {60}, 4), (V{60, 72, 60, 72}));
    EXPECT_EQ(walk(kUpDown2, 12, {60}, 6), (V{60, 72, 72, 60, 60, 72}));
    for (int mode = kUp; mode <= kDownUp2; ++mode) {
        EXPECT_EQ(walk(mode, 0, {60}, 4), (V{60, 60, 60, 60})) << "mode " << mode;
    }
}

TEST(ArpWalk, FourOctavesReachTheTop) {
    EXPECT_EQ(walk(kUp, 36, {60, 67}, 9), (V{60, 67, 72, 79, 84, 91, 96, 103, 60}));
}

TEST(ArpWalk, ChordOrderDoesNotChangeTheWalkButTheFirstKeyStartsIt) {
    EXPECT_EQ(walk(kUp, 0, {67, 60, 64}, 6), (V{67, 60, 64, 67, 60, 64}));
}

TEST(ArpWalk, TranspositionWrapsModulo128) {
    Rig rig(kUp, 0);
    rig.midi(arp_test::note_on(15, 59, 100));  // transpose channel (16): -1
    rig.chord({0});
    EXPECT_EQ(rig.steps(2), (V{127, 127}));

    Rig high(kUp, 24);
    high.midi(arp_test::note_on(15, 72, 100));  // +12
    high.chord({100});
    EXPECT_EQ(high.steps(3), (V{112, 124, (100 + 24 + 12) & 127}));
}

TEST(ArpWalk, TransposeFreeAppliesFromTheNextStepAndResetRestartsTheWalk) {
    Rig free_rig(kUp, 0);
    free_rig.chord({60, 64, 67});
    free_rig.steps(2);  // 60, 64
    free_rig.midi(arp_test::note_on(15, 72, 100));
    EXPECT_EQ(free_rig.steps(4), (V{60, 64, 79, 72}));

    Rig reset_rig(kUp, 0);
    reset_rig.set(arp::kPinTransposeMode, 1);
    reset_rig.chord({60, 64, 67});
    reset_rig.steps(2);
    reset_rig.midi(arp_test::note_on(15, 72, 100));
    EXPECT_EQ(reset_rig.steps(4), (V{60, 64, 72, 76}));
}

TEST(ArpWalk, VelocityFollowsTheNoteOrTheFirstKey) {
    Rig note(kUp, 0);
    note.midi(arp_test::note_on(0, 60, 30));
    note.midi(arp_test::note_on(0, 64, 90));
    note.steps(4);
    const auto ons = note.note_ons();
    ASSERT_GE(ons.size(), 4u);
    EXPECT_EQ(arp_test::velocity_of(ons[0].word), 30);
    EXPECT_EQ(arp_test::velocity_of(ons[1].word), 90);

    Rig constant(kUp, 0);
    constant.set(arp::kPinVelocityMode, 1);
    constant.midi(arp_test::note_on(0, 60, 30));
    constant.midi(arp_test::note_on(0, 64, 90));
    constant.midi(arp_test::note_on(0, 67, 127));
    constant.steps(6);
    for (const auto& s : constant.note_ons()) EXPECT_EQ(arp_test::velocity_of(s.word), 30);
}

TEST(ArpWalk, StepsGoOutOnTheArpChannelWithMatchingNoteOffs) {
    Rig rig(kUp, 0);
    rig.set(arp::kPinChannel, 3);
    rig.chord({60}, 3, 77);
    rig.steps(1);
    ASSERT_FALSE(rig.sent.empty());
    EXPECT_EQ(rig.sent[0].word, arp_test::note_on(3, 60, 77));
    ASSERT_EQ(rig.note_offs().size(), 1u);
    EXPECT_EQ(rig.note_offs()[0].word, 0x80 + 3 + 60 * 256 + 77 * 65536);
}

TEST(ArpWalk, ATableWithoutNotesEndsTheWalkInsteadOfSpinning) {
    // Not reachable through MIDI; the bound keeps the audio thread alive if the tables ever are.
    Rig rig(kUpDown, 0);
    rig.chord({60, 64});
    rig.engine.m_arp_notes[60] = arp::kNoNote;
    rig.engine.m_arp_notes[64] = arp::kNoNote;
    rig.run(64);
    EXPECT_EQ(rig.engine.next_note(), -1);
    EXPECT_EQ(rig.engine.m_running, 0);
    EXPECT_TRUE(rig.note_ons().empty());
}
