// A screen and a sound server of the tests' own: Xvfb on a display it picks itself and a JACK
// server on the dummy backend under a unique name, both stopped by their process ids. Then
// `mvhost play` started as a person would start it, and driven with xdotool.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace live_test {

struct Rect {
    int x = 0, y = 0, w = 0, h = 0;
};

// Starts `argv` with stdout to `out_fd` (-1: /dev/null), stderr to `err_path` (empty:
// /dev/null) and stdin from `in_fd` (-1: the test's own). Returns the child's process id, or -1.
pid_t spawn(const std::vector<std::string>& argv, int out_fd, const std::string& err_path, int in_fd = -1);
// Waits for `pid` up to `seconds`; returns its exit status, or -1 on timeout (the child is then
// stopped and reaped).
int wait_exit(pid_t pid, double seconds);
// Stops a process the test started (SIGTERM, SIGKILL after the grace time) and reaps it.
void stop(pid_t pid, double grace_seconds = 5);
// Runs a command to completion (xdotool, import); its exit status.
int run(const std::vector<std::string>& argv, double timeout_seconds = 20);
std::string read_file(const std::string& path);
// Runs a command to completion and returns what it wrote on stdout.
std::string output_of(const std::vector<std::string>& argv, double timeout_seconds = 20);

// Asks the window whose title matches `name` (xdotool's pattern) to close, as a window manager's
// close button does (WM_DELETE_WINDOW). False when no such window is on the screen.
bool ask_window_to_close(const std::string& name);

class Screen {
public:
    // Xvfb and jackd; sets DISPLAY and JACK_DEFAULT_SERVER for every child started after.
    bool start(std::string* error);
    void stop_all();
    const std::string& display() const { return m_display; }
    const std::string& server() const { return m_server; }

private:
    pid_t m_xvfb = -1, m_jackd = -1;
    std::string m_display, m_server;
};

// One `mvhost play` process.
class Play {
public:
    Play(const std::vector<std::string>& args, const std::string& err_path);
    ~Play();
    bool started() const { return m_pid > 0; }
    pid_t pid() const { return m_pid; }
    // Reads the `panel NAME X Y W H` and `control INSTANCE.PIN X Y W H` lines up to `ready`
    // (false when it does not come within `seconds`).
    bool wait_ready(double seconds);
    const std::map<std::string, Rect>& panels() const { return m_panels; }
    const std::map<std::string, Rect>& controls() const { return m_controls; }
    // The other listed places by kind: "number" (a slider's number field), "widget" (keyboard,
    // panic, status, message).
    Rect at(const std::string& kind, const std::string& name) const {
        auto k = m_other.find(kind);
        if (k == m_other.end()) return {};
        auto r = k->second.find(name);
        return r == k->second.end() ? Rect{} : r->second;
    }
    int wait_exit(double seconds);  // exit status or -1
    std::string err() const { return read_file(m_err); }

private:
    pid_t m_pid = -1;
    int m_out = -1;
    std::string m_err, m_buffer;
    std::map<std::string, Rect> m_panels, m_controls;
    std::map<std::string, std::map<std::string, Rect>> m_other;
    bool m_exited = false;
};

// Samples of a float WAV file, channel 0; false when it cannot be read.
bool read_wav(const std::string& path, std::vector<float>* samples, int* rate, int* channels, long* frames);
// Frequency from upward zero crossings (interpolated) over samples [from, to).
double zero_crossing_hz(const std::vector<float>& x, size_t from, size_t to, int rate);
// Magnitude of the frequency `hz` over samples [from, to) (Goertzel).
double magnitude_at(const std::vector<float>& x, size_t from, size_t to, int rate, double hz);
// The longest run of exact zeros in [from, to).
size_t longest_silence(const std::vector<float>& x, size_t from, size_t to);

}  // namespace live_test
