// Input files read whole, from regular files only, up to a limit (see bounded_read.h).
#include "bounded_read.h"

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <cerrno>
#include <cstring>

#include "mvhost/patch.h"

#ifndef O_CLOEXEC
#define O_CLOEXEC 0
#endif
#ifndef O_NONBLOCK
#define O_NONBLOCK 0
#endif
#ifndef O_NOCTTY
#define O_NOCTTY 0
#endif
#ifndef O_BINARY
#define O_BINARY 0
#endif
#ifndef S_ISFIFO
#define S_ISFIFO(m) 0
#endif

namespace mvh {

void read_bounded_file(const std::string& path, size_t limit, const std::string& what, std::vector<unsigned char>* bytes) {
    // O_NONBLOCK: opening a FIFO that no one writes must not wait; a regular file ignores it.
    const int fd = ::open(path.c_str(), O_RDONLY | O_BINARY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) throw PatchError(path + ": cannot open the " + what + ": " + std::strerror(errno));
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0) throw PatchError(path + ": cannot read the " + what + ": " + std::strerror(errno));
    if (S_ISDIR(st.st_mode)) throw PatchError(path + ": is a folder, not a " + what);
    if (!S_ISREG(st.st_mode))
        throw PatchError(path + ": is " + (S_ISFIFO(st.st_mode) ? "a FIFO" : S_ISCHR(st.st_mode) ? "a device" : "not a regular file") +
                         "; a " + what + " is read from a regular file only");
    if (static_cast<unsigned long long>(st.st_size) > limit)
        throw PatchError(path + ": is larger than the " + std::to_string(limit >> 20) + " MiB a " + what + " may hold");
    bytes->clear();
    bytes->reserve(static_cast<size_t>(st.st_size));
    unsigned char buffer[1 << 16];
    for (;;) {
        const auto n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw PatchError(path + ": cannot read the " + what + ": " + std::strerror(errno));
        if (n == 0) break;
        // A file that grows while it is read is held to the same limit.
        if (bytes->size() + static_cast<size_t>(n) > limit)
            throw PatchError(path + ": is larger than the " + std::to_string(limit >> 20) + " MiB a " + what + " may hold");
        bytes->insert(bytes->end(), buffer, buffer + n);
    }
}

}  // namespace mvh
