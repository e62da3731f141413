// fork, a pipe for the child's report lines, poll with a deadline, and the child's fate.
#include "sandbox.h"

#include <poll.h>
#include <signal.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#define MV_VALIDATE_LSAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/lsan_interface.h>
#define MV_VALIDATE_LSAN 1
#endif
#endif

namespace mvh::validate {

CheckResult run_check(const Check& check, const std::string& path, int strictness, uint32_t seed, double timeout_s) {
    CheckResult r = CheckResult::of(path, check.name, seed, "pass");
    const auto t0 = std::chrono::steady_clock::now();
    int fds[2];
    if (pipe(fds) != 0) {
        r.status = "fail";
        r.failures.push_back(std::string("cannot create a pipe: ") + strerror(errno));
        return r;
    }
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        r.status = "fail";
        r.failures.push_back(std::string("cannot fork: ") + strerror(errno));
        return r;
    }
    if (pid == 0) {
        close(fds[0]);
        signal(SIGPIPE, SIG_IGN);
        CheckContext ctx(path, strictness, seed, fds[1]);
        check.run(ctx);
#ifdef MV_VALIDATE_LSAN
        // The child ends with _exit, which skips LeakSanitizer's own check at exit.
        if (__lsan_do_recoverable_leak_check() != 0) ctx.fail("LeakSanitizer found leaks (its report is on stderr)");
#endif
        ctx.finish();
        std::fflush(stdout);
        std::fflush(stderr);
        close(fds[1]);
        _exit(0);
    }
    close(fds[1]);
    std::string pending;
    bool timed_out = false;
    const auto deadline = t0 + std::chrono::duration<double>(timeout_s);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) {
            timed_out = true;
            break;
        }
        pollfd p{fds[0], POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(std::min<long long>(left, 1000)));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) continue;
        char buf[4096];
        const ssize_t n = read(fds[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        pending.append(buf, static_cast<size_t>(n));
        read_report_lines(pending, r);
    }
    close(fds[0]);
    if (timed_out) kill(pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    r.ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    if (timed_out) {
        r.failures.push_back("timed out after " + std::to_string(static_cast<int>(timeout_s)) + " s");
    } else if (WIFSIGNALED(status)) {
        r.failures.push_back(std::string("the check's process died of signal ") + std::to_string(WTERMSIG(status)) +
                             " (" + strsignal(WTERMSIG(status)) + ")");
    } else if (WIFEXITED(status) && WEXITSTATUS(status) != 0) {
        r.failures.push_back("the check's process exited with status " + std::to_string(WEXITSTATUS(status)));
    }
    if (!r.failures.empty()) r.status = "fail";
    return r;
}

}  // namespace mvh::validate
