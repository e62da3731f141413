// tallisk_hq's sinc loops in the Windows build: the AVX2 + FMA form is compiled in and chosen
// where the processor has both, as in the Linux build, and reads what the plain form reads.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "sinc_kernel.h"

namespace tallisk {
namespace {

TEST(HqLoopsOnWindows, AreChosenAsOnLinuxAndTheAvx2FormReadsAsThePlainOne) {
    __builtin_cpu_init();
    const bool processor_has = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    const SincLoops* avx2 = sinc_avx2_loops();
    EXPECT_EQ(avx2 != nullptr, processor_has);
    EXPECT_EQ(&best_sinc_loops(), processor_has ? avx2 : &kSincPlainLoops);
    if (!avx2) GTEST_SKIP() << "no AVX2 and FMA on this processor: only the plain loops run";

    // A noise table of 4096 samples (shift 20), read at an odd increment across its wrap.
    constexpr uint32_t kShift = 20;
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    std::vector<float> wa(4096 + 2), wb(4096 + 2);
    for (size_t i = 0; i < 4096; ++i) wa[i] = noise(rng), wb[i] = noise(rng);
    const SincKernel& k = sinc_kernel();
    constexpr int kCount = 301;
    const uint32_t start = 0xFFF00000u, step = 0x00123457u;
    std::vector<float> plain(kCount), fast(kCount);
    EXPECT_EQ(avx2->single(k, wa.data(), kShift, start, step, fast.data(), kCount),
              kSincPlainLoops.single(k, wa.data(), kShift, start, step, plain.data(), kCount));
    for (int i = 0; i < kCount; ++i) ASSERT_NEAR(fast[i], plain[i], 2e-6) << i;
    EXPECT_EQ(avx2->crossfade(k, wa.data(), wb.data(), 0.3f, kShift, start, step, fast.data(), kCount),
              kSincPlainLoops.crossfade(k, wa.data(), wb.data(), 0.3f, kShift, start, step, plain.data(), kCount));
    for (int i = 0; i < kCount; ++i) ASSERT_NEAR(fast[i], plain[i], 2e-6) << i;
}

}  // namespace
}  // namespace tallisk
