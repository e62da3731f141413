// How a test starts one of the project's own programs (mvhost and the other tools). Where the
// 32-bit build runs its programs under an emulator, the kernel cannot start a 32-bit program by
// itself, so the emulator goes in front (MV_EXEC_PREFIX in the test's environment). Tools of the
// machine (sox, midicsv, nm) start as they are.
#pragma once

#include <cstdlib>
#include <string>

namespace mv_testing {

inline std::string program(const std::string& path) {
    const char* prefix = std::getenv("MV_EXEC_PREFIX");
    return prefix && *prefix ? std::string(prefix) + " " + path : path;
}

}  // namespace mv_testing
