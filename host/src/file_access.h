// Reading and rewriting an output file's header through its descriptor: pread/pwrite and a
// read-write reopen through /proc on Linux (file_access_posix.cpp), the C runtime's descriptors
// on Windows (win32/file_access_win32.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

namespace mvh {

// A second descriptor for the same open file, readable and writable, or -1 where there is none
// (a device written in place). The caller closes it with close_descriptor.
int reopen_read_write(int fd);
void close_descriptor(int fd);
// Bytes read at `offset` (-1 on error), and whether all `size` bytes were written at `offset`.
long long read_at(int fd, void* data, size_t size, int64_t offset);
bool write_at(int fd, const void* data, size_t size, int64_t offset);
// Bytes pass unchanged (Windows' C runtime would turn LF into CR LF on a text-mode descriptor).
void set_binary(int fd);

}  // namespace mvh
