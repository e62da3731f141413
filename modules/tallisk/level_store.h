// The table block the oscillator plays: 64 waveforms of 13458 samples, double-buffered per
// waveform so that the editor never writes into memory the audio thread may be reading.
//
// Protocol (one writer: the editor's thread; one reader: the oscillator of the same instance):
// - the reader brackets each block it renders with a LevelReader, which moves the reader epoch to
//   an odd value on entry and takes one snapshot of the 64 live-slot bits, then moves the epoch to
//   the next even value on exit; a whole block therefore plays one version of every waveform;
// - the writer fills the waveform's inactive slot, flips its live bit and notes the reader's epoch
//   at that moment;
// - before it writes into a slot it retired earlier, the writer waits until the reader has left the
//   block that was running at the retirement (at most one audio block; none when the reader idles).
// The reader never waits and never sees a half-written block; the samples are plain memory.
#pragma once

#include <atomic>
#include <cstdint>

#include "bank_layout.h"

namespace tallisk {

class LevelStore {
public:
    LevelStore();
    ~LevelStore();
    LevelStore(const LevelStore&) = delete;
    LevelStore& operator=(const LevelStore&) = delete;

    // Writer side. begin_replace returns the inactive block of waveform w (holding an older
    // version); commit_replace publishes it.
    float* begin_replace(int w);
    void commit_replace(int w);
    void replace(int w, const float* block);
    // The block a reader starting now would see (writer thread only).
    const float* published(int w) const;

    // How often the writer had to wait for the reader (benchmarks and the stress test).
    uint64_t waits() const { return m_waits; }

private:
    friend class LevelReader;
    friend struct LevelStoreTestAccess;  // the tests start the epoch near its wrap
    // Wider than the 32-bit epoch, so no epoch the reader reaches (it wraps after 2^31 blocks) can
    // be mistaken for "nothing retired".
    static constexpr uint64_t kNoPending = ~uint64_t{0};

    const float* slot(uint64_t live_bits, int w) const {
        const size_t s = (live_bits >> w) & 1u;
        return m_slots + (s * kWaveCount + static_cast<size_t>(w)) * kBlockSamples;
    }

    float* m_slots;  // 2 x 64 x 13458, owned
    std::atomic<uint64_t> m_live{0};  // bit w: slot of waveform w the reader plays
    std::atomic<uint32_t> m_reader_epoch{0};
    uint64_t m_retired_epoch[kWaveCount];  // writer only: epoch at the retirement, or kNoPending
    uint64_t m_waits = 0;
};

// Audio-thread view of a LevelStore for the duration of one rendered block.
class LevelReader {
public:
    explicit LevelReader(const LevelStore* store);
    ~LevelReader();
    LevelReader(const LevelReader&) = delete;
    LevelReader& operator=(const LevelReader&) = delete;

    // Block of waveform w (0..63) as published when the reader began.
    const float* waveform(int w) const { return m_store->slot(m_live, w); }

private:
    LevelStore* m_store;
    uint32_t m_epoch = 0;
    uint64_t m_live = 0;
};

}  // namespace tallisk
