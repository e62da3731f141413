// The test fixture's processes and the analysis of recorded sound.
#include "live_session.h"

#include <fcntl.h>
#include <jack/jack.h>
#include <poll.h>
#include <signal.h>
#include <sndfile.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <X11/Xlib.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace live_test {

namespace {

double since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

bool ask_window_to_close(const std::string& name) {
    const std::string ids = output_of({"xdotool", "search", "--onlyvisible", "--name", name});
    const unsigned long id = std::strtoul(ids.c_str(), nullptr, 10);
    if (id == 0) return false;
    Display* display = XOpenDisplay(nullptr);
    if (!display) return false;
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = id;
    ev.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    ev.xclient.data.l[1] = CurrentTime;
    const bool sent = XSendEvent(display, id, False, NoEventMask, &ev) != 0;
    XCloseDisplay(display);
    return sent;
}

pid_t spawn(const std::vector<std::string>& argv, int out_fd, const std::string& err_path, int in_fd) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (in_fd >= 0) posix_spawn_file_actions_adddup2(&actions, in_fd, STDIN_FILENO);
    if (out_fd >= 0) posix_spawn_file_actions_adddup2(&actions, out_fd, STDOUT_FILENO);
    else posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err_path.empty() ? "/dev/null" : err_path.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

int wait_exit(pid_t pid, double seconds) {
    const auto t0 = std::chrono::steady_clock::now();
    for (;;) {
        int status = 0;
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (r < 0) return -1;
        if (since(t0) > seconds) {
            stop(pid);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void stop(pid_t pid, double grace_seconds) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    const auto t0 = std::chrono::steady_clock::now();
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (since(t0) > grace_seconds) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

int run(const std::vector<std::string>& argv, double timeout_seconds) {
    const pid_t pid = spawn(argv, -1, "");
    return pid > 0 ? wait_exit(pid, timeout_seconds) : -1;
}

std::string output_of(const std::vector<std::string>& argv, double timeout_seconds) {
    int fds[2];
    if (pipe(fds) != 0) return "";
    const pid_t pid = spawn(argv, fds[1], "");
    close(fds[1]);
    std::string out;
    char buf[512];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    if (pid > 0) wait_exit(pid, timeout_seconds);
    return out;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool Screen::start(std::string* error) {
    // Xvfb picks a free display itself and writes its number when it is ready for clients.
    int fds[2];
    if (pipe(fds) != 0) return *error = "pipe failed", false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 9);
    const char* xargs[] = {"Xvfb", "-displayfd", "9", "-screen", "0", "1280x900x24", "-nolisten", "tcp", nullptr};
    const int rc = posix_spawnp(&m_xvfb, "Xvfb", &actions, nullptr, const_cast<char**>(xargs), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        m_xvfb = -1;
        return *error = "cannot start Xvfb", false;
    }
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    char c;
    while (poll(&p, 1, 15000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (number.empty()) return *error = "Xvfb did not report a display", false;
    m_display = ":" + number;
    setenv("DISPLAY", m_display.c_str(), 1);
    // In sanitizer builds the children report GTK's lifelong caches as leaks unless told.
    std::string lsan = "suppressions=" MV_SOURCE_DIR "/host/play/tests/lsan.supp";
    if (const char* old = std::getenv("LSAN_OPTIONS")) lsan = std::string(old) + ":" + lsan;
    setenv("LSAN_OPTIONS", lsan.c_str(), 1);
    // GTK's accessibility bridge would look for a session bus that the tests do not have.
    setenv("NO_AT_BRIDGE", "1", 1);
    // Nor is there a settings daemon for the file chooser to write its settings to.
    setenv("GSETTINGS_BACKEND", "memory", 1);

    // The JACK server table in shared memory has eight entries, and an entry whose server died
    // without cleaning up is taken back only by a server of the same name. So the names come from
    // a small fixed set: each test takes the first that no running server holds, and a name left
    // behind by a crashed server is reused instead of filling the table.
    setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
    jack_set_error_function(+[](const char*) {});
    jack_set_info_function(+[](const char*) {});
    for (int slot = 0; slot < 8; ++slot) {
        m_server = "mvplay-test-" + std::to_string(slot);
        setenv("JACK_DEFAULT_SERVER", m_server.c_str(), 1);
        m_jackd = spawn({"jackd", "-n", m_server, "--no-realtime", "-d", "dummy"}, -1, "");
        if (m_jackd <= 0) return *error = "cannot start jackd", false;
        const auto t0 = std::chrono::steady_clock::now();
        while (since(t0) < 20) {
            int status = 0;
            if (waitpid(m_jackd, &status, WNOHANG) == m_jackd) break;  // the name is taken: the next
            jack_status_t jack_status;
            jack_client_t* c = jack_client_open("probe", JackNoStartServer, &jack_status);
            if (c) {
                jack_client_close(c);
                // The answer may have come from another test's server of this name while ours was
                // still finding out that the name is taken.
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                if (waitpid(m_jackd, &status, WNOHANG) == 0) return true;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        if (kill(m_jackd, 0) == 0) break;  // running but not answering
        m_jackd = -1;
    }
    stop(m_jackd, 20);
    m_jackd = -1;
    return *error = "jackd did not come up", false;
}

void Screen::stop_all() {
    // A server killed before it has cleaned up keeps its entry in JACK's table: give it time.
    stop(m_jackd, 20);
    stop(m_xvfb);
    m_jackd = m_xvfb = -1;
}

Play::Play(const std::vector<std::string>& args, const std::string& err_path) : m_err(err_path) {
    int fds[2];
    if (pipe(fds) != 0) return;
    m_pid = spawn(args, fds[1], err_path);
    close(fds[1]);
    m_out = fds[0];
}

Play::~Play() {
    if (!m_exited && m_pid > 0) stop(m_pid);
    if (m_out >= 0) close(m_out);
}

bool Play::wait_ready(double seconds) {
    const auto t0 = std::chrono::steady_clock::now();
    for (;;) {
        size_t nl;
        while ((nl = m_buffer.find('\n')) != std::string::npos) {
            const std::string line = m_buffer.substr(0, nl);
            m_buffer.erase(0, nl + 1);
            if (line == "ready") return true;
            // KIND NAME X Y W H, where the name may hold blanks.
            std::vector<std::string> words;
            std::istringstream in(line);
            for (std::string w; in >> w;) words.push_back(w);
            if (words.size() < 6) continue;
            std::string name = words[1];
            for (size_t k = 2; k + 4 < words.size(); ++k) name += " " + words[k];
            const size_t n = words.size();
            const Rect r{std::atoi(words[n - 4].c_str()), std::atoi(words[n - 3].c_str()), std::atoi(words[n - 2].c_str()),
                         std::atoi(words[n - 1].c_str())};
            if (words[0] == "panel") m_panels[name] = r;
            else if (words[0] == "control") m_controls[name] = r;
            else m_other[words[0]][name] = r;
        }
        const double left = seconds - since(t0);
        if (left <= 0) return false;
        pollfd p{m_out, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left * 1000)) <= 0) return false;
        char buf[512];
        const ssize_t n = read(m_out, buf, sizeof buf);
        if (n <= 0) return false;
        m_buffer.append(buf, static_cast<size_t>(n));
    }
}

int Play::wait_exit(double seconds) {
    const int status = live_test::wait_exit(m_pid, seconds);
    m_exited = true;
    return status;
}

bool read_wav(const std::string& path, std::vector<float>* samples, int* rate, int* channels, long* frames) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f) return false;
    std::vector<float> all(static_cast<size_t>(info.frames * info.channels));
    sf_readf_float(f, all.data(), info.frames);
    sf_close(f);
    samples->resize(static_cast<size_t>(info.frames));
    for (sf_count_t k = 0; k < info.frames; ++k) (*samples)[static_cast<size_t>(k)] = all[static_cast<size_t>(k * info.channels)];
    *rate = info.samplerate;
    *channels = info.channels;
    *frames = static_cast<long>(info.frames);
    return true;
}

double zero_crossing_hz(const std::vector<float>& x, size_t from, size_t to, int rate) {
    double first = -1, last = -1;
    int count = 0;
    for (size_t k = from + 1; k < to && k < x.size(); ++k) {
        if (x[k - 1] < 0 && x[k] >= 0) {
            const double t = static_cast<double>(k - 1) + x[k - 1] / (x[k - 1] - x[k]);
            if (first < 0) first = t;
            else ++count;
            last = t;
        }
    }
    return count > 0 ? count * rate / (last - first) : 0.0;
}

double magnitude_at(const std::vector<float>& x, size_t from, size_t to, int rate, double hz) {
    const double w = 2.0 * M_PI * hz / rate;
    double re = 0, im = 0;
    for (size_t k = from; k < to && k < x.size(); ++k) {
        re += x[k] * std::cos(w * static_cast<double>(k));
        im -= x[k] * std::sin(w * static_cast<double>(k));
    }
    return 2.0 * std::hypot(re, im) / static_cast<double>(to - from);
}

size_t longest_silence(const std::vector<float>& x, size_t from, size_t to) {
    size_t best = 0, run = 0;
    for (size_t k = from; k < to && k < x.size(); ++k) {
        run = x[k] == 0.0f ? run + 1 : 0;
        best = std::max(best, run);
    }
    return best;
}

}  // namespace live_test
