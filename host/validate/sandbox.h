// Runs one check in a forked child with a timeout and collects what it reported. A crash, an
// abort or a hang fails only that check.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "checks.h"

namespace mvh::validate {

struct CheckResult {
    std::string plugin;
    std::string check;
    std::string status;  // "pass", "fail" or "skip"
    uint32_t seed = 0;
    double ms = 0.0;
    std::vector<std::string> failures;
    std::vector<std::string> notes;
};

CheckResult run_check(const Check& check, const std::string& path, int strictness, uint32_t seed, double timeout_s);

}  // namespace mvh::validate
