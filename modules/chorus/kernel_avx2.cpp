// The inner loops compiled for AVX2: the build gives this file -mavx2 on x86 only. It holds no code
// that runs before the processor check in kernel_portable.cpp, only the table of loops.
#include "kernel_loops.h"

namespace chorus::kernel {

const Loops kAvx2Loops = kChunkedLoops;

}  // namespace chorus::kernel
