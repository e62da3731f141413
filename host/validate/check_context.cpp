// Messages from a check's child process travel as lines "F text", "I text" or "S text" on a pipe.
#include "check_context.h"

#include <unistd.h>

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
        const ssize_t n = ::write(m_fd, p, left);
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

int CheckContext::uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(m_rng); }

double CheckContext::uniform_real(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(m_rng); }

bool CheckContext::chance(double p) { return std::bernoulli_distribution(p)(m_rng); }

}  // namespace mvh::validate
