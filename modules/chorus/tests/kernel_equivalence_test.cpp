// The chunked loops (portable and AVX2) against the one-sample-at-a-time loop: for random
// settings, including short, wrapped and negative delays, read distances at the edges where a
// chunk may or may not run in vector form, offsets that jump inside a chunk, and bad values, every
// output sample and every buffer entry agree bit for bit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "delay_line.h"
#include "kernel.h"

using chorus::Block;
using chorus::DelayLine;
using chorus::Feedback;

namespace {

constexpr float kSize = 8192.0f;  // entries of the line these tests use (choice 6 at 44.1 kHz)
constexpr float kDepthScale = 441.0f;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

enum class Variant { kPlain, kEcho, kFlange, kDepthEcho, kDepthFlange };
constexpr Variant kVariants[] = {Variant::kPlain, Variant::kEcho, Variant::kFlange, Variant::kDepthEcho,
                                 Variant::kDepthFlange};

// How the modulation moves: a slow sweep (taps of a chunk side by side), noise (taps scattered
// within a chunk), or noise with non-finite and huge values among it.
enum class Motion { kSweep, kJitter, kWild };

struct Case {
    float pre_delay;   // samples
    float depth;       // samples at full modulation
    float mod_centre;  // delivered volts / 10
    float mod_swing;
    float feedback;
    Motion motion;
};

float unit(std::mt19937& rng) { return std::uniform_real_distribution<float>(0.0f, 1.0f)(rng); }

Case random_case(std::mt19937& rng) {
    const float pre[] = {0.0f,          1.0f + 30.0f * unit(rng),  300.0f * unit(rng),
                         kSize - 40.0f * unit(rng), kSize + 30.0f * unit(rng), -30.0f * unit(rng),
                         3.0f * kSize * unit(rng)};
    const float depth[] = {0.0f, 5.0f * unit(rng), 200.0f * unit(rng), 2000.0f * unit(rng)};
    Case c;
    c.pre_delay = pre[rng() % 7];
    c.depth = depth[rng() % 4];
    c.mod_centre = -0.6f + 1.2f * unit(rng);
    c.mod_swing = (rng() % 3 == 0) ? 0.0f : 0.6f * unit(rng);
    c.feedback = -1.0f + 2.0f * unit(rng);
    c.motion = rng() % 2 ? Motion::kSweep : Motion::kJitter;
    return c;
}

// A read distance within a few samples of a bound of the vector form: 0, the chunk widths 8 and
// 16, and the far end of the buffer; the offset's whole part moves around 0 or around 8 (the
// flanger's bound), by a sample or two inside a chunk.
Case limit_case(std::mt19937& rng) {
    const float bounds[] = {0.0f, 8.0f, 16.0f, kSize - 16.0f, kSize - 9.0f, kSize - 8.0f, kSize - 2.0f, kSize};
    Case c;
    const float whole = rng() % 2 ? 0.0f : 8.0f;
    c.pre_delay = bounds[rng() % 8] - whole + static_cast<float>(static_cast<int>(rng() % 7) - 3);
    c.depth = 4.0f * unit(rng);
    // Centre the offset on `whole` samples when the depth allows it.
    c.mod_centre = c.depth > 0.0f ? -0.5f + std::min(1.0f, whole / std::max(c.depth, 1.0f)) : 0.0f;
    c.mod_centre += 0.2f * (unit(rng) - 0.5f);
    c.mod_swing = 0.3f * unit(rng);
    c.depth += whole;
    c.feedback = -1.0f + 2.0f * unit(rng);
    c.motion = rng() % 3 ? Motion::kJitter : Motion::kSweep;
    return c;
}

// Offsets that must count as none (NaN, infinite, beyond 2^30 samples) next to valid ones, among
// them depths whose offsets straddle 2^30 and negative ones.
Case wild_case(std::mt19937& rng) {
    const float depth[] = {300.0f * unit(rng), -300.0f * unit(rng), 1.5f * 1073741824.0f, -2.5f * 1073741824.0f};
    Case c;
    c.pre_delay = 2.0f * kSize * (unit(rng) - 0.5f);
    c.depth = depth[rng() % 4];
    c.mod_centre = 0.2f * (unit(rng) - 0.5f);
    c.mod_swing = 0.5f * unit(rng);
    c.feedback = -1.0f + 2.0f * unit(rng);
    c.motion = Motion::kWild;
    return c;
}

void process(DelayLine& line, Variant v, const Block& b) {
    switch (v) {
    case Variant::kPlain: line.process_plain(b); break;
    case Variant::kEcho: line.process_echo(b); break;
    case Variant::kFlange: line.process_flange(b); break;
    case Variant::kDepthEcho: line.process_streaming_depth(b, Feedback::kPreDelay); break;
    case Variant::kDepthFlange: line.process_streaming_depth(b, Feedback::kChorus); break;
    }
}

float modulation_at(std::mt19937& rng, const Case& c, int i) {
    switch (c.motion) {
    case Motion::kSweep: return c.mod_centre + c.mod_swing * std::sin(0.003f * static_cast<float>(i));
    case Motion::kJitter: return c.mod_centre + c.mod_swing * (2.0f * unit(rng) - 1.0f);
    case Motion::kWild: break;
    }
    const float odd[] = {kNaN, kInf, -kInf, 1.0e12f, -1.0e12f};
    return rng() % 5 == 0 ? odd[rng() % 5] : c.mod_centre + c.mod_swing * (2.0f * unit(rng) - 1.0f);
}

float input_at(std::mt19937& rng) {
    if (rng() % 997 == 0) return kNaN;
    if (rng() % 1499 == 0) return kInf;
    // Now and then a sample whose sum with the feedback may overflow.
    if (rng() % 701 == 0) return rng() % 2 ? 3.0e38f : -3.0e38f;
    return 2.0f * unit(rng) - 1.0f;
}

// Runs one case through lines using each loop set, in blocks of random sizes, and compares every
// set with the first.
void compare(std::mt19937& rng, const Case& c, Variant v, const std::vector<const chorus::kernel::Loops*>& sets) {
    const int n = 6000;
    std::vector<float> in(n), pre(n, c.pre_delay), mod(n), depth(n), fbk(n);
    for (int i = 0; i < n; ++i) {
        in[i] = input_at(rng);
        mod[i] = modulation_at(rng, c, i);
        const float wobble = rng() % 2 ? 0.0f : 3.0f * (2.0f * unit(rng) - 1.0f);
        depth[i] = (c.depth + (c.motion == Motion::kSweep ? 0.0f : wobble)) / kDepthScale;
        fbk[i] = c.feedback * (0.9f + 0.1f * (2.0f * unit(rng) - 1.0f));
    }
    std::vector<DelayLine> lines(sets.size());
    std::vector<std::vector<float>> outs(sets.size(), std::vector<float>(n));
    for (size_t s = 0; s < sets.size(); ++s) {
        ASSERT_TRUE(lines[s].allocate(6, 44100.0f));
        ASSERT_EQ(lines[s].size(), static_cast<uint32_t>(kSize));
        lines[s].use_loops(*sets[s]);
    }
    for (int at = 0; at < n;) {
        const int count = std::min(n - at, 1 + static_cast<int>(rng() % 300));
        for (size_t s = 0; s < sets.size(); ++s) {
            Block b;
            b.input = in.data() + at;
            b.pre_delay = pre.data() + at;
            b.modulation = mod.data() + at;
            b.depth = depth.data() + at;
            b.feedback = fbk.data() + at;
            b.output = outs[s].data() + at;
            b.count = count;
            b.delay_scale = 1.0f;
            b.depth_scale = kDepthScale;
            process(lines[s], v, b);
        }
        at += count;
    }
    for (size_t s = 1; s < sets.size(); ++s) {
        for (int i = 0; i < n; ++i)
            ASSERT_EQ(std::memcmp(&outs[0][i], &outs[s][i], sizeof(float)), 0)
                << "output " << i << ": " << outs[0][i] << " against " << outs[s][i] << ", set " << s << ", pre "
                << c.pre_delay << ", depth " << c.depth;
        ASSERT_EQ(lines[0].write_pos(), lines[s].write_pos());
        ASSERT_EQ(std::memcmp(lines[0].data(), lines[s].data(), lines[0].size() * sizeof(float)), 0)
            << "buffer, set " << s << ", pre " << c.pre_delay << ", depth " << c.depth;
    }
}

std::vector<const chorus::kernel::Loops*> all_sets() {
    std::vector<const chorus::kernel::Loops*> sets = {&chorus::kernel::exact_loops(),
                                                      &chorus::kernel::portable_loops()};
    if (const auto* avx2 = chorus::kernel::avx2_loops()) sets.push_back(avx2);
    return sets;
}

void compare_many(Case (*make)(std::mt19937&), int trials, uint32_t seed) {
    const auto sets = all_sets();
    std::mt19937 rng(seed);
    for (Variant v : kVariants)
        for (int trial = 0; trial < trials; ++trial) {
            SCOPED_TRACE(testing::Message() << "variant " << static_cast<int>(v) << ", trial " << trial);
            compare(rng, make(rng), v, sets);
            if (testing::Test::HasFatalFailure()) return;
        }
}

}  // namespace

TEST(KernelEquivalence, ChunkedLoopsMatchTheExactLoopBitForBit) {
    compare_many(random_case, 40, 20261208);
}

TEST(KernelEquivalence, ReadDistancesAtTheEdgesOfTheVectorFormMatch) {
    compare_many(limit_case, 60, 7);
}

TEST(KernelEquivalence, OffsetsThatCountAsNoneMatch) {
    compare_many(wild_case, 20, 1234);
}

TEST(KernelEquivalence, TheDefaultIsTheFastestSetAvailable) {
    const auto* avx2 = chorus::kernel::avx2_loops();
    EXPECT_EQ(&chorus::kernel::best_loops(), avx2 ? avx2 : &chorus::kernel::portable_loops());
}
