// The oscillator core: increment tables, pitch update and level choice, playback and morphing.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "level_store.h"
#include "oscillator.h"

using namespace tallisk;

namespace {

// A store whose waveform w holds the constant w + 1 in every level, or a ramp where asked.
std::unique_ptr<LevelStore> constant_store() {
    auto store = std::make_unique<LevelStore>();
    std::vector<float> block(kBlockSamples);
    for (int w = 0; w < kWaveCount; ++w) {
        std::fill(block.begin(), block.end(), static_cast<float>(w + 1));
        store->replace(w, block.data());
    }
    return store;
}

std::unique_ptr<Oscillator> make_osc(const LevelStore* store, PitchLaw law = PitchLaw::VoltPerOctave) {
    auto osc = std::make_unique<Oscillator>();
    osc->build_increment_tables(44100.0f);
    osc->set_law(law);
    osc->set_store(store);
    return osc;
}

std::vector<float> render_static(Oscillator& osc, int n) {
    std::vector<float> out(n, 99.0f);
    osc.render_static(out.data(), n);
    return out;
}

}  // namespace

TEST(IncrementTables, EntryAt5VoltsIs440Hertz) {
    auto osc = make_osc(nullptr);
    const int32_t* expo = osc->table(PitchLaw::VoltPerOctave);
    const int32_t* lin = osc->table(PitchLaw::VoltPerKilohertz);
    EXPECT_EQ(expo[8192], static_cast<int32_t>(std::nearbyint(440.0 / 44100.0 * 4294967296.0)));
    EXPECT_EQ(expo[8192], 42852281);
    EXPECT_EQ(expo[0], static_cast<int32_t>(std::nearbyint(13.75 / 44100.0 * 4294967296.0)));
    EXPECT_EQ(lin[8192], static_cast<int32_t>(std::nearbyint(5000.0 / 44100.0 * 4294967296.0)));
    EXPECT_EQ(lin[0], 0);
}

TEST(IncrementTables, StepsTooFastForSigned32BitsBecomeHalfTheSampleRate) {
    Oscillator osc;
    osc.build_increment_tables(8000.0f);
    const int32_t* expo = osc.table(PitchLaw::VoltPerOctave);
    EXPECT_EQ(expo[16383], INT32_MIN);  // ~14 kHz at 8 kHz
    EXPECT_GT(expo[8192], 0);           // 440 Hz fits
}

TEST(IncrementTables, OscillatorsAtOneRateShareThem) {
    Oscillator a, b, c;
    a.build_increment_tables(44100.0f);
    b.build_increment_tables(44100.0f);
    c.build_increment_tables(48000.0f);
    EXPECT_EQ(a.table(PitchLaw::VoltPerOctave), b.table(PitchLaw::VoltPerOctave));
    EXPECT_NE(a.table(PitchLaw::VoltPerOctave), c.table(PitchLaw::VoltPerOctave));
    EXPECT_EQ(c.table(PitchLaw::VoltPerOctave)[8192], static_cast<int32_t>(std::nearbyint(440.0 / 48000.0 * 4294967296.0)));
}

TEST(PitchUpdate, FiveVoltsUsesEntry8192AndLevel4) {
    auto osc = make_osc(nullptr);
    osc->pitch_update(0.5f);
    EXPECT_EQ(osc->table_index(), 8192);
    EXPECT_EQ(osc->increment(), 42852281u);
    EXPECT_EQ(osc->level(), 4);
    EXPECT_EQ(osc->level_offset(), 11272);
    EXPECT_EQ(osc->shift(), 22);
    EXPECT_EQ(osc->scale(), 1.0f / 4194304.0f);
}

// The brightest level whose highest harmonic (bins - 1) lies below half the sample rate, from the
// frequency the increment plays, at every sample rate and under both laws; over the last 1 % below
// half the rate it fades towards the next level, so that at each switch the next level already
// plays almost alone.
TEST(PitchUpdate, LevelIsTheBrightestWhoseHarmonicsStayBelowHalfTheRate) {
    const struct {
        float rate;
        PitchLaw law;
    } cases[] = {{44100.0f, PitchLaw::VoltPerOctave}, {48000.0f, PitchLaw::VoltPerOctave},
                 {96000.0f, PitchLaw::VoltPerOctave}, {22050.0f, PitchLaw::VoltPerOctave},
                 {44100.0f, PitchLaw::VoltPerKilohertz}, {96000.0f, PitchLaw::VoltPerKilohertz}};
    for (const auto& c : cases) {
        Oscillator osc;
        osc.build_increment_tables(c.rate);
        osc.set_law(c.law);
        int previous_level = 0;
        float previous_fade = 0.0f;
        double previous_f = 0.0;
        for (int i = 0; i < Oscillator::kTableSize; ++i) {
            osc.pitch_update(static_cast<float>(i) / Oscillator::kTableSize);
            const double f = osc.increment() / 4294967296.0 * c.rate;
            const int level = osc.level();
            // Where the table's steps are fine enough to land inside the fade (Volt/KHz's steps
            // of 0.6 Hz are not, below about 250 Hz).
            if (level != previous_level && previous_level < kFundamentalOnly && previous_f > 0.9975 * f) {
                EXPECT_GT(previous_fade, 0.95f);
            }
            previous_level = level;
            previous_fade = osc.fade();
            previous_f = f;
            const PlayLevel& played = kPlayLevels[level];
            if (played.top * f <= 0.99 * c.rate / 2.0) {
                EXPECT_EQ(osc.fade(), 0.0f);
            }
            EXPECT_GE(osc.fade(), 0.0f);
            EXPECT_LT(osc.fade(), 1.0f);
            SCOPED_TRACE(testing::Message() << "rate " << c.rate << " index " << i << " f " << f);
            if (level < kFundamentalOnly) {
                EXPECT_LT(played.top * f, c.rate / 2.0);
            }
            EXPECT_EQ(osc.level_offset(), kLevels[played.level].offset);
            // A run of entries takes the level whole only where no sample of it fades, and the two
            // levels it fades between where both are table reads.
            const bool table = played.read == PlayRead::Table;
            const bool fade_pair = table && level + 1 < kPlayCount && kPlayLevels[level + 1].read == PlayRead::Table;
            const int code = table && osc.fade() == 0.0f ? level : fade_pair ? kFadeCode | level : kPerSampleCode;
            EXPECT_EQ(osc.block_levels(c.law)[i], code);
            EXPECT_EQ(1u << (32 - osc.shift()), static_cast<unsigned>(kLevels[played.level].length));
            // The level before would fold.
            if (level > 0) {
                EXPECT_GE(kPlayLevels[level - 1].top * f, c.rate / 2.0);
            }
        }
    }
}

TEST(PitchUpdate, NegativePitchPlaysAsPositive) {
    auto store = constant_store();
    auto a = make_osc(store.get());
    auto b = make_osc(store.get());
    a->pitch_update(0.5f);
    b->pitch_update(-0.5f);
    EXPECT_EQ(a->increment(), b->increment());
    EXPECT_EQ(a->level(), b->level());
}

TEST(PitchUpdate, StaticPitchIsLimitedTo9Volts) {
    auto osc = make_osc(nullptr);
    osc->static_pitch_update(1.0f);
    EXPECT_EQ(osc->last_pitch(), 0.9f);
    EXPECT_EQ(osc->table_index(), static_cast<int>(std::nearbyint(0.9f * 16384.0f)));
    EXPECT_EQ(osc->level(), 9);  // 7040 Hz: the last level's two harmonics
    osc->static_pitch_update(-3.0f);
    EXPECT_EQ(osc->last_pitch(), 0.9f);
}

TEST(PitchUpdate, StreamingValuesOf10VoltsAndMoreWrap) {
    auto osc = make_osc(nullptr);
    osc->pitch_update(1.25f);  // index 20480 mod 16384: 2.5 V
    EXPECT_EQ(osc->table_index(), 4096);
    EXPECT_EQ(osc->level(), 2);
}

TEST(PitchUpdate, NonFinitePitchPlaysZeroVolts) {
    auto osc = make_osc(nullptr);
    osc->pitch_update(std::nanf(""));
    EXPECT_EQ(osc->table_index(), 0);
    osc->pitch_update(INFINITY);
    EXPECT_EQ(osc->table_index(), 0);
    EXPECT_EQ(osc->level(), 0);
}

TEST(PitchUpdate, VoltPerKilohertzChoosesTheLevelFromTheFrequencyPlayed) {
    auto osc = make_osc(nullptr, PitchLaw::VoltPerKilohertz);
    osc->pitch_update(0.1f);  // 1 V: about 1000 Hz, 11 harmonics fit below 22.05 kHz, 24 do not
    EXPECT_EQ(osc->level(), 6);
    osc->pitch_update(0.044f);  // 440 Hz, as 5 V under Volt/Octave
    EXPECT_EQ(osc->level(), 4);
    osc->pitch_update(0.0f);
    EXPECT_EQ(osc->level(), 0);
    osc->pitch_update(0.45f);  // 4.5 kHz: harmonics 1 to 4 of the last but one level
    EXPECT_EQ(osc->level(), kWithoutFifth);
    osc->pitch_update(0.9f);  // 9 kHz: the second harmonic (18 kHz) still fits
    EXPECT_EQ(osc->level(), 9);
}

// The two levels read without a table of their own: the last but one level less its fifth
// harmonic, and the last level's fundamental alone; the other harmonics stay as they were.
TEST(Playback, LevelsBeyondTheTablesKeepTheHarmonicsThatFit) {
    constexpr double kTwoPi = 6.283185307179586;
    // Harmonic h of level 7 at amplitude 0.1 h (DC 0.1), of level 8 at 0.3 / h.
    std::vector<float> block(kBlockSamples, 0.0f);
    for (int l = 7; l <= 8; ++l) {
        const LevelInfo& info = kLevels[l];
        for (int i = 0; i <= info.length; ++i) {
            double v = 0.1;
            for (int h = 1; h < info.bins; ++h)
                v += (l == 7 ? 0.1 * h : 0.3 / h) * std::sin(kTwoPi * h * i / info.length + h);
            block[info.offset + i] = static_cast<float>(v);
        }
    }
    auto store = std::make_unique<LevelStore>();
    store->replace(0, block.data());
    const struct {
        PitchLaw law;
        float pitch;
        int level;
        int first_level_table, top;
    } cases[] = {
        {PitchLaw::VoltPerKilohertz, 0.45f, kWithoutFifth, 7, 4},  // 4.5 kHz: harmonics 1-4
        {PitchLaw::VoltPerOctave, 0.99f, kFundamentalOnly, 8, 1},   // 13.1 kHz: the fundamental
    };
    for (const auto& c : cases) {
        auto osc = make_osc(store.get(), c.law);
        std::vector<float> pitch(512, c.pitch), out(512), morph(512, 0.0f);
        osc->reset();
        osc->render_streaming(pitch.data(), out.data(), 512);
        ASSERT_EQ(osc->level(), c.level);
        const double step = osc->increment() / 4294967296.0;
        const auto expected = [&](int i) {
            double v = 0.0;
            for (int h = 1; h <= c.top; ++h)
                v += (c.first_level_table == 7 ? 0.1 * h : 0.3 / h) * std::sin(kTwoPi * h * step * i + h);
            return v;
        };
        // Linear interpolation over 256 and 128 samples a period.
        for (int i = 0; i < 512; ++i) ASSERT_NEAR(out[i], expected(i), 3e-3) << c.level << " sample " << i;
        // Morphing between waveforms 0 and 1 (silent) at 0 V plays half of it.
        osc->reset();
        osc->render_morph_streaming(pitch.data(), morph.data(), out.data(), 512);
        for (int i = 0; i < 512; ++i) ASSERT_NEAR(out[i], 0.5 * expected(i), 3e-3) << c.level << " sample " << i;
    }
}

TEST(Playback, InterpolatesBetweenTableSamplesWithTheLevelsShift) {
    auto store = std::make_unique<LevelStore>();
    std::vector<float> block(kBlockSamples);
    for (int i = 0; i < kBlockSamples; ++i) block[i] = std::sin(0.001f * i) + 0.25f * (i % 7);
    store->replace(3, block.data());
    auto osc = make_osc(store.get());
    osc->set_waveform(3);
    osc->static_pitch_update(0.5f);
    const auto out = render_static(*osc, 300);
    uint32_t phase = 0;
    const float* level = store->published(3) + 11272;
    for (int n = 0; n < 300; ++n) {
        const uint32_t j = phase >> 22;
        const float f = static_cast<float>(phase & ((1u << 22) - 1)) * (1.0f / 4194304.0f);
        ASSERT_EQ(out[n], level[j] + (level[j + 1] - level[j]) * f) << n;
        phase += 42852281u;
    }
    EXPECT_EQ(osc->phase(), phase);
}

TEST(Playback, SilentWithoutTablesOrWithWaveformOutsideTheBank) {
    auto none = make_osc(nullptr);
    none->static_pitch_update(0.5f);
    for (float v : render_static(*none, 64)) ASSERT_EQ(v, 0.0f);

    auto store = constant_store();
    for (int w : {-1, 64, 1000}) {
        auto osc = make_osc(store.get());
        osc->set_waveform(w);
        osc->static_pitch_update(0.5f);
        for (float v : render_static(*osc, 64)) ASSERT_EQ(v, 0.0f);
        std::vector<float> pitch(64, 0.3f), out(64, 5.0f);
        osc->render_streaming(pitch.data(), out.data(), 64);
        for (float v : out) ASSERT_EQ(v, 0.0f);
    }
}

TEST(Playback, StreamingRecomputesOnlyWhenPitchChanges) {
    auto store = constant_store();
    auto osc = make_osc(store.get());
    osc->set_waveform(0);
    osc->reset();
    std::vector<float> pitch(32, 0.5f), out(32);
    for (int i = 16; i < 32; ++i) pitch[i] = 0.6f;
    osc->render_streaming(pitch.data(), out.data(), 32);
    EXPECT_EQ(osc->last_pitch(), 0.6f);
    EXPECT_EQ(osc->level(), 5);
    const int32_t* expo = osc->table(PitchLaw::VoltPerOctave);
    EXPECT_EQ(osc->phase(), 16u * expo[8192] + 16u * expo[static_cast<int>(std::nearbyint(0.6f * 16384.0f))]);
    for (float v : out) ASSERT_EQ(v, 1.0f);
}

TEST(Playback, ResetRestartsThePhaseAndRecomputesBeforeTheNextSample) {
    auto store = constant_store();
    auto osc = make_osc(store.get());
    osc->static_pitch_update(0.5f);
    render_static(*osc, 100);
    EXPECT_NE(osc->phase(), 0u);
    osc->reset();
    EXPECT_EQ(osc->phase(), 0u);
    EXPECT_EQ(osc->increment(), 0u);
    // A streaming block right after the reset plays at its pitch from its first sample.
    std::vector<float> pitch(10, 0.0f), out(10);
    osc->render_streaming(pitch.data(), out.data(), 10);
    EXPECT_EQ(osc->phase(), 10u * osc->table(PitchLaw::VoltPerOctave)[0]);
}

TEST(Morph, ZeroVoltsIsTheEvenMixOfTheFirstTwoWaveforms) {
    auto store = constant_store();
    auto osc = make_osc(store.get());
    osc->static_pitch_update(0.5f);
    std::vector<float> morph(8, 0.0f), out(8);
    osc->render_morph_static(morph.data(), out.data(), 8);
    for (float v : out) ASSERT_EQ(v, 1.5f);
}

TEST(Morph, TenVoltsSettlesOnTheLastWaveformAlone) {
    auto store = constant_store();
    auto osc = make_osc(store.get());
    osc->static_pitch_update(0.5f);
    std::vector<float> morph(4096, 1.0f), out(4096);
    osc->render_morph_static(morph.data(), out.data(), 4096);
    EXPECT_EQ(osc->morph_pos(), 64.0f);
    EXPECT_EQ(out.back(), 64.0f);
}

TEST(Morph, GlideMovesTenPercentPerSampleAndSnapsWithinAThousandth) {
    auto store = constant_store();
    auto osc = make_osc(store.get());
    osc->static_pitch_update(0.5f);
    std::vector<float> morph(1, 0.5f), out(1);
    float expected = 0.0f;
    int snapped_at = -1;
    for (int n = 0; n < 200; ++n) {
        osc->render_morph_static(morph.data(), out.data(), 1);
        const float t = static_cast<float>(expected + 0.1 * (32.0f - expected));
        expected = std::fabs(32.0f - t) < 0.001 ? 32.0f : t;
        ASSERT_EQ(osc->morph_pos(), expected) << n;
        if (expected == 32.0f && snapped_at < 0) snapped_at = n;
    }
    EXPECT_GT(snapped_at, 50);
    EXPECT_LT(snapped_at, 120);
    // Settled at 32: k = 32, fm = 0.5, between waveforms 33 and 34.
    EXPECT_EQ(out[0], 33.5f);
}

TEST(Morph, OutOfRangeMorphStaysInsideTheBank) {
    auto store = constant_store();
    auto osc = make_osc(store.get());
    osc->static_pitch_update(0.5f);
    std::vector<float> morph(2000, 50.0f), out(2000);
    morph[0] = std::nanf("");
    osc->render_morph_static(morph.data(), out.data(), 2000);
    EXPECT_EQ(out.back(), 64.0f);
}

TEST(PitchUpdate, RoundingMatchesNearbyintAcrossTheRange) {
    auto osc = make_osc(nullptr);
    for (int n = 0; n < 200000; ++n) {
        const float p = n * (1.5f / 200000.0f);
        osc->pitch_update(p);
        ASSERT_EQ(osc->table_index(), static_cast<int>(std::fmod(std::nearbyint(p * 16384.0f), 16384.0f))) << p;
    }
    osc->pitch_update(3.0e6f);  // beyond the fast path
    EXPECT_EQ(osc->table_index(), static_cast<int>(std::fmod(std::nearbyint(3.0e6f * 16384.0f), 16384.0f)));
}
