// The check's process on Windows: this program started again for one check, an inherited pipe
// for its report lines, a reader thread, a deadline on the process, and its exit code.
#include "sandbox.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace mvh::validate {

namespace {

std::wstring widen(const std::string& s) {
    if (s.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

// One argument as CommandLineToArgvW reads it back: quoted, with backslashes before a quote doubled.
void append_argument(std::wstring& line, const std::wstring& arg) {
    line += L" \"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, L'\\');
    line += L'"';
}

std::string hex(unsigned long code) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08lX", code);
    return buf;
}

}  // namespace

CheckResult run_check(const Check& check, const std::string& path, int strictness, uint32_t seed, double timeout_s) {
    CheckResult r = CheckResult::of(path, check.name, seed, "pass");
    const auto t0 = std::chrono::steady_clock::now();
    auto fail = [&](const std::string& what) {
        r.status = "fail";
        r.failures.push_back(what + ": Windows error " + std::to_string(GetLastError()));
        return r;
    };

    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE read_end = nullptr, write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, &inherit, 0)) return fail("cannot create a pipe");
    SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);  // only the write end goes to the child

    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring line = L"\"" + std::wstring(self) + L"\" validate";
    for (const std::string& a : {std::string("--child-check"), std::string(check.name), std::string("--child-pipe"),
                                 std::to_string(reinterpret_cast<uintptr_t>(write_end)), std::string("--strictness"),
                                 std::to_string(strictness), std::string("--seed"), std::to_string(seed), path})
        append_argument(line, widen(a));

    std::fflush(stdout);
    std::fflush(stderr);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    const BOOL started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    CloseHandle(write_end);
    if (!started) {
        CloseHandle(read_end);
        return fail("cannot start the check's process");
    }
    CloseHandle(pi.hThread);

    // The reader ends when every write end is closed: the child exited or was ended.
    std::string received;
    std::thread reader([&] {
        char buf[4096];
        DWORD n = 0;
        while (ReadFile(read_end, buf, sizeof buf, &n, nullptr) && n > 0) received.append(buf, n);
    });
    const DWORD wait_ms = static_cast<DWORD>(timeout_s * 1000.0);
    const bool timed_out = WaitForSingleObject(pi.hProcess, wait_ms) == WAIT_TIMEOUT;
    if (timed_out) {
        TerminateProcess(pi.hProcess, 1);
        WaitForSingleObject(pi.hProcess, INFINITE);
    }
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    reader.join();
    CloseHandle(read_end);

    read_report_lines(received, r);
    r.ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    if (timed_out) {
        r.failures.push_back("timed out after " + std::to_string(static_cast<int>(timeout_s)) + " s");
    } else if (code >= 0xC0000000UL) {
        // An unhandled exception's code (0xC0000005 an access violation, 0xC0000409 a stack
        // buffer overrun or abort) is the process's exit code.
        r.failures.push_back("the check's process died of exception " + hex(code));
    } else if (code == 3) {
        r.failures.push_back("the check's process aborted (exit code 3)");
    } else if (code != 0) {
        r.failures.push_back("the check's process exited with status " + std::to_string(code));
    }
    if (!r.failures.empty()) r.status = "fail";
    return r;
}

void run_child_check(const Check& check, const std::string& path, int strictness, uint32_t seed,
                     const std::string& pipe_handle) {
    const auto handle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(std::strtoull(pipe_handle.c_str(), nullptr, 10)));
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    // A crash shows no Windows error box that nobody would answer: the parent reports it.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    if (fd < 0) std::_Exit(4);
    // The DLLs ask this program for its user before they ask Windows (host_user_export.cpp): a
    // user with no script takes every box's, menu's and dialog's default answer, as the Linux
    // build's platform does when nobody is installed, so no modal window waits for a person.
    install_default_user();
    CheckContext ctx(path, strictness, seed, fd);
    check.run(ctx);
    ctx.finish();
    std::fflush(stdout);
    std::fflush(stderr);
    _close(fd);
    // As the forked child does: no static destructors of the plug-in's libraries.
    std::_Exit(0);
}

}  // namespace mvh::validate
