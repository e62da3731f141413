// libFuzzer target: the standard MIDI file reader. It reads from a path, so each input is written
// to a file of this process first. A file it cannot use must give PatchError, nothing else; what it
// accepts comes in time order with channel messages only.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "mvhost/patch.h"

namespace {

const std::string& scratch_path() {
    static const std::string path = [] {
        const char* dir = getenv("TMPDIR");
        return std::string(dir && *dir ? dir : "/tmp") + "/mv_fuzz_midi_" + std::to_string(getpid()) + ".mid";
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = scratch_path();
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) abort();
    if (size && fwrite(data, 1, size, f) != size) abort();
    fclose(f);
    try {
        const std::vector<mvh::MidiFileEvent> events = mvh::read_midi_file(path);
        double last = 0.0;
        for (const mvh::MidiFileEvent& e : events) {
            if (!(e.seconds >= last)) abort();
            last = e.seconds;
            const int status = e.word & 0xff;
            if (status < 0x80 || status >= 0xf0) abort();
        }
    } catch (const mvh::PatchError&) {
    }
    remove(path.c_str());
    return 0;
}
