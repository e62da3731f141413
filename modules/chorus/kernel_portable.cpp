// The inner loops for any processor, the exact reference set, and the run-time choice of set.
#include "kernel_loops.h"

namespace chorus::kernel {

namespace {
constexpr Loops kExactLoops = {
    &run_whole<Feedback::kNone, false>,   &run_whole<Feedback::kPreDelay, false>,
    &run_whole<Feedback::kChorus, false>, &run_whole<Feedback::kPreDelay, true>,
    &run_whole<Feedback::kChorus, true>,
};
}  // namespace

const Loops& exact_loops() { return kExactLoops; }
const Loops& portable_loops() { return kChunkedLoops; }

const Loops* avx2_loops() {
#if CHORUS_AVX2_KERNEL
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") ? &kAvx2Loops : nullptr;
#else
    return nullptr;
#endif
}

const Loops& best_loops() {
    static const Loops* const kBest = avx2_loops() ? avx2_loops() : &kChunkedLoops;
    return *kBest;
}

float flush_tiny(float v) { return clear_tiny(v); }

}  // namespace chorus::kernel
