// The AVX2 block loops against the plain ones, and the oscillator's block paths against its
// per-sample streaming paths: bit for bit, over random tables, phases, pitches and block sizes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "level_store.h"
#include "oscillator.h"
#include "oscillator_loops.h"

using namespace tallisk;

namespace {

bool same_bits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0);
}

std::vector<float> random_block(std::mt19937& rng) {
    std::uniform_real_distribution<float> d(-1.0f, 1.0f);
    std::vector<float> block(kBlockSamples);
    for (float& v : block) v = d(rng);
    block[5] = -0.0f;  // signed zeros take part in the arithmetic like any value
    return block;
}

std::unique_ptr<LevelStore> random_store(std::mt19937& rng) {
    auto store = std::make_unique<LevelStore>();
    for (int w = 0; w < kWaveCount; ++w) store->replace(w, random_block(rng).data());
    return store;
}

std::unique_ptr<Oscillator> make_osc(const LevelStore* store, bool plain) {
    auto osc = std::make_unique<Oscillator>();
    osc->build_increment_tables(44100.0f);
    osc->set_store(store);
    osc->use_plain_loops(plain);
    return osc;
}

PhaseWalk random_walk(std::mt19937& rng) {
    const auto shift = static_cast<uint32_t>(level_shift(static_cast<int>(rng() % kLevelCount)));
    return {static_cast<uint32_t>(rng()), static_cast<uint32_t>(rng()), shift, (1u << shift) - 1u,
            1.0f / static_cast<float>(1u << shift)};
}

}  // namespace

TEST(OscillatorLoops, Avx2MatchesPlainOverRandomWalksAndLengths) {
    const OscillatorLoops* avx2 = avx2_loops();
    if (!avx2) GTEST_SKIP() << "no AVX2 on this processor";
    std::mt19937 rng(14);
    const std::vector<float> block_a = random_block(rng), block_b = random_block(rng);
    for (int trial = 0; trial < 400; ++trial) {
        PhaseWalk w = random_walk(rng);
        const int count = static_cast<int>(rng() % 200);
        // Every shift has its level; play the last one with that shift (its table ends at the guard).
        int level = 0;
        for (int l = 0; l < kLevelCount; ++l)
            if (static_cast<uint32_t>(level_shift(l)) == w.shift) level = kLevels[l].offset;
        const float* wa = block_a.data() + level;
        const float* wb = block_b.data() + level;
        if (trial % 7 == 0) w.increment = 0;
        if (trial % 11 == 0) w.increment = 0x80000000u;  // the half-rate step

        std::vector<float> plain(count, 7.0f), fast(count, 8.0f);
        EXPECT_EQ(kPlainLoops.single(wa, w, plain.data(), count), avx2->single(wa, w, fast.data(), count));
        ASSERT_TRUE(same_bits(plain, fast)) << "single, trial " << trial << " count " << count;

        std::uniform_real_distribution<float> fd(0.0f, 1.0f);
        const float fm = trial % 5 == 0 ? 0.0f : fd(rng);
        EXPECT_EQ(kPlainLoops.crossfade(wa, wb, fm, w, plain.data(), count),
                  avx2->crossfade(wa, wb, fm, w, fast.data(), count));
        ASSERT_TRUE(same_bits(plain, fast)) << "crossfade, trial " << trial << " count " << count;
    }
}

TEST(OscillatorLoops, BestLoopsAreAvx2WhenAvailable) {
    EXPECT_EQ(&best_loops(), avx2_loops() ? avx2_loops() : &kPlainLoops);
}

// The static loop (default loops, and forced plain) against the streaming loop, which updates its
// pitch per sample but plays the same arithmetic when the pitch stays put.
TEST(OscillatorBlockPaths, StaticPitchMatchesStreamingAtTheSamePitch) {
    std::mt19937 rng(3);
    auto store = random_store(rng);
    std::uniform_real_distribution<float> pd(-1.0f, 1.0f);
    for (int trial = 0; trial < 60; ++trial) {
        auto fast = make_osc(store.get(), false), plain = make_osc(store.get(), true);
        auto reference = make_osc(store.get(), true);
        const int waveform = static_cast<int>(rng() % kWaveCount);
        const float pitch = trial == 0 ? 0.9f : pd(rng);
        for (Oscillator* o : {fast.get(), plain.get(), reference.get()}) {
            o->set_waveform(waveform);
            o->static_pitch_update(pitch);
        }
        for (int block = 0; block < 4; ++block) {
            const int count = static_cast<int>(rng() % 130);
            std::vector<float> held(count, reference->last_pitch());
            std::vector<float> a(count), b(count), r(count);
            fast->render_static(a.data(), count);
            plain->render_static(b.data(), count);
            reference->render_streaming(held.data(), r.data(), count);
            ASSERT_TRUE(same_bits(a, r)) << "trial " << trial << " pitch " << pitch << " count " << count;
            ASSERT_TRUE(same_bits(b, r)) << "trial " << trial;
            EXPECT_EQ(fast->phase(), reference->phase());
        }
    }
}

// The morph block path (settled runs handed to the loops) against the per-sample streaming morph,
// over inputs that hold, glide, jump, go out of range and turn NaN, across block boundaries.
TEST(OscillatorBlockPaths, MorphMatchesPerSampleMorphOverHoldsAndGlides) {
    std::mt19937 rng(5);
    auto store = random_store(rng);
    std::uniform_real_distribution<float> md(-1.2f, 1.2f);
    for (int trial = 0; trial < 40; ++trial) {
        auto fast = make_osc(store.get(), false), plain = make_osc(store.get(), true);
        auto reference = make_osc(store.get(), true);
        const float pitch = md(rng) * 0.75f;
        for (Oscillator* o : {fast.get(), plain.get(), reference.get()}) o->static_pitch_update(pitch);
        float hold = md(rng);
        for (int block = 0; block < 12; ++block) {
            const int count = 1 + static_cast<int>(rng() % 150);
            std::vector<float> morph(count);
            for (float& m : morph) {
                // Mostly held values (so positions settle), sometimes a new one, NaN or 1.0 exactly.
                const unsigned r = rng() % 100;
                if (r < 3) hold = md(rng);
                else if (r == 3) hold = std::nanf("");
                else if (r == 4) hold = 1.0f;
                else if (r == 5) hold = 63.0f / 64.0f;
                m = hold;
            }
            std::vector<float> held(count, reference->last_pitch());
            std::vector<float> a(count), b(count), r(count);
            fast->render_morph_static(morph.data(), a.data(), count);
            plain->render_morph_static(morph.data(), b.data(), count);
            reference->render_morph_streaming(held.data(), morph.data(), r.data(), count);
            ASSERT_TRUE(same_bits(a, r)) << "trial " << trial << " block " << block;
            ASSERT_TRUE(same_bits(b, r)) << "trial " << trial << " block " << block;
            EXPECT_EQ(fast->morph_pos(), reference->morph_pos());
            EXPECT_EQ(fast->phase(), reference->phase());
        }
    }
}

// The streaming block path (AVX2 and forced plain) against the per-sample rule, played by the
// per-sample streaming morph over two identical waveforms (a cross-fade of equal values is exact):
// glides, vibrato, jumps, holds, NaN, values beyond the table and the fades near half the rate,
// under both laws, across block boundaries; blocks on one level and blocks that cross levels, and
// static blocks after them at the pitch they left.
TEST(OscillatorBlockPaths, StreamingPitchMatchesThePerSampleRule) {
    std::mt19937 rng(21);
    auto store = std::make_unique<LevelStore>();
    const std::vector<float> block = random_block(rng);
    store->replace(0, block.data());
    store->replace(1, block.data());
    std::uniform_real_distribution<float> ud(0.0f, 1.0f);
    for (int trial = 0; trial < 24; ++trial) {
        const PitchLaw law = trial % 2 ? PitchLaw::VoltPerKilohertz : PitchLaw::VoltPerOctave;
        auto fast = make_osc(store.get(), false), plain = make_osc(store.get(), true);
        auto reference = make_osc(store.get(), true);
        for (Oscillator* o : {fast.get(), plain.get(), reference.get()}) {
            o->set_law(law);
            o->set_waveform(0);
            o->reset();
        }
        float p = ud(rng), rate = 0.0f;
        for (int blk = 0; blk < 40; ++blk) {
            const int count = 1 + static_cast<int>(rng() % 200);
            std::vector<float> pitch(count), morph(count, 0.0f);
            for (int i = 0; i < count; ++i) {
                const unsigned r = rng() % 1000;
                if (r < 4) rate = (ud(rng) - 0.5f) * 2e-3f;  // a new glide
                else if (r < 6) p = ud(rng) * 1.2f - 0.1f;  // a jump (negative, beyond 10 V)
                else if (r == 6) p = std::nanf("");
                else if (r == 7) p = 600.0f;  // index beyond 2^23
                else if (r == 8) p = 0.965f + 0.03f * ud(rng);  // the fades and the fundamental alone
                else if (r < 20) rate = 0.0f;  // a hold
                if (std::isnan(p) || p > 2.0f) {
                    pitch[i] = p;
                    p = ud(rng);
                    continue;
                }
                p += rate + 1e-4f * std::sin(0.3f * static_cast<float>(i));  // plus a vibrato
                pitch[i] = p;
            }
            std::vector<float> a(count), b(count), r(count);
            if (blk % 5 == 4) {
                // A block without a Pitch input plays on at the last pitch of the streaming block.
                fast->render_static(a.data(), count);
                plain->render_static(b.data(), count);
                reference->render_static(r.data(), count);
            } else {
                fast->render_streaming(pitch.data(), a.data(), count);
                plain->render_streaming(pitch.data(), b.data(), count);
                reference->render_morph_streaming(pitch.data(), morph.data(), r.data(), count);
            }
            ASSERT_TRUE(same_bits(a, r)) << "trial " << trial << " block " << blk;
            ASSERT_TRUE(same_bits(b, r)) << "trial " << trial << " block " << blk;
            for (Oscillator* o : {fast.get(), plain.get()}) {
                ASSERT_EQ(o->phase(), reference->phase());
                ASSERT_EQ(o->increment(), reference->increment());
                ASSERT_EQ(o->table_index(), reference->table_index());
                ASSERT_EQ(o->level(), reference->level());
                ASSERT_TRUE(o->last_pitch() == reference->last_pitch() ||
                            (std::isnan(o->last_pitch()) && std::isnan(reference->last_pitch())));
            }
        }
    }
}

TEST(OscillatorLoops, HeldRunCountsTheLeadingRepeatsOfTheFirstValue) {
    std::vector<const OscillatorLoops*> sets{&kPlainLoops};
    if (avx2_loops()) sets.push_back(avx2_loops());
    std::mt19937 rng(9);
    for (const OscillatorLoops* loops : sets) {
        for (int trial = 0; trial < 300; ++trial) {
            const int count = static_cast<int>(rng() % 40);
            const int run = count == 0 ? 0 : 1 + static_cast<int>(rng() % count);  // x[0] always counts
            std::vector<float> x(count + 1, 0.25f);
            for (int i = run; i < count; ++i) x[i] = (rng() % 2) ? 0.5f : 0.25f;
            if (run < count) x[run] = -0.25f;
            EXPECT_EQ(loops->held_run(x.data(), count), run) << "count " << count;
        }
        const float nan = std::nanf("");
        const std::vector<float> nans(12, nan);
        EXPECT_EQ(loops->held_run(nans.data(), 12), 0);
        const std::vector<float> zeros{0.0f, -0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f};
        EXPECT_EQ(loops->held_run(zeros.data(), 10), 9);  // -0 names the same target as 0
    }
}
