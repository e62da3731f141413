// MIDI handling of the arpeggiator: what is consumed, what passes, the held chord and Hold, the
// transpose channel and the pin reactions.
#include <gtest/gtest.h>

#include "arp_test_rig.h"

using arp_test::note_off;
using arp_test::note_on;
using arp_test::Rig;

TEST(ArpMidi, NotesOnOtherChannelsAndNonNotesOnTheArpChannelPassUnchanged) {
    Rig rig(1, 0);
    rig.clock = 500;
    const int32_t other = note_on(2, 60, 100);
    const int32_t bend = 0xE0 + (0x10 << 8) + (0x40 << 16);
    const int32_t controller = 0xB0 + (7 << 8) + (99 << 16);
    rig.midi(other);
    rig.clock = 517;
    rig.midi(bend);
    rig.midi(controller);
    ASSERT_EQ(rig.sent.size(), 3u);
    EXPECT_EQ(rig.sent[0].word, other);
    EXPECT_EQ(rig.sent[0].clock, 500u);
    EXPECT_EQ(rig.sent[1].word, bend);
    EXPECT_EQ(rig.sent[1].clock, 517u);
    EXPECT_EQ(rig.sent[2].word, controller);
    EXPECT_EQ(rig.engine.m_running, 0);
}

TEST(ArpMidi, EverythingPassesWhileArpModeIsOff) {
    Rig rig(0, 0);
    rig.midi(note_on(0, 60, 100));
    rig.midi(note_off(0, 60));
    ASSERT_EQ(rig.sent.size(), 2u);
    EXPECT_EQ(rig.sent[0].word, note_on(0, 60, 100));
    EXPECT_EQ(rig.sent[1].word, note_off(0, 60));
    EXPECT_EQ(rig.engine.m_running, 0);
    EXPECT_EQ(rig.engine.m_key_down[60], arp::kNoNote);
}

TEST(ArpMidi, RepeatedNoteOnAndStrayNoteOffAreConsumedWithoutEffect) {
    Rig rig(1, 0);
    rig.chord({60, 64});
    rig.midi(note_on(0, 60, 10));
    EXPECT_EQ(rig.engine.m_keys_down, 2);
    EXPECT_EQ(rig.engine.m_note_count, 2);
    EXPECT_EQ(rig.engine.m_note_velocity[60], 100);
    rig.midi(note_off(0, 70));
    EXPECT_EQ(rig.engine.m_keys_down, 2);
    EXPECT_EQ(rig.engine.m_running, 1);
    EXPECT_TRUE(rig.sent.empty());
}

TEST(ArpMidi, NoteOnWithVelocityZeroReleasesTheKey) {
    Rig rig(1, 0);
    rig.chord({60});
    rig.midi(note_on(0, 60, 0));
    EXPECT_EQ(rig.engine.m_keys_down, 0);
    EXPECT_EQ(rig.engine.m_running, 0);
}

TEST(ArpMidi, DataBytesAbove127AreMaskedToSevenBits) {
    Rig rig(1, 0);
    rig.midi(0x90 + ((128 + 60) << 8) + ((128 + 20) << 16));
    EXPECT_EQ(rig.engine.m_key_down[60], 60);
    EXPECT_EQ(rig.engine.m_note_velocity[60], 20);
    // Velocity 128 masks to 0: a release.
    rig.midi(0x90 + (60 << 8) + (128 << 16));
    EXPECT_EQ(rig.engine.m_key_down[60], arp::kNoNote);
}

TEST(ArpMidi, ReleasingTheOuterNotesMovesHighAndLow) {
    Rig rig(1, 0);
    rig.chord({60, 64, 67, 72});
    EXPECT_EQ(rig.engine.m_low, 60);
    EXPECT_EQ(rig.engine.m_high, 72);
    rig.release({72});
    EXPECT_EQ(rig.engine.m_high, 67);
    rig.release({60});
    EXPECT_EQ(rig.engine.m_low, 64);
    rig.release({64});
    EXPECT_EQ(rig.engine.m_low, 67);
    EXPECT_EQ(rig.engine.m_high, 67);
    EXPECT_EQ(rig.engine.m_running, 1);
    rig.release({67});
    EXPECT_EQ(rig.engine.m_running, 0);
}

TEST(ArpMidi, HoldKeepsTheArpeggioAndANewKeyReplacesTheChord) {
    Rig rig(1, 0);
    rig.set(arp::kPinHold, 1);
    rig.chord({60, 64, 67});
    rig.run(64);
    rig.release({60, 64, 67});
    EXPECT_EQ(rig.engine.m_running, 1);
    EXPECT_EQ(rig.steps(4), (std::vector<int>{60, 64, 67, 60}));

    rig.chord({50});
    rig.release({50});
    EXPECT_EQ(rig.engine.m_arp_notes[60], arp::kNoNote);
    EXPECT_EQ(rig.engine.m_arp_notes[50], 50);
    const size_t before = rig.note_ons().size();
    rig.run(22050 * 2);
    const auto ons = rig.note_ons();
    ASSERT_GT(ons.size(), before);
    for (size_t i = before; i < ons.size(); ++i) EXPECT_EQ(arp_test::note_of(ons[i].word), 50);

    // Hold off with no key down stops it.
    rig.set(arp::kPinHold, 0);
    EXPECT_EQ(rig.engine.m_running, 0);
    rig.run(64);
    EXPECT_GT(rig.sleeps, 0);
}

TEST(ArpMidi, HeldChordKeepsItsGridWhenReplaced) {
    Rig rig(1, 0);
    rig.set(arp::kPinHold, 1);
    rig.chord({60});
    rig.release({60});
    rig.run(30000);
    rig.chord({62});  // at clock 30000, between two steps
    rig.run(30000);
    const auto ons = rig.note_ons();
    ASSERT_GE(ons.size(), 3u);
    EXPECT_EQ(ons[0].clock, 0u);
    EXPECT_EQ(ons[1].clock, 22050u);
    EXPECT_EQ(arp_test::note_of(ons[2].word), 62);
    EXPECT_EQ(ons[2].clock, 44100u);
}

TEST(ArpMidi, TransposeChannelConsumesEverythingAndOnlyRealNoteOnsTranspose) {
    Rig rig(1, 0);
    rig.midi(note_on(15, 72, 0));
    rig.midi(note_off(15, 50));
    rig.midi(0xBF + (1 << 8));
    rig.midi(0xFF);  // a system message whose low bits equal the channel
    EXPECT_TRUE(rig.sent.empty());
    EXPECT_EQ(rig.engine.m_transpose, 0);
    rig.midi(note_on(15, 72, 1));
    EXPECT_EQ(rig.engine.m_transpose, 12);
    rig.midi(note_on(15, 48, 1));
    EXPECT_EQ(rig.engine.m_transpose, -12);
    EXPECT_TRUE(rig.sent.empty());
}

TEST(ArpMidi, TransposeChannelOffNeverMatches) {
    Rig rig(0, 0);
    rig.set(arp::kPinTransposeChannel, 255);
    for (int ch = 0; ch < 16; ++ch) rig.midi(note_on(ch, 72, 100));
    rig.midi(0xFF);
    EXPECT_EQ(rig.sent.size(), 17u);
    EXPECT_EQ(rig.engine.m_transpose, 0);
}

TEST(ArpMidi, TransposeChannelEqualToTheArpChannelWins) {
    Rig rig(1, 0);
    rig.set(arp::kPinTransposeChannel, 0);
    rig.chord({72});
    EXPECT_EQ(rig.engine.m_transpose, 12);
    EXPECT_EQ(rig.engine.m_keys_down, 0);
    EXPECT_EQ(rig.engine.m_running, 0);
    EXPECT_TRUE(rig.sent.empty());
}

TEST(ArpMidi, ArpModeReportsStatusAndSendsAllNotesOffOnChange) {
    Rig rig(0, 0);
    rig.set(arp::kPinChannel, 2);
    rig.set(arp::kPinArpMode, 3);
    EXPECT_EQ(rig.engine.m_arp_status, 1);
    EXPECT_EQ(rig.status_reports, 1);
    ASSERT_EQ(rig.sent.size(), 1u);
    EXPECT_EQ(rig.sent[0].word, 0x7BB0 + 2);
    rig.set(arp::kPinArpMode, 1);  // still on: reported again, no all-notes-off
    EXPECT_EQ(rig.status_reports, 2);
    EXPECT_EQ(rig.sent.size(), 1u);

    rig.chord({60}, 2);
    EXPECT_EQ(rig.engine.m_running, 1);
    rig.set(arp::kPinArpMode, 0);
    EXPECT_EQ(rig.engine.m_arp_status, 0);
    EXPECT_EQ(rig.engine.m_running, 0);
    EXPECT_EQ(rig.engine.m_keys_down, 0);
    EXPECT_EQ(rig.sent.back().word, 0x7BB0 + 2);
    // The key still held is forgotten: pressed again once the mode is back, it starts a chord.
    rig.set(arp::kPinArpMode, 1);
    rig.chord({60}, 2);
    EXPECT_EQ(rig.engine.m_running, 1);
    EXPECT_EQ(rig.engine.m_keys_down, 1);
}

// A Channel change with keys down stops the arpeggio and silences the old channel: the keys'
// note-offs now arrive on a channel the arpeggiator no longer collects.
TEST(ArpMidi, ChannelChangeReleasesTheArpeggioOnTheOldChannel) {
    Rig rig(1, 0);
    rig.set(arp::kPinChannel, 0);  // same channel: nothing to release
    EXPECT_TRUE(rig.sent.empty());
    rig.chord({60, 64});
    rig.run(100);
    rig.set(arp::kPinChannel, 3);
    EXPECT_EQ(rig.sent.back().word, 0x7BB0);
    EXPECT_EQ(rig.engine.m_running, 0);
    EXPECT_EQ(rig.engine.m_keys_down, 0);
    rig.release({60, 64});  // passes through on channel 1
    const size_t ons = rig.note_ons().size();
    rig.run(44100);
    EXPECT_EQ(rig.note_ons().size(), ons);
    rig.chord({62}, 3);
    rig.run(100);
    EXPECT_EQ(arp_test::status_of(rig.note_ons().back().word), 0x93);
}

TEST(ArpMidi, PlayModeChangeSendsAllNotesOff) {
    Rig rig(1, 0);
    rig.clock = 99;
    rig.set(arp::kPinPlayMode, 0);
    ASSERT_EQ(rig.sent.size(), 1u);
    EXPECT_EQ(rig.sent[0].word, 0x7BB0);
    EXPECT_EQ(rig.sent[0].clock, 99u);
}

TEST(ArpMidi, ModeAndRangeSetTheStartOfTheWalk) {
    Rig rig(1, 24);
    EXPECT_EQ(rig.engine.m_start_direction, 1);
    EXPECT_EQ(rig.engine.m_start_oct_offset, 0);
    rig.set(arp::kPinArpMode, 4);
    EXPECT_EQ(rig.engine.m_start_direction, -1);
    EXPECT_EQ(rig.engine.m_start_oct_offset, 24);
    rig.set(arp::kPinOctRange, 36);
    EXPECT_EQ(rig.engine.m_oct_span, 36);
    EXPECT_EQ(rig.engine.m_start_oct_offset, 36);
}

TEST(ArpMidi, StoppedArpeggiatorOnlySleeps) {
    Rig rig(1, 0);
    rig.run(256);
    EXPECT_EQ(rig.sleeps, 4);
    EXPECT_TRUE(rig.sent.empty());
}

TEST(ArpMidi, ReleaseBeforeAnyStepSendsNoEmptyMessage) {
    Rig rig(1, 0);
    rig.chord({60});
    rig.release({60});
    EXPECT_TRUE(rig.sent.empty());
}
