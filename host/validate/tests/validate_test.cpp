// `mvhost validate` as CI runs it: a well-behaved plug-in passes, and each plug-in that breaks a
// rule on purpose fails the check that guards that rule, with the reason in the report.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "mv_testing/exec.h"

namespace {

struct ValidateRun {
    int status = -1;
    std::string output;
    nlohmann::json report;
};

// Sanitizer runtimes own the allocator, so sanitizer builds run without the real-time shim.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kShimExpected = false;
#else
constexpr bool kShimExpected = true;
#endif

#define REQUIRE_SHIM() \
    if (!kShimExpected) GTEST_SKIP() << "sanitizer build: the real-time shim is not preloaded"

std::string plugin(const std::string& name) { return std::string(VALIDATE_TEST_PLUGINS) + "/" + name + ".so"; }

ValidateRun validate(const std::string& args) {
    static int counter = 0;
    const std::string json = std::string(MV_BINARY_DIR) + "/tests/validate_" + std::to_string(getpid()) + "_" +
                             std::to_string(counter++) + ".json";
    std::remove(json.c_str());
    const std::string cmd = mv_testing::program(MVHOST_EXE) + " validate " + args + " --json " + json + " 2>&1";
    ValidateRun r;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.output.append(buf, n);
    const int status = pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream in(json);
    if (in) r.report = nlohmann::json::parse(in, nullptr, false);
    std::remove(json.c_str());
    return r;
}

// The check's entry in the report of the first plug-in, or null.
nlohmann::json check(const ValidateRun& r, const std::string& name) {
    if (!r.report.is_object()) return nullptr;
    for (const auto& c : r.report["plugins"][0]["checks"])
        if (c["name"] == name) return c;
    return nullptr;
}

bool any_failure_contains(const nlohmann::json& c, const std::string& text) {
    if (c.is_null()) return false;
    for (const auto& f : c["failures"])
        if (f.get<std::string>().find(text) != std::string::npos) return true;
    return false;
}

TEST(Validate, WellBehavedPluginPassesEveryCheck) {
    const ValidateRun r = validate(plugin("vt_good") + " --strictness 7 --seed 11");
    EXPECT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(r.report.is_object()) << r.output;
    EXPECT_TRUE(r.report["passed"].get<bool>());
    EXPECT_EQ(r.report["realtime_shim"].get<bool>(), kShimExpected);
    EXPECT_EQ(r.report["realtime_violations"], 0);
    EXPECT_EQ(r.report["seed"], 11);
    EXPECT_NE(r.output.find("seed 11"), std::string::npos);
    // Every check of strictness 7 ran and passed, the GUI ones on the SDK's empty GUI object.
    int ran = 0;
    for (const auto& c : r.report["plugins"][0]["checks"]) {
        ++ran;
        if (!kShimExpected && (c["name"] == "realtime" || c["name"] == "leaks")) EXPECT_EQ(c["status"], "skip");
        else EXPECT_EQ(c["status"], "pass") << c.dump();
    }
    EXPECT_EQ(ran, 17);
}

TEST(Validate, AllocationInProcessIsARealTimeViolation) {
    REQUIRE_SHIM();
    const ValidateRun r = validate(plugin("vt_allocates") + " --strictness 2 --seed 3 --check realtime");
    EXPECT_EQ(r.status, 1) << r.output;
    const auto c = check(r, "realtime");
    EXPECT_EQ(c["status"], "fail");
    EXPECT_TRUE(any_failure_contains(c, "real-time:")) << c.dump();
    EXPECT_TRUE(any_failure_contains(c, "allocation")) << c.dump();
    EXPECT_TRUE(any_failure_contains(c, "process_function")) << c.dump();
    EXPECT_GT(r.report["realtime_violations"].get<int>(), 0);
}

TEST(Validate, LockInProcessIsARealTimeViolation) {
    REQUIRE_SHIM();
    const ValidateRun r = validate(plugin("vt_locks") + " --strictness 2 --seed 3 --check realtime");
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_TRUE(any_failure_contains(check(r, "realtime"), "lock")) << r.output;
}

TEST(Validate, MemoryLostPerInstanceIsALeak) {
#if defined(__SANITIZE_ADDRESS__)
    // Without the shim, LeakSanitizer in each check's child finds the lost blocks.
    const ValidateRun asan = validate(plugin("vt_leak") + " --strictness 2 --seed 3 --check lifecycle");
    EXPECT_EQ(asan.status, 1) << asan.output;
    EXPECT_TRUE(any_failure_contains(check(asan, "lifecycle"), "LeakSanitizer found leaks")) << asan.output;
    return;
#endif
    REQUIRE_SHIM();
    const ValidateRun r = validate(plugin("vt_leak") + " --strictness 2 --seed 3 --check leaks --check lifecycle");
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_EQ(check(r, "leaks")["status"], "fail") << r.output;
    EXPECT_TRUE(any_failure_contains(check(r, "leaks"), "not freed"));
    EXPECT_EQ(check(r, "lifecycle")["status"], "pass");
}

TEST(Validate, NonFiniteOutputAndWritesOutsideTheCallAreCaught) {
    const ValidateRun r = validate(plugin("vt_output") + " --strictness 2 --seed 3 --check block_sizes");
    EXPECT_EQ(r.status, 1) << r.output;
    const auto c = check(r, "block_sizes");
    EXPECT_TRUE(any_failure_contains(c, "is NaN")) << c.dump();
    EXPECT_TRUE(any_failure_contains(c, "outside the call's range") || any_failure_contains(c, "guard area")) << c.dump();
}

TEST(Validate, MalformedPinTableIsReportedPinByPin) {
    const ValidateRun r = validate(plugin("vt_pin_table") + " --strictness 1 --seed 3 --check pin_table");
    EXPECT_EQ(r.status, 1) << r.output;
    const auto c = check(r, "pin_table");
    EXPECT_TRUE(any_failure_contains(c, "pin 1 \"Gain\": IO_PATCH_STORE without")) << c.dump();
    EXPECT_TRUE(any_failure_contains(c, "IO_DUPLICATES on a pin that is not the last")) << c.dump();
    EXPECT_TRUE(any_failure_contains(c, "does not parse")) << c.dump();
}

TEST(Validate, GuiThatForgetsItsStoredValuesFailsTheRoundTrip) {
    const ValidateRun good = validate(plugin("vt_good") + " --strictness 3 --seed 4 --check gui_state");
    EXPECT_EQ(good.status, 0) << good.output;
    EXPECT_TRUE(check(good, "gui_state")["notes"][0].get<std::string>().find("1 GUI-side stored pins") != std::string::npos)
        << good.output;
    const ValidateRun r = validate(plugin("vt_forgets_state") + " --strictness 3 --seed 4 --check gui_state");
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_TRUE(any_failure_contains(check(r, "gui_state"), "stored pin 4 \"Colour\" was")) << r.output;
    EXPECT_TRUE(any_failure_contains(check(r, "gui_state"), "the restored instance made it 7")) << r.output;
}

TEST(Validate, ExtraExportIsNamed) {
    const ValidateRun r = validate(plugin("vt_extra_export") + " --strictness 1 --seed 3 --check exports --check libraries");
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_TRUE(any_failure_contains(check(r, "exports"), "validator_test_extra_symbol")) << r.output;
    EXPECT_EQ(check(r, "libraries")["status"], "pass");
}

TEST(Validate, CrashEndsOnlyTheCheckThatCausedIt) {
    const ValidateRun r = validate(plugin("vt_crash") + " --strictness 3 --seed 3 --check midi_fuzz --check pin_table");
    EXPECT_EQ(r.status, 1) << r.output;
    // Killed by SIGSEGV, or ended by a sanitizer that caught it first.
    const auto c = check(r, "midi_fuzz");
    EXPECT_TRUE(any_failure_contains(c, "signal 11") || any_failure_contains(c, "exited with status")) << r.output;
    EXPECT_EQ(check(r, "pin_table")["status"], "pass");
}

TEST(Validate, HangIsStoppedByTheTimeout) {
    const ValidateRun r = validate(plugin("vt_hangs") + " --strictness 2 --seed 3 --timeout 1 --check block_sizes --check exports");
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_TRUE(any_failure_contains(check(r, "block_sizes"), "timed out after 1 s")) << r.output;
    EXPECT_EQ(check(r, "exports")["status"], "pass");
}

TEST(Validate, SameSeedSameResult) {
    const ValidateRun a = validate(plugin("vt_output") + " --strictness 2 --seed 77 --check block_sizes");
    const ValidateRun b = validate(plugin("vt_output") + " --strictness 2 --seed 77 --check block_sizes");
    ASSERT_TRUE(a.report.is_object() && b.report.is_object());
    EXPECT_EQ(check(a, "block_sizes")["failures"], check(b, "block_sizes")["failures"]);
}

TEST(Validate, RepeatRunsWithFollowingSeeds) {
    const ValidateRun r = validate(plugin("vt_good") + " --strictness 1 --seed 5 --repeat 2 --check lifecycle");
    EXPECT_EQ(r.status, 0) << r.output;
    const auto& checks = r.report["plugins"][0]["checks"];
    ASSERT_EQ(checks.size(), 2u);
    EXPECT_EQ(checks[0]["seed"], 5);
    EXPECT_EQ(checks[1]["seed"], 6);
}

TEST(Validate, JunitReportNamesEachCheck) {
    const std::string xml = std::string(MV_BINARY_DIR) + "/tests/validate_junit_" + std::to_string(getpid()) + ".xml";
    const ValidateRun r = validate(plugin("vt_extra_export") + " --strictness 1 --seed 3 --check exports --check load --junit " + xml);
    EXPECT_EQ(r.status, 1);
    std::ifstream in(xml);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::remove(xml.c_str());
    EXPECT_NE(text.find("<testsuite name=\"vt_extra_export.so\" tests=\"2\" failures=\"1\""), std::string::npos) << text;
    EXPECT_NE(text.find("<testcase classname=\"validate.vt_extra_export.so\" name=\"load\""), std::string::npos);
    EXPECT_NE(text.find("<failure message=\"exports validator_test_extra_symbol"), std::string::npos) << text;
}

TEST(Validate, BadInputsGiveAClearErrorAndStatus) {
    // Not an ELF file: "load" fails once with the reason, the later checks are skipped for it;
    // "exports" on its own reads the file and says what it is.
    const std::string fake = std::string(MV_BINARY_DIR) + "/tests/validate_not_a_plugin.so";
    std::ofstream(fake) << "not a library\n";
    const ValidateRun r = validate(fake + " --strictness 1 --seed 1");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(any_failure_contains(check(r, "load"), "dlopen")) << r.output;
    EXPECT_EQ(check(r, "exports")["status"], "skip") << r.output;
    EXPECT_NE(r.output.find(": 0 passed, 1 failed, "), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("SKIP the other "), std::string::npos) << r.output;
    const ValidateRun alone = validate(fake + " --strictness 1 --seed 1 --check exports");
    EXPECT_TRUE(any_failure_contains(check(alone, "exports"), "not an ELF file")) << alone.output;
    // A library cut short: its section headers lie past the end of the file.
    {
        std::ifstream whole(plugin("vt_good"), std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(whole)), std::istreambuf_iterator<char>());
        std::ofstream(fake, std::ios::binary) << bytes.substr(0, 200);
    }
    const ValidateRun cut = validate(fake + " --strictness 1 --seed 1 --check exports");
    EXPECT_EQ(cut.status, 1);
    EXPECT_TRUE(any_failure_contains(check(cut, "exports"), "section headers outside the file")) << cut.output;
    std::remove(fake.c_str());
    // A missing file, a strictness outside 1..10 and an unknown check are usage errors.
    EXPECT_NE(validate("/nonexistent/plugin.so").status, 0);
    EXPECT_NE(validate(plugin("vt_good") + " --strictness 11").status, 0);
    const ValidateRun unknown = validate(plugin("vt_good") + " --check no_such_check");
    EXPECT_EQ(unknown.status, 1);
    EXPECT_NE(unknown.output.find("unknown check 'no_such_check'"), std::string::npos);
}

}  // namespace
