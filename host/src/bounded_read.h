// Reading an input file whole, from regular files only and up to a stated size, so that a device
// (/dev/zero), a FIFO that never ends or a folder is refused at once instead of read forever.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace mvh {

// The largest patch and MIDI file the host reads (docs/reliability.md).
constexpr size_t kMaxPatchBytes = 64u << 20;
constexpr size_t kMaxMidiFileBytes = 16u << 20;

// Reads `path` into *bytes. `what` names the kind of file in messages ("patch file"). Throws
// PatchError: "PATH: cannot open the patch file: No such file or directory", "PATH: is a folder,
// not a patch file", "PATH: is larger than the 64 MiB a patch file may hold", ...
void read_bounded_file(const std::string& path, size_t limit, const std::string& what, std::vector<unsigned char>* bytes);

}  // namespace mvh
