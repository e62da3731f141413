// The recorder's ring buffer and writer thread.
#include "recorder.h"

#include "ring_sync.h"
#include "mvhost/render.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

namespace mvh {

namespace {
// About eleven seconds of stereo at 48 kHz: room for the writer to be held up by a slow disk.
constexpr size_t kRingBytes = size_t{1} << 22;
}  // namespace

std::unique_ptr<Recorder> Recorder::open(mvp::OutputSet& outs, const std::string& path, int sample_rate, int channels,
                                          std::string* error) {
    auto r = std::unique_ptr<Recorder>(new Recorder);
    r->m_path = path;
    r->m_out = outs.open_streamed(path, mvp::OutputFile::Access::Seekable, error);
    if (!r->m_out) return nullptr;
    r->m_channels = channels;
    SF_INFO info{};
    info.samplerate = sample_rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    r->m_file = sf_open_fd(r->m_out->fd(), SFM_WRITE, &info, 0);
    if (!r->m_file) {
        if (error) *error = path + ": cannot write the WAV file: " + sf_strerror(nullptr);
        return nullptr;
    }
    r->m_ring = jack_ringbuffer_create(kRingBytes);
    jack_ringbuffer_mlock(r->m_ring);
    r->m_thread = std::thread([p = r.get()] { p->writer(); });
    return r;
}

Recorder::~Recorder() {
    if (!m_finished) {
        m_stop.store(true, std::memory_order_release);
        if (m_thread.joinable()) m_thread.join();
        if (m_file) sf_close(m_file);
        m_out->abandon();
    }
    if (m_ring) jack_ringbuffer_free(m_ring);
}

void Recorder::push(const float* frames, size_t count) {
    const size_t frame_bytes = sizeof(float) * static_cast<size_t>(m_channels);
    const size_t fit = std::min(count, jack_ringbuffer_write_space(m_ring) / frame_bytes);
    ring_enter(m_ring);
    jack_ringbuffer_write(m_ring, reinterpret_cast<const char*>(frames), fit * frame_bytes);
    ring_leave(m_ring);
    if (fit < count) m_lost.fetch_add(count - fit, std::memory_order_relaxed);
}

void Recorder::writer() {
    const size_t frame_bytes = sizeof(float) * static_cast<size_t>(m_channels);
    std::vector<float> chunk(16384 * static_cast<size_t>(m_channels));
    for (;;) {
        // Read the flag first: whatever was pushed before it was set is then still drained below.
        const bool stopping = m_stop.load(std::memory_order_acquire);
        size_t frames = std::min(jack_ringbuffer_read_space(m_ring) / frame_bytes, chunk.size() / m_channels);
        if (frames > 0) {
            ring_enter(m_ring);
            jack_ringbuffer_read(m_ring, reinterpret_cast<char*>(chunk.data()), frames * frame_bytes);
            ring_leave(m_ring);
            if (sf_writef_float(m_file, chunk.data(), static_cast<sf_count_t>(frames)) != static_cast<sf_count_t>(frames))
                m_write_failed.store(true, std::memory_order_relaxed);
            m_written.fetch_add(frames, std::memory_order_relaxed);
            continue;
        }
        if (stopping) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

bool Recorder::finish(std::string* error) {
    m_stop.store(true, std::memory_order_release);
    if (m_thread.joinable()) m_thread.join();
    m_finished = true;
    // The header sox reads without a warning, as render writes it.
    const bool closed = sf_close(m_file) == 0 && extend_float_format_chunk(m_out->fd());
    m_file = nullptr;
    if (m_write_failed.load() || !closed) {
        m_out->abandon();
        if (error) *error = m_path + ": cannot write the WAV file";
        return false;
    }
    return true;
}

}  // namespace mvh
