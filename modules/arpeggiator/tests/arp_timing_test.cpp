// Step timing: the grid from tempo, ratio and gate, sample-exact clocks, gate lengths, Mono Mode
// and the guards on the timing arithmetic.
#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "arp_test_rig.h"

using arp_test::Rig;

namespace {
std::vector<uint32_t> clocks_of(const std::vector<arp_test::Sent>& s) {
    std::vector<uint32_t> out;
    for (const auto& e : s) out.push_back(e.clock);
    return out;
}
}  // namespace

TEST(ArpTiming, At240BpmAndRatio0625StepsFallOnTheFractionalGrid) {
    Rig rig(1, 0);
    rig.set_timing(24.0f, 0.0625f, 5.0f);
    EXPECT_EQ(rig.engine.m_step_length, 6890.625);
    EXPECT_EQ(rig.engine.m_gate_length, 3445);
    rig.clock = 1000;
    rig.chord({60, 64, 67});
    rig.run(27562 + 64, 100);
    const auto ons = rig.note_ons();
    ASSERT_GE(ons.size(), 5u);
    const std::vector<uint32_t> expected{1000, 7890, 14781, 21671, 28562};
    std::vector<uint32_t> clocks = clocks_of(ons);
    clocks.resize(5);
    EXPECT_EQ(clocks, expected);
    const auto offs = rig.note_offs();
    ASSERT_GE(offs.size(), 5u);
    for (size_t i = 0; i < 5; ++i) EXPECT_EQ(offs[i].clock, ons[i].clock + 3445) << i;
}

TEST(ArpTiming, BlockSizeDoesNotMoveTheSteps) {
    for (int block : {1, 7, 64, 1024, 4096}) {
        Rig rig(1, 0);
        rig.set_timing(24.0f, 0.0625f, 5.0f);
        rig.chord({60});
        rig.run(27563, block);
        EXPECT_EQ(clocks_of(rig.note_ons()), (std::vector<uint32_t>{0, 6890, 13781, 20671, 27562})) << block;
    }
}

TEST(ArpTiming, ADueStepAtTheFirstSampleAfterTheBlockIsSentAhead) {
    Rig rig(1, 0);
    rig.set_timing(21.0f, 0.0625f, 5.0f);  // 210 BPM, ratio 0.625: exactly 7875 samples
    rig.chord({60});
    rig.run(7875);  // the last block ends just before clock 7875
    const auto ons = rig.note_ons();
    ASSERT_EQ(ons.size(), 2u);
    EXPECT_EQ(ons[1].clock, 7875u);
}

TEST(ArpTiming, At120BpmAStepIsAQuarterNoteOfAbout22050Samples) {
    Rig rig(1, 0);
    // The inputs are single precision: 1.0 arrives as 0.1f, so the step is not exactly 22050.
    EXPECT_NE(rig.engine.m_step_length, 22050.0);
    EXPECT_NEAR(rig.engine.m_step_length, 22050.0, 0.01);
    EXPECT_EQ(rig.engine.m_gate_length, 11025);
    rig.chord({60});
    rig.run(22050 * 3 + 1);
    EXPECT_EQ(clocks_of(rig.note_ons()), (std::vector<uint32_t>{0, 22050, 44100, 66150}));
}

TEST(ArpTiming, StepNeverShorterThan100Samples) {
    Rig rig(1, 0);
    rig.set_timing(24.0f, 0.0001f, 5.0f);
    EXPECT_EQ(rig.engine.m_step_length, 100.0);
    EXPECT_EQ(rig.engine.m_gate_length, 50);
}

TEST(ArpTiming, Gate105WithoutMonoEndsEachNoteAfterTheNextBegins) {
    Rig rig(1, 0);
    rig.set_timing(24.0f, 0.0625f, 10.5f);
    EXPECT_EQ(rig.engine.m_gate_length, 7235);  // 6890.625 * 1.05 truncated
    rig.chord({60, 64});
    rig.run(30000);
    const auto ons = rig.note_ons();
    const auto offs = rig.note_offs();
    ASSERT_GE(ons.size(), 4u);
    ASSERT_GE(offs.size(), 3u);
    for (size_t i = 0; i + 1 < ons.size() && i < offs.size(); ++i) {
        EXPECT_EQ(offs[i].clock, ons[i].clock + 7235u);
        EXPECT_GT(offs[i].clock, ons[i + 1].clock);
    }
}

// Every note-on gets its note-off: a new note takes over at the next step (its note-on first, so a
// mono receiver glides), a repeated note is ended just before it is struck again, and the last
// note ends on release.
TEST(ArpTiming, Gate105WithMonoEndsEachNoteAtTheNextStep) {
    struct Case {
        std::initializer_list<int> chord;
        bool off_first;
    };
    for (const Case c : {Case{{60, 64}, false}, Case{{60}, true}}) {
        Rig rig(1, 0);
        rig.set(arp::kPinMonoMode, 1);
        rig.set_timing(24.0f, 0.0625f, 10.5f);
        rig.chord(c.chord);
        rig.run(30000);
        const auto ons = rig.note_ons();
        ASSERT_GE(ons.size(), 4u);
        ASSERT_EQ(rig.note_offs().size(), ons.size() - 1);
        for (size_t i = 1; i < rig.sent.size(); ++i) {
            const arp_test::Sent& s = rig.sent[i];
            if (!arp_test::is_note_off(s.word)) continue;
            // Its partner note-on sits just before or just after it, at the same clock.
            const arp_test::Sent& next_on = c.off_first ? rig.sent[i + 1] : rig.sent[i - 1];
            EXPECT_TRUE(arp_test::is_note_on(next_on.word)) << i;
            EXPECT_EQ(s.clock, next_on.clock) << i;
        }
        const arp_test::Sent last = ons.back();
        rig.release(c.chord);
        const auto offs = rig.note_offs();
        ASSERT_EQ(offs.size(), ons.size());
        EXPECT_EQ(offs.back().clock, last.clock + 7235u);
        EXPECT_EQ(offs.back().word, last.word - 16);
        EXPECT_EQ(rig.engine.m_running, 0);
    }
}

TEST(ArpTiming, MonoHoldReleaseSendsThePendingNoteOff) {
    Rig rig(1, 0);
    rig.set(arp::kPinMonoMode, 1);
    rig.set(arp::kPinHold, 1);
    rig.set_timing(24.0f, 0.0625f, 10.5f);
    rig.chord({60});
    rig.release({60});
    rig.run(10000);
    ASSERT_EQ(rig.note_offs().size(), 1u);  // the first note, ended at the second step
    rig.set(arp::kPinHold, 0);
    ASSERT_EQ(rig.note_offs().size(), 2u);
    EXPECT_EQ(rig.note_offs()[1].clock, 6890u + 7235u);
}

TEST(ArpTiming, MonoNoteOffWhoseTimeHasPassedIsSentAtRelease) {
    Rig rig(1, 0);
    rig.set(arp::kPinMonoMode, 1);
    rig.set_timing(24.0f, 0.0625f, 10.5f);  // a gate of 7235 samples
    rig.chord({60});
    rig.run(64);
    rig.set_timing(3.0f, 0.4f, 10.5f);  // the next step now lies far beyond the gate
    rig.run(20000);
    ASSERT_EQ(rig.note_ons().size(), 1u);
    rig.release({60});
    const auto offs = rig.note_offs();
    ASSERT_EQ(offs.size(), 1u);
    EXPECT_EQ(offs[0].clock, rig.clock);
}

TEST(ArpTiming, NonMonoReleaseRepeatsTheScheduledNoteOff) {
    Rig rig(1, 0);
    rig.set_timing(24.0f, 0.0625f, 5.0f);
    rig.chord({60});
    rig.run(1000);
    rig.release({60});
    const auto offs = rig.note_offs();
    ASSERT_EQ(offs.size(), 2u);
    EXPECT_EQ(offs[1].clock, 3445u);
    EXPECT_EQ(offs[1].word, offs[0].word);
}

TEST(ArpTiming, MissingInitialPinStatesDoNotHangTheGenerator) {
    Rig rig(1, 0, /*deliver_initial_states=*/false);
    EXPECT_EQ(rig.engine.m_step_length, 0.0);
    rig.chord({60});
    rig.run(22051);
    EXPECT_EQ(clocks_of(rig.note_ons()), (std::vector<uint32_t>{0, 22050}));
}

TEST(ArpTiming, AKeyBeforeTheFirstTimingStillStepsOnItsOwnSample) {
    Rig rig(1, 0, /*deliver_initial_states=*/false);
    rig.clock = 300;
    rig.chord({60});
    rig.announce(arp::kPinTempo, 0);
    rig.run(22050 + 64);
    EXPECT_EQ(clocks_of(rig.note_ons()), (std::vector<uint32_t>{300, 22350}));
}

// No tempo (0, NaN, negative, or so slow that a step would last hours) holds the arpeggio still:
// no note starts, so none is left sounding, and it plays again once the tempo is back.
TEST(ArpTiming, ATempoThatCannotStepStopsTheArpeggio) {
    for (float tempo : {0.0f, std::numeric_limits<float>::quiet_NaN(), -12.0f, 1e-9f}) {
        Rig rig(1, 0);
        rig.set_timing(tempo, 0.1f, 5.0f);
        EXPECT_EQ(rig.engine.m_step_length, arp::kMaxStepLength) << tempo;
        EXPECT_GE(rig.engine.m_gate_length, 0) << tempo;
        rig.chord({60});
        rig.run(44100);
        EXPECT_TRUE(rig.sent.empty()) << tempo;
        EXPECT_GT(rig.sleeps, 0) << tempo;
        rig.set_timing(24.0f, 0.0625f, 5.0f);
        rig.run(7000);
        EXPECT_EQ(clocks_of(rig.note_ons()), (std::vector<uint32_t>{44100, 44100 + 6890})) << tempo;
    }
}

// A note already sounding when the tempo stops ends when the keys go up, not when its stretched
// gate would have run out.
TEST(ArpTiming, ReleaseWithTheTempoStoppedEndsTheSoundingNoteAtOnce) {
    Rig rig(1, 0);
    rig.set(arp::kPinMonoMode, 1);
    rig.set_timing(24.0f, 0.0625f, 10.5f);
    rig.chord({60});
    rig.run(64);
    rig.set_timing(0.0f, 0.0625f, 10.5f);
    rig.run(2000);
    rig.release({60});
    ASSERT_EQ(rig.note_offs().size(), 1u);
    EXPECT_EQ(rig.note_offs()[0].clock, rig.clock);
}

TEST(ArpTiming, StreamingInputsAreReadOncePerBlock) {
    Rig rig(1, 0);
    rig.set_timing(24.0f, 0.0625f, 5.0f);
    rig.engine.pin_status_changed(arp::kPinRatio, arp::kStateStreaming, 0, rig.inputs);
    EXPECT_EQ(rig.engine.m_any_streaming, 1);
    rig.chord({60});
    rig.run(64);
    rig.inputs.ratio = 0.125f;  // twice the step, seen by the next block
    rig.run(13782);
    EXPECT_EQ(rig.engine.m_step_length, 13781.25);
    EXPECT_EQ(clocks_of(rig.note_ons()), (std::vector<uint32_t>{0, 13781}));
}

TEST(ArpTiming, AShrinkingStepPlaysTheMissedGridPointOnceNotInABurst) {
    Rig rig(1, 0);
    rig.set_timing(3.0f, 0.4f, 5.0f);  // 352800 samples per step
    rig.chord({60});
    rig.run(64);
    rig.run(100000);
    rig.set_timing(24.0f, 0.0005f, 5.0f);  // 100 samples per step
    rig.run(64);
    const auto ons = rig.note_ons();
    ASSERT_EQ(ons.size(), 2u);
    EXPECT_EQ(ons[1].clock, 100064u);
}

TEST(ArpTiming, TheGridSurvivesTheSampleClockWrappingAround) {
    Rig rig(1, 0);
    rig.set_timing(24.0f, 0.0625f, 5.0f);
    rig.clock = 0xFFFFFFFFu - 10000;
    rig.chord({60});
    rig.run(20000);
    const auto ons = rig.note_ons();
    ASSERT_EQ(ons.size(), 3u);
    EXPECT_EQ(ons[1].clock, 0xFFFFFFFFu - 10000 + 6890);
    EXPECT_EQ(ons[2].clock, static_cast<uint32_t>(0xFFFFFFFFu - 10000 + 13781));
}
