// Output files in the Windows build: the bytes go to a temporary file beside the target, which
// replaces it in one step on commit (MoveFileEx), so a failed or interrupted write never leaves a
// half-written file. Devices (NUL, CON) are written in place; folders are refused.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <mutex>
#include <set>

#include "mvp/output_file.h"

namespace mvp {

namespace {

std::mutex g_temps_mutex;
std::set<std::string>* g_temps = new std::set<std::string>;
std::string* g_interrupt_line = new std::string;

std::string last_error_text(DWORD code) {
    char buffer[256] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buffer,
                   sizeof buffer, nullptr);
    std::string text(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '.')) text.pop_back();
    return text;
}

bool is_device_name(const std::string& path) {
    std::string base = path.substr(path.find_last_of("/\\") + 1);
    const size_t dot = base.find('.');
    if (dot != std::string::npos) base.resize(dot);
    for (char& c : base) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return base == "NUL" || base == "CON" || base == "PRN" || base == "AUX";
}

void remember(const std::string& temp, bool keep) {
    std::lock_guard lock(g_temps_mutex);
    if (keep) g_temps->insert(temp);
    else g_temps->erase(temp);
}

void on_interrupt(int signal_number) {
    for (const std::string& temp : *g_temps) DeleteFileA(temp.c_str());
    if (!g_interrupt_line->empty()) {
        const std::string line = *g_interrupt_line + "\n";
        _write(2, line.data(), static_cast<unsigned>(line.size()));
    }
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

}  // namespace

OutputFile::~OutputFile() { abandon(); }

bool OutputFile::open(const std::string& path, std::string* error, Access) {
    abandon();
    auto fail = [&](const std::string& why) {
        if (error) *error = path + ": " + why;
        return false;
    };
    if (path.empty()) return fail("no file name");
    m_path = m_target = path;
    m_write_errno = 0;
    if (is_device_name(path)) {
        m_fd = _open(path.c_str(), _O_WRONLY | _O_BINARY);
        if (m_fd < 0) return fail(std::string("cannot write: ") + std::strerror(errno));
        m_in_place = true;
        return true;
    }
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) return fail("cannot write: Is a directory");
        if (attributes & FILE_ATTRIBUTE_READONLY) return fail("cannot write: Permission denied");
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string temp =
            path + ".part-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount() + attempt);
        m_fd = _open(temp.c_str(), _O_RDWR | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
        if (m_fd >= 0) {
            m_temp = temp;
            remember(temp, true);
            m_in_place = false;
            return true;
        }
        if (errno != EEXIST) return fail(std::string("cannot write: ") + std::strerror(errno));
    }
    return fail("cannot make a temporary file beside it");
}

bool OutputFile::write(const void* data, size_t size) {
    if (m_fd < 0) return false;
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const unsigned chunk = size > (1u << 30) ? (1u << 30) : static_cast<unsigned>(size);
        const int written = _write(m_fd, p, chunk);
        if (written <= 0) {
            m_write_errno = written < 0 ? errno : ENOSPC;
            return false;
        }
        p += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

bool OutputFile::commit(std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) *error = m_path + ": " + why;
        abandon();
        return false;
    };
    if (m_fd < 0) return fail("not open");
    if (m_write_errno) return fail(std::string("cannot write: ") + std::strerror(m_write_errno));
    if (_commit(m_fd) != 0 && !m_in_place) return fail(std::string("cannot write: ") + std::strerror(errno));
    _close(m_fd);
    m_fd = -1;
    if (m_in_place) return true;
    if (!MoveFileExA(m_temp.c_str(), m_target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const std::string why = last_error_text(GetLastError());
        DeleteFileA(m_temp.c_str());
        remember(m_temp, false);
        m_temp.clear();
        if (error) *error = m_path + ": cannot write: " + why;
        return false;
    }
    remember(m_temp, false);
    m_temp.clear();
    return true;
}

void OutputFile::abandon() {
    if (m_fd >= 0) _close(m_fd);
    m_fd = -1;
    if (!m_temp.empty()) {
        DeleteFileA(m_temp.c_str());
        remember(m_temp, false);
        m_temp.clear();
    }
}

bool write_output_file(const std::string& path, const void* data, size_t size, std::string* error) {
    OutputFile out;
    if (!out.open(path, error)) return false;
    if (!out.write(data, size)) {
        out.commit(error);
        return false;
    }
    return out.commit(error);
}

bool same_file(const std::string& a, const std::string& b) {
    auto identity = [](const std::string& path, BY_HANDLE_FILE_INFORMATION* info) {
        HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (h == INVALID_HANDLE_VALUE) return false;
        const bool ok = GetFileInformationByHandle(h, info);
        CloseHandle(h);
        return ok;
    };
    BY_HANDLE_FILE_INFORMATION x{}, y{};
    if (!identity(a, &x) || !identity(b, &y)) return false;
    return x.dwVolumeSerialNumber == y.dwVolumeSerialNumber && x.nFileIndexHigh == y.nFileIndexHigh &&
           x.nFileIndexLow == y.nFileIndexLow;
}

void remove_temporaries_on_interrupt(const std::string& line) {
    *g_interrupt_line = line;
    std::signal(SIGINT, on_interrupt);
    std::signal(SIGTERM, on_interrupt);
}

std::string temporary_name(const std::string& target_name, long name_max, const std::string& suffix) {
    if (name_max <= 0 || static_cast<long>(target_name.size() + suffix.size()) <= name_max) return target_name + suffix;
    size_t keep = name_max > static_cast<long>(suffix.size()) ? static_cast<size_t>(name_max) - suffix.size() : 0;
    while (keep > 0 && (static_cast<unsigned char>(target_name[keep]) & 0xC0) == 0x80) --keep;
    return target_name.substr(0, keep) + suffix;
}

}  // namespace mvp
