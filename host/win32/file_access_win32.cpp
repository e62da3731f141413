// Output-file header access on Windows: the platform opens its temporary files for reading and
// writing, so a duplicate of the descriptor can read the header back. A device gets none.
#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "file_access.h"

namespace mvh {

int reopen_read_write(int fd) {
    if (_isatty(fd)) return -1;
    return _dup(fd);
}
void close_descriptor(int fd) { _close(fd); }

long long read_at(int fd, void* data, size_t size, int64_t offset) {
    if (_lseeki64(fd, offset, SEEK_SET) != offset) return -1;
    return _read(fd, data, static_cast<unsigned>(size));
}

bool write_at(int fd, const void* data, size_t size, int64_t offset) {
    if (_lseeki64(fd, offset, SEEK_SET) != offset) return false;
    return _write(fd, data, static_cast<unsigned>(size)) == static_cast<int>(size);
}

void set_binary(int fd) { _setmode(fd, _O_BINARY); }

}  // namespace mvh
