// What a check sees while it runs in its child process: the plug-in, the seed and strictness, a
// random source, and the channel back to the validator for failures and notes.
#pragma once

#include <cstdint>
#include <random>
#include <string>

namespace mvh::validate {

class CheckContext {
public:
    CheckContext(std::string path, int strictness, uint32_t seed, int out_fd);

    const std::string& path() const { return m_path; }
    int strictness() const { return m_strictness; }
    uint32_t seed() const { return m_seed; }
    std::mt19937& rng() { return m_rng; }

    // A failure of the check; the first few are reported in full, the rest are counted.
    void fail(const std::string& message);
    // Information for the report (a figure, why something was not run).
    void note(const std::string& message);
    // The whole check did not apply; the validator reports it as skipped, not passed.
    void skip(const std::string& reason);
    int failures() const { return m_failures; }
    int out_fd() const { return m_fd; }

    // Checks that drive audio to look for real-time faults report them; the others leave that to
    // them, so one fault is not counted once per check.
    void watch_realtime() { m_watch_realtime = true; }
    bool watching_realtime() const { return m_watch_realtime; }

    // Random helpers.
    int uniform(int lo, int hi);  // inclusive
    double uniform_real(double lo, double hi);
    bool chance(double p);

    // Flushes the count of failures not reported one by one.
    void finish();

private:
    void send(char kind, const std::string& message);
    std::string m_path;
    int m_strictness;
    uint32_t m_seed;
    std::mt19937 m_rng;
    int m_fd;
    int m_failures = 0;
    bool m_watch_realtime = false;
};

}  // namespace mvh::validate
