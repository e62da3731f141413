// Bounded whole-file reads of regular files.
#include "file_bytes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tallisk {

namespace {

#if defined(_WIN32)
// Windows opens files as text (CR LF rewritten) unless told otherwise, and has no FIFOs.
constexpr int kOpenFlags = O_RDONLY | O_BINARY;
#else
// Non-blocking, so that opening a FIFO with no writer returns at once instead of waiting.
constexpr int kOpenFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC;
#endif

// Reads up to `want` more bytes onto the end of `bytes`; false on a read error.
bool read_more(int fd, std::vector<uint8_t>& bytes, size_t want) {
    uint8_t chunk[65536];
    while (want > 0) {
        const ssize_t n = ::read(fd, chunk, std::min(sizeof chunk, want));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        bytes.insert(bytes.end(), chunk, chunk + n);
        want -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

std::optional<std::vector<uint8_t>> read_file_bytes(const std::string& path, size_t max_bytes,
                                                    std::initializer_list<std::string_view> magics) {
    const int fd = ::open(path.c_str(), kOpenFlags);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    std::vector<uint8_t> bytes;
    size_t head = 0;
    for (std::string_view m : magics) head = std::max(head, m.size());
    head = std::min(head, max_bytes);
    bool ok = read_more(fd, bytes, head);
    if (ok && head > 0) {
        const bool known = std::any_of(magics.begin(), magics.end(), [&](std::string_view m) {
            return bytes.size() >= m.size() && std::memcmp(bytes.data(), m.data(), m.size()) == 0;
        });
        if (!known) {
            ::close(fd);
            return bytes;
        }
    }
    if (ok) ok = read_more(fd, bytes, max_bytes - bytes.size());
    ::close(fd);
    if (!ok) return std::nullopt;
    return bytes;
}

}  // namespace tallisk
