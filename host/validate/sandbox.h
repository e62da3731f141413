// Runs one check in a child process (forked; on Windows a new process) with a timeout and
// collects what it reported. A crash, an abort or a hang fails only that check.
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

    static CheckResult of(const std::string& plugin, const std::string& check, uint32_t seed, std::string status) {
        CheckResult r;
        r.plugin = plugin;
        r.check = check;
        r.seed = seed;
        r.status = std::move(status);
        return r;
    }
};

CheckResult run_check(const Check& check, const std::string& path, int strictness, uint32_t seed, double timeout_s);

// Takes the complete "F/I/S text" lines a check's process sent (CheckContext) out of `pending`.
void read_report_lines(std::string& pending, CheckResult& r);

#ifdef _WIN32
// Windows has no fork: each check runs in a new process of this program, started with
// `validate --child-check NAME --child-pipe HANDLE`, which calls this and exits.
[[noreturn]] void run_child_check(const Check& check, const std::string& path, int strictness, uint32_t seed,
                                  const std::string& pipe_handle);
// Installs, for the rest of the process, a user without a script: every box, menu and dialog
// takes its default answer (kept apart from the file that includes <windows.h>, whose macros
// clash with the platform's names).
void install_default_user();
#endif

}  // namespace mvh::validate
