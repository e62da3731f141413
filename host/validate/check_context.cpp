// Messages from a check's child process travel as lines "F text", "I text" or "S text" on a pipe.
#include "check_context.h"

#include "sandbox.h"

#ifdef _WIN32
#include "mvp/scripted_user.h"
#endif

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace mvh::validate {

namespace {
constexpr int kReportedFailures = 12;
}

CheckContext::CheckContext(std::string path, int strictness, uint32_t seed, int out_fd)
    : m_path(std::move(path)), m_strictness(strictness), m_seed(seed), m_rng(seed), m_fd(out_fd) {}

void CheckContext::send(char kind, const std::string& message) {
    std::string line;
    line.reserve(message.size() + 3);
    line += kind;
    line += ' ';
    for (char c : message) line += (c == '\n' ? ' ' : c);
    line += '\n';
    const char* p = line.data();
    size_t left = line.size();
    while (left > 0) {
#ifdef _WIN32
        const int n = _write(m_fd, p, static_cast<unsigned>(left));
#else
        const ssize_t n = ::write(m_fd, p, left);
#endif
        if (n <= 0) return;
        p += n;
        left -= static_cast<size_t>(n);
    }
}

void CheckContext::fail(const std::string& message) {
    if (++m_failures <= kReportedFailures) send('F', message);
}

void CheckContext::note(const std::string& message) { send('I', message); }

void CheckContext::skip(const std::string& reason) { send('S', reason); }

void CheckContext::finish() {
    if (m_failures > kReportedFailures)
        send('F', "... and " + std::to_string(m_failures - kReportedFailures) + " more failures");
}

#ifdef _WIN32
void install_default_user() {
    static mvp::ScriptedUser user;
    mvp::set_user(&user);
}
#endif

void read_report_lines(std::string& pending, CheckResult& r) {
    size_t nl;
    while ((nl = pending.find('\n')) != std::string::npos) {
        const std::string line = pending.substr(0, nl);
        pending.erase(0, nl + 1);
        if (line.size() < 2) continue;
        const std::string text = line.substr(2);
        if (line[0] == 'F') r.failures.push_back(text);
        else if (line[0] == 'S') {
            r.status = "skip";
            r.notes.push_back(text);
        } else r.notes.push_back(text);
    }
}

int CheckContext::uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(m_rng); }

double CheckContext::uniform_real(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(m_rng); }

bool CheckContext::chance(double p) { return std::bernoulli_distribution(p)(m_rng); }

}  // namespace mvh::validate
