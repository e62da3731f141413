// `mvhost validate`: runs every check on every plug-in named, each in its own child process, and
// exits 0 when all pass, 1 otherwise. The seed is printed so any failure can be run again.
#include <CLI/CLI.hpp>
#include <stdlib.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <random>
#include <set>

#include "mvp/output_file.h"
#include "checks.h"
#include "mvhost/commands.h"
#include "report.h"
#include "rt_probe.h"
#include "sandbox.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define MV_VALIDATE_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define MV_VALIDATE_SANITIZED 1
#endif
#endif

namespace mvh {

namespace {

struct ValidateOptions {
    std::vector<std::string> paths;
    int strictness = 5;
    int64_t seed = -1;
    int repeat = 1;
    double timeout = 60.0;
    std::string json, junit;
    std::vector<std::string> only;
    bool no_shim = false;
    bool list = false;
    // Windows only: this process is one check's child (sandbox_win32.cpp).
    std::string child_check, child_pipe;
};

constexpr const char* kReexecEnv = "MVHOST_VALIDATE_REEXEC";

// The shim must be in place before the process starts, so the validator runs itself again with
// it preloaded. Returns only when that is not possible or not wanted.
void reexec_with_shim(const ValidateOptions& o) {
#if defined(MV_VALIDATE_SANITIZED) || defined(_WIN32)
    (void)o;
    return;
#else
    if (o.no_shim || validate::rt_available() || getenv(kReexecEnv)) return;
    const std::string shim = validate::rt_shim_path();
    if (shim.empty()) return;
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> args;
    for (size_t start = 0; start < all.size();) {
        const size_t end = all.find('\0', start);
        args.push_back(all.substr(start, end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    if (args.empty()) return;
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const char* old = getenv("LD_PRELOAD");
    const std::string preload = old && *old ? shim + ":" + old : shim;
    setenv("LD_PRELOAD", preload.c_str(), 1);
    setenv(kReexecEnv, "1", 1);
    std::cout.flush();
    // Under an emulator (the 32-bit build on a kernel without 32-bit support) the kernel cannot
    // start this program by itself: the emulator named in MV_EXEC_PREFIX starts it again.
    const char* prefix = getenv("MV_EXEC_PREFIX");
    if (prefix && *prefix) {
        char self[4096];
        const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
        if (n > 0) {
            self[n] = '\0';
            std::vector<char*> emulated{const_cast<char*>(prefix), self};
            emulated.insert(emulated.end(), argv.begin() + 1, argv.end());
            execvp(prefix, emulated.data());
        }
    } else {
        execv("/proc/self/exe", argv.data());
    }
    unsetenv(kReexecEnv);  // exec failed: go on without the shim
#endif
}

int run_validate(ValidateOptions o) {
    const auto& checks = validate::all_checks();
    if (o.list) {
        for (const auto& c : checks) std::cout << c.name << "  (strictness " << c.min_strictness << " and up)\n";
        return 0;
    }
    if (o.paths.empty()) {
        std::cerr << "mvhost validate: no plug-in given\n";
        return 2;
    }
#ifdef _WIN32
    if (!o.child_check.empty()) {
        for (const auto& c : checks)
            if (o.child_check == c.name)
                validate::run_child_check(c, o.paths.front(), o.strictness, static_cast<uint32_t>(o.seed), o.child_pipe);
        return 2;
    }
    // A name that is a file here is that file, not one LoadLibrary finds on its search path.
    for (std::string& path : o.paths) {
        std::error_code ec;
        if (std::filesystem::exists(path, ec)) path = std::filesystem::absolute(path, ec).string();
    }
#else
    // A bare name that is a file here is that file, not one dlopen finds on the library path.
    for (std::string& path : o.paths)
        if (path.find('/') == std::string::npos && ::access(path.c_str(), F_OK) == 0) path = "./" + path;
#endif
    {
        // The reports may not replace a plug-in under test, nor each other, and their folders must
        // take them: known before the first check runs.
        mvp::OutputSet outs;
        for (const std::string& path : o.paths) outs.add_input(path, "a plug-in under test");
        outs.add_output(o.json, "--json");
        outs.add_output(o.junit, "--junit");
        std::string error;
        if (!outs.check(&error)) {
            std::cerr << "mvhost validate: " << error << "\n";
            return 2;
        }
    }
    reexec_with_shim(o);
    std::set<std::string> known;
    for (const auto& c : checks) known.insert(c.name);
    for (const auto& name : o.only)
        if (!known.count(name)) {
            std::cerr << "mvhost validate: unknown check '" << name << "'\n";
            return 1;
        }
    const uint32_t seed = o.seed >= 0 ? static_cast<uint32_t>(o.seed) : std::random_device{}();
    validate::RunInfo info;
    info.seed = seed;
    info.strictness = o.strictness;
    info.repeat = o.repeat;
    info.realtime_shim = validate::rt_available();
    std::cout << "mvhost validate: seed " << seed << " (reproduce with --seed " << seed << "), strictness "
              << o.strictness << ", real-time shim " << (info.realtime_shim ? "loaded" : "not loaded") << "\n";
    std::vector<validate::CheckResult> results;
    for (int rep = 0; rep < o.repeat; ++rep) {
        const uint32_t run_seed = seed + static_cast<uint32_t>(rep);
        for (const std::string& path : o.paths) {
            std::cout << path << (o.repeat > 1 ? " (repeat " + std::to_string(rep + 1) + ", seed " + std::to_string(run_seed) + ")" : "") << "\n";
            int passed = 0, failed = 0, skipped = 0;
            // A file that is no plug-in fails "load" once; every later check would only fail again
            // for the same reason, so they are skipped with that reason (on one line). A plug-in
            // that loads but crashes or hangs in "load" still gets every check.
            bool loads = true;
            int not_run = 0;
            for (const auto& check : checks) {
                if (check.min_strictness > o.strictness) continue;
                if (!o.only.empty() && std::find(o.only.begin(), o.only.end(), check.name) == o.only.end()) continue;
                if (!loads) {
                    validate::CheckResult r = validate::CheckResult::of(path, check.name, run_seed, "skip");
                    r.notes.push_back(std::string("not run: ") + validate::kNotAPlugin);
                    results.push_back(std::move(r));
                    ++skipped;
                    ++not_run;
                    continue;
                }
                validate::CheckResult r = validate::run_check(check, path, o.strictness, run_seed, o.timeout);
                loads = std::find(r.notes.begin(), r.notes.end(), validate::kNotAPlugin) == r.notes.end();
                validate::print_result(std::cout, r);
                std::cout.flush();
                (r.status == "pass" ? passed : r.status == "skip" ? skipped : failed)++;
                results.push_back(std::move(r));
            }
            if (not_run > 0) std::cout << "  SKIP the other " << not_run << " checks: " << validate::kNotAPlugin << "\n";
            std::cout << path << ": " << passed << " passed, " << failed << " failed, " << skipped << " skipped\n";
        }
    }
    int failed = 0;
    for (const auto& r : results) failed += r.status == "fail";
    std::cout << "mvhost validate: " << o.paths.size() << " plug-in(s), " << results.size() << " checks, " << failed
              << " failed, " << validate::realtime_violations(results) << " real-time violations (seed " << seed << ")\n";
    std::string error;
    // A report that cannot be written is no failed check: status 2, as for any bad output.
    if (!o.json.empty() && !validate::write_json(o.json, info, results, &error)) {
        std::cerr << "mvhost validate: " << error << "\n";
        return 2;
    }
    if (!o.junit.empty() && !validate::write_junit(o.junit, info, results, &error)) {
        std::cerr << "mvhost validate: " << error << "\n";
        return 2;
    }
    return failed == 0 ? 0 : 1;
}

}  // namespace

void register_validate(CLI::App& app, int& status) {
    auto opts = std::make_shared<ValidateOptions>();
    auto* cmd = app.add_subcommand("validate", "Run the plug-in validator on one or more plug-ins");
    cmd->add_option("plugins", opts->paths, "Plug-in libraries (.so)")->check(CLI::ExistingFile);
    cmd->add_option("--strictness", opts->strictness, "1 (quick) to 10 (everything, longest)")->check(CLI::Range(1, 10));
    cmd->add_option("--seed", opts->seed, "Seed of the random choices (default: a fresh one, printed)")
        ->check(CLI::Range(int64_t{0}, int64_t{0xFFFFFFFF}));
    cmd->add_option("--repeat", opts->repeat, "Run everything N times with seeds seed, seed+1, ...")->check(CLI::Range(1, 1000));
    cmd->add_option("--json", opts->json, "Write the results as JSON");
    cmd->add_option("--junit", opts->junit, "Write the results as JUnit XML");
    cmd->add_option("--timeout", opts->timeout, "Seconds each check may take")->check(CLI::Range(1.0, 3600.0));
    cmd->add_option("--check", opts->only, "Run only the named checks (repeatable)")->allow_extra_args(false);
    cmd->add_flag("--no-shim", opts->no_shim, "Do not preload the real-time shim");
    cmd->add_flag("--list", opts->list, "List the checks and the strictness each needs");
#ifdef _WIN32
    cmd->add_option("--child-check", opts->child_check)->group("");
    cmd->add_option("--child-pipe", opts->child_pipe)->group("");
#endif
    cmd->callback([opts, &status] {
        const std::string input = opts->paths.empty() ? "" : opts->paths.front();
        status = mvh::run_guarded("mvhost validate", input, std::cerr, [&] { return run_validate(*opts); });
    });
}

}  // namespace mvh
