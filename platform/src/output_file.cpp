// Output files that never clobber what their path names (see mvp/output_file.h).
#include "mvp/output_file.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <vector>

namespace mvp {

namespace {

// Temporary files a signal handler may have to remove. The handler can only read fixed memory,
// so the names live in static slots claimed and released with atomics.
constexpr int kSlots = 32;
enum SlotState : int { kFree = 0, kClaimed = 1, kLive = 2 };
struct Slot {
    std::atomic<int> state{kFree};
    char path[PATH_MAX];
};
Slot g_slots[kSlots];
char g_line[512];
std::atomic<size_t> g_line_size{0};

int claim_slot(const std::string& path) {
    if (path.size() >= PATH_MAX) return -1;
    for (int k = 0; k < kSlots; ++k) {
        int expected = kFree;
        if (g_slots[k].state.compare_exchange_strong(expected, kClaimed)) {
            std::memcpy(g_slots[k].path, path.c_str(), path.size() + 1);
            g_slots[k].state.store(kLive);
            return k;
        }
    }
    return -1;  // more live outputs than slots: that one is just not cleaned up on a signal
}

void release_slot(int& slot) {
    if (slot >= 0) g_slots[slot].state.store(kFree);
    slot = -1;
}

extern "C" void remove_temporaries_and_die(int sig) {
    const int saved = errno;
    for (Slot& s : g_slots)
        if (s.state.load() == kLive) ::unlink(s.path);
    const size_t n = g_line_size.load();
    if (n > 0 && ::write(STDERR_FILENO, g_line, n) < 0) {
        // Nothing more can be done about a closed stderr in a handler.
    }
    errno = saved;
    // SA_RESETHAND restored the default action; the signal is blocked until this handler returns,
    // so the process then ends by it, as it would have without the handler.
    ::raise(sig);
}

std::string reason(int err) { return std::strerror(err); }

std::string folder_of(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return std::string();
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string name_of(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Follows symlinks to the path that will finally hold the output. *exists is false for a path
// (or a dangling symlink's target) that does not exist yet.
bool resolve(const std::string& path, std::string* out, struct stat* st, bool* exists, int* err) {
    std::string p = path;
    for (int hops = 0; hops < 40; ++hops) {
        if (::lstat(p.c_str(), st) != 0) {
            if (errno != ENOENT) {
                *err = errno;
                return false;
            }
            *exists = false;
            *out = p;
            return true;
        }
        if (!S_ISLNK(st->st_mode)) {
            *exists = true;
            *out = p;
            return true;
        }
        std::vector<char> link(PATH_MAX + 1);
        const ssize_t n = ::readlink(p.c_str(), link.data(), link.size() - 1);
        if (n < 0) {
            *err = errno;
            return false;
        }
        const std::string to(link.data(), static_cast<size_t>(n));
        if (to.empty() || to[0] == '/') {
            p = to;
        } else {
            const std::string dir = folder_of(p);
            p = dir.empty() ? to : (dir == "/" ? "/" + to : dir + "/" + to);
        }
    }
    *err = ELOOP;
    return false;
}

uint64_t next_random() {
    static std::atomic<uint64_t> counter{0};
    uint64_t x = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                 (static_cast<uint64_t>(::getpid()) << 32) ^ (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull);
    // splitmix64: spreads the bits so that names made in one tick still differ.
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// An unnamed file for a spool: nothing is left behind however the process ends.
int unnamed_file() {
    const char* env = ::getenv("TMPDIR");
    const std::string dir = env && *env ? env : "/tmp";
#ifdef O_TMPFILE
    const int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) return fd;
#endif
    std::string name = dir + "/mvp-spool-XXXXXX";
    const int tmp = ::mkstemp(name.data());
    if (tmp >= 0) ::unlink(name.c_str());
    return tmp;
}

bool write_all(int fd, const void* data, size_t size, int* err) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            *err = n < 0 ? errno : EIO;
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

std::string temporary_name(const std::string& target_name, long name_max, const std::string& suffix) {
    const size_t room = name_max > 0 && static_cast<size_t>(name_max) > suffix.size()
                            ? static_cast<size_t>(name_max) - suffix.size()
                            : 0;
    size_t cut = std::min(target_name.size(), room);
    // Never split a UTF-8 sequence: back up to the byte that starts one.
    if (cut < target_name.size())
        while (cut > 0 && (static_cast<unsigned char>(target_name[cut]) & 0xC0) == 0x80) --cut;
    return target_name.substr(0, cut) + suffix;
}

OutputFile::~OutputFile() { abandon(); }

bool OutputFile::open(const std::string& path, std::string* error, Access access) {
    abandon();
    m_path = path;
    m_write_errno = 0;
    auto fail = [&](const std::string& why) {
        if (error) *error = path + ": " + why;
        abandon();
        return false;
    };
    if (path.empty()) return fail("no file name given");
    struct stat st {};
    bool exists = false;
    int err = 0;
    if (!resolve(path, &m_target, &st, &exists, &err)) return fail("cannot write: " + reason(err));

    if (exists && (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode))) {
        // Devices and FIFOs are written where they are: replacing them would destroy them.
        m_fd = ::open(m_target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
        if (m_fd < 0) return fail("cannot write: " + reason(errno));
        m_in_place = true;
        if (access == Access::Seekable && ::lseek(m_fd, 0, SEEK_CUR) < 0) {
            m_device_fd = m_fd;
            m_fd = unnamed_file();
            if (m_fd < 0) return fail("cannot make a temporary file: " + reason(errno));
        }
        return true;
    }
    if (exists && S_ISDIR(st.st_mode)) return fail("is a folder");
    if (exists && !S_ISREG(st.st_mode)) return fail("is neither a file, a character device nor a FIFO");
    if (exists && ::faccessat(AT_FDCWD, m_target.c_str(), W_OK, AT_EACCESS) != 0)
        return fail("cannot write: " + reason(errno));
    const std::string name = name_of(m_target);
    if (name.empty() || name == "." || name == "..") return fail("is not a file name");

    const std::string dir = folder_of(m_target);
    long name_max = ::pathconf(dir.empty() ? "." : dir.c_str(), _PC_NAME_MAX);
    if (name_max <= 0) name_max = NAME_MAX;
    static const char kDigits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100 && m_fd < 0; ++attempt) {
        std::string suffix = ".part-";
        uint64_t r = next_random();
        for (int k = 0; k < 6; ++k, r /= 36) suffix += kDigits[r % 36];
        const std::string temp_name = temporary_name(name, name_max, suffix);
        m_temp = dir.empty() ? temp_name : (dir == "/" ? "/" + temp_name : dir + "/" + temp_name);
        // Mode 0666 lets the process umask decide, as for any new file.
        m_fd = ::open(m_temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (m_fd < 0 && errno != EEXIST) {
            m_temp.clear();
            return fail("cannot make a temporary file in " + (dir.empty() ? std::string(".") : dir) + ": " +
                        reason(errno));
        }
    }
    if (m_fd < 0) {
        m_temp.clear();
        return fail("cannot make a temporary file: " + reason(EEXIST));
    }
    m_slot = claim_slot(m_temp);
    return true;
}

bool OutputFile::write(const void* data, size_t size) {
    if (m_fd < 0) {
        if (m_write_errno == 0) m_write_errno = EBADF;
        return false;
    }
    int err = 0;
    if (m_write_errno == 0 && !write_all(m_fd, data, size, &err)) m_write_errno = err;
    return m_write_errno == 0;
}

bool OutputFile::commit(std::string* error) {
    auto fail = [&](int err) {
        if (error) *error = m_path + ": cannot write: " + reason(err);
        abandon();
        return false;
    };
    if (m_fd < 0) return fail(m_write_errno ? m_write_errno : EBADF);
    if (m_write_errno) return fail(m_write_errno);

    if (m_device_fd >= 0) {
        // Copy the spool out to the device or FIFO.
        if (::lseek(m_fd, 0, SEEK_SET) < 0) return fail(errno);
        std::vector<char> buffer(1 << 16);
        for (;;) {
            const ssize_t n = ::read(m_fd, buffer.data(), buffer.size());
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return fail(errno);
            if (n == 0) break;
            int err = 0;
            if (!write_all(m_device_fd, buffer.data(), static_cast<size_t>(n), &err)) return fail(err);
        }
        ::close(m_fd);
        m_fd = -1;
        const int device = m_device_fd;
        m_device_fd = -1;
        if (::close(device) != 0) return fail(errno);
        return true;
    }
    if (m_in_place) {
        const int fd = m_fd;
        m_fd = -1;
        if (::close(fd) != 0) return fail(errno);
        return true;
    }

    struct stat old {};
    if (::stat(m_target.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        mode_t mode = old.st_mode & 07777;
        struct stat mine {};
        if (::fstat(m_fd, &mine) == 0 && (mine.st_uid != old.st_uid || mine.st_gid != old.st_gid) &&
            ::fchown(m_fd, old.st_uid, old.st_gid) != 0)
            mode &= ~static_cast<mode_t>(S_ISUID | S_ISGID);  // never hand set-id bits to another owner
        if (::fchmod(m_fd, mode) != 0) return fail(errno);
    }
    if (::fsync(m_fd) != 0) return fail(errno);
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0) return fail(errno);
    if (::rename(m_temp.c_str(), m_target.c_str()) != 0) return fail(errno);
    release_slot(m_slot);
    m_temp.clear();
    return true;
}

void OutputFile::abandon() {
    if (m_fd >= 0) ::close(m_fd);
    if (m_device_fd >= 0) ::close(m_device_fd);
    m_fd = m_device_fd = -1;
    if (!m_temp.empty()) ::unlink(m_temp.c_str());
    m_temp.clear();
    release_slot(m_slot);
    m_in_place = false;
}

bool write_output_file(const std::string& path, const void* data, size_t size, std::string* error) {
    OutputFile out;
    if (!out.open(path, error)) return false;
    out.write(data, size);
    return out.commit(error);
}

bool same_file(const std::string& a, const std::string& b) {
    struct stat sa {}, sb {};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

void remove_temporaries_on_interrupt(const std::string& line) {
    g_line_size.store(0);
    const size_t n = std::min(line.size(), sizeof g_line - 1);
    std::memcpy(g_line, line.data(), n);
    g_line[n] = '\n';
    g_line_size.store(n + 1);
    struct sigaction sa {};
    sa.sa_handler = remove_temporaries_and_die;
    sigemptyset(&sa.sa_mask);
    // One handler at a time: a second signal waits until the first has cleaned up and re-raised.
    sigaddset(&sa.sa_mask, SIGINT);
    sigaddset(&sa.sa_mask, SIGTERM);
    sigaddset(&sa.sa_mask, SIGHUP);
    sa.sa_flags = SA_RESETHAND;
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        // A signal the process was started ignoring (nohup, a background job) stays ignored.
        struct sigaction old {};
        if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        ::sigaction(sig, &sa, nullptr);
    }
}



}  // namespace mvp
