// Output-file header access on Linux: the output may be open for writing only, so it is opened
// again for reading through /proc.
#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "file_access.h"

namespace mvh {

int reopen_read_write(int fd) { return ::open(("/proc/self/fd/" + std::to_string(fd)).c_str(), O_RDWR | O_CLOEXEC); }
void close_descriptor(int fd) { ::close(fd); }
long long read_at(int fd, void* data, size_t size, int64_t offset) { return pread(fd, data, size, offset); }
bool write_at(int fd, const void* data, size_t size, int64_t offset) {
    return pwrite(fd, data, size, offset) == static_cast<ssize_t>(size);
}

void set_binary(int) {}

}  // namespace mvh
