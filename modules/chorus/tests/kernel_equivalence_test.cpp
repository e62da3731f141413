// The chunked loops (portable and AVX2) against the one-sample-at-a-time loop: for random
// settings, including short, wrapped and negative delays and small flanger offsets where chunks
// must fall back, every output sample and every buffer entry agree bit for bit.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "delay_line.h"
#include "kernel.h"

using chorus::Block;
using chorus::DelayLine;
using chorus::Feedback;

namespace {

enum class Variant { kPlain, kEcho, kFlange, kDepthEcho, kDepthFlange };

struct Case {
    float pre_delay;   // samples
    float depth;       // samples at full modulation
    float mod_centre;  // delivered volts / 10
    float mod_swing;
    float feedback;
};

Case random_case(std::mt19937& rng) {
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    const float size = 8192.0f;
    const float pre[] = {0.0f, 1.0f + 30.0f * unit(rng), 300.0f * unit(rng), size - 40.0f * unit(rng),
                         size + 30.0f * unit(rng), -30.0f * unit(rng), 3.0f * size * unit(rng)};
    const float depth[] = {0.0f, 5.0f * unit(rng), 200.0f * unit(rng), 2000.0f * unit(rng)};
    Case c;
    c.pre_delay = pre[rng() % 7];
    c.depth = depth[rng() % 4];
    c.mod_centre = -0.6f + 1.2f * unit(rng);
    c.mod_swing = (rng() % 3 == 0) ? 0.0f : 0.6f * unit(rng);
    c.feedback = -1.0f + 2.0f * unit(rng);
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

// Runs one random case through lines using each loop set and compares them with the first.
void compare(std::mt19937& rng, Variant v, const std::vector<const chorus::kernel::Loops*>& sets) {
    const Case c = random_case(rng);
    const int n = 6000;
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    std::vector<float> in(n), pre(n, c.pre_delay), mod(n), depth(n), fbk(n);
    for (int i = 0; i < n; ++i) {
        in[i] = rng() % 997 == 0 ? std::numeric_limits<float>::quiet_NaN() : noise(rng);
        mod[i] = c.mod_centre + c.mod_swing * std::sin(0.003f * static_cast<float>(i));
        depth[i] = (c.depth + (rng() % 2 ? 0.0f : 3.0f * noise(rng))) / 441.0f;
        fbk[i] = c.feedback * (0.9f + 0.1f * noise(rng));
    }
    std::vector<DelayLine> lines(sets.size());
    std::vector<std::vector<float>> outs(sets.size(), std::vector<float>(n));
    for (size_t s = 0; s < sets.size(); ++s) {
        ASSERT_TRUE(lines[s].allocate(6, 44100.0f));
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
            b.depth_scale = 441.0f;
            process(lines[s], v, b);
        }
        at += count;
    }
    for (size_t s = 1; s < sets.size(); ++s) {
        ASSERT_EQ(std::memcmp(outs[0].data(), outs[s].data(), n * sizeof(float)), 0)
            << "output, set " << s << ", pre " << c.pre_delay << ", depth " << c.depth;
        ASSERT_EQ(lines[0].write_pos(), lines[s].write_pos());
        ASSERT_EQ(std::memcmp(lines[0].data(), lines[s].data(), lines[0].size() * sizeof(float)), 0)
            << "buffer, set " << s << ", pre " << c.pre_delay << ", depth " << c.depth;
    }
}

}  // namespace

TEST(KernelEquivalence, ChunkedLoopsMatchTheExactLoopBitForBit) {
    std::vector<const chorus::kernel::Loops*> sets = {&chorus::kernel::exact_loops(),
                                                      &chorus::kernel::portable_loops()};
    if (const auto* avx2 = chorus::kernel::avx2_loops()) sets.push_back(avx2);
    std::mt19937 rng(20261208);
    for (Variant v : {Variant::kPlain, Variant::kEcho, Variant::kFlange, Variant::kDepthEcho, Variant::kDepthFlange})
        for (int trial = 0; trial < 40; ++trial) {
            SCOPED_TRACE(testing::Message() << "variant " << static_cast<int>(v) << ", trial " << trial);
            compare(rng, v, sets);
            if (HasFatalFailure()) return;
        }
}

TEST(KernelEquivalence, TheDefaultIsTheFastestSetAvailable) {
    const auto* avx2 = chorus::kernel::avx2_loops();
    EXPECT_EQ(&chorus::kernel::best_loops(), avx2 ? avx2 : &chorus::kernel::portable_loops());
}
