// The validator's reports: the console text, a JSON file and a JUnit XML file.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "sandbox.h"

namespace mvh::validate {

struct RunInfo {
    uint32_t seed = 0;
    int strictness = 0;
    int repeat = 1;
    bool realtime_shim = false;
};

void print_result(std::ostream& out, const CheckResult& r);
bool write_json(const std::string& file, const RunInfo& info, const std::vector<CheckResult>& results, std::string* error);
bool write_junit(const std::string& file, const RunInfo& info, const std::vector<CheckResult>& results, std::string* error);
// Failures that name a real-time violation.
int realtime_violations(const std::vector<CheckResult>& results);

}  // namespace mvh::validate
