// The built-in modules in the shared host rig: looked up among the built-ins, at the render's
// default block of 256.
#pragma once

#include <string>

#include "mv_testing/host_rig.h"

namespace mvb_test {

inline std::string builtin_path(const std::string& name) { return mv_testing::builtin_dir() + "/" + name + ".so"; }

struct Rig : mv_testing::HostRig {
    explicit Rig(float sample_rate = 44100.0f, int block_size = 256)
        : HostRig(sample_rate, block_size, mv_testing::builtin_dir()) {}
};

}  // namespace mvb_test
