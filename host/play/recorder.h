// Recording for `mvhost play`: the audio thread hands frames to a ring buffer, a writer thread of
// its own drains it into a WAV file, so that the callback never touches the disk.
#pragma once

#include <jack/ringbuffer.h>
#include <sndfile.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "mvp/output_file.h"

namespace mvh {

class Recorder {
public:
    // Opens `path` as a streamed output of `outs` (a temporary file beside it, put in place with
    // the session's other outputs when the set is committed). Null with *error when the file
    // cannot be made.
    static std::unique_ptr<Recorder> open(mvp::OutputSet& outs, const std::string& path, int sample_rate, int channels,
                                          std::string* error);
    ~Recorder();

    // [audio] Frames of interleaved channels. What does not fit is counted, never waited for.
    void push(const float* frames, size_t count);
    // [gui] Stops the writer after it has written everything pushed and completes the file (its
    // header as render writes it), ready for the set's commit. False with *error when a write
    // failed.
    bool finish(std::string* error);

    uint64_t frames_written() const { return m_written.load(std::memory_order_relaxed); }
    uint64_t frames_lost() const { return m_lost.load(std::memory_order_relaxed); }

private:
    Recorder() = default;
    void writer();

    std::string m_path;
    mvp::OutputFile* m_out = nullptr;  // the WAV file, owned by the session's OutputSet
    int m_channels = 1;
    SNDFILE* m_file = nullptr;
    jack_ringbuffer_t* m_ring = nullptr;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_write_failed{false};
    std::atomic<uint64_t> m_written{0};
    std::atomic<uint64_t> m_lost{0};
    bool m_finished = false;
};

}  // namespace mvh
