// The table block the oscillator plays: 64 waveforms of 13458 samples, plus a few spare blocks, so
// that the editor never writes into memory the audio thread may be reading.
//
// Protocol (one writer: the editor's thread; one reader: the oscillator of the same instance):
// - each waveform maps to one of the blocks; the map is eight 64-bit words of eight block numbers;
// - the reader brackets each block it renders with a LevelReader, which moves the reader epoch to
//   an odd value on entry and takes one snapshot of the map, then moves the epoch to the next even
//   value on exit; a whole rendered block therefore plays one version of every waveform;
// - the writer fills a spare block, maps the waveform to it and retires the waveform's old block
//   into the spares;
// - before it writes into a retired block, the writer waits until the reader has left the block
//   that was running at (or since) the retirement (at most one audio block; none when the reader
//   idles). The spares are taken oldest first, so with several spares a burst of rebuilds seldom
//   waits.
// The reader's entry is a store of its epoch followed by loads of the map, and each side must see
// the other's store (the writer's map, the reader's epoch) before its own load. Where the system
// offers a process-wide memory barrier (Linux membarrier, Windows FlushProcessWriteBuffers), the
// writer pays for that ordering: it runs the barrier between its map stores and its epoch load,
// once for all the blocks retired since the last one, and the reader's entry costs plain moves.
// Elsewhere both sides use sequentially consistent operations.
// The reader never waits and never sees a half-written block; the samples are plain memory.
#pragma once

#include <atomic>
#include <cstdint>

#include "bank_layout.h"

namespace tallisk {

class LevelStore {
public:
    static constexpr int kSpareBlocks = 4;
    static constexpr int kBlockCount = kWaveCount + kSpareBlocks;

    // light_reader = false keeps both sides on sequentially consistent operations even where the
    // process-wide barrier is there (the tests run both).
    explicit LevelStore(bool light_reader = true);
    ~LevelStore();
    LevelStore(const LevelStore&) = delete;
    LevelStore& operator=(const LevelStore&) = delete;

    // Writer side. begin_replace returns a block to fill for waveform w (holding some older
    // table); commit_replace publishes it.
    float* begin_replace(int w);
    void commit_replace(int w);
    void replace(int w, const float* block);
    // The block a reader starting now would see (writer thread only).
    const float* published(int w) const;

    // How often the writer had to wait for the reader (benchmarks and the stress test).
    uint64_t waits() const { return m_waits; }
    // Whether the writer orders the reader's entry with a process-wide barrier (above).
    bool light_reader() const { return m_light_reader; }

private:
    friend class LevelReader;
    friend struct LevelStoreTestAccess;  // the tests start the epoch near its wrap
    static constexpr int kMapWords = kWaveCount / 8;
    // Wider than the 32-bit epoch, so no epoch the reader reaches (it wraps after 2^31 blocks) can
    // be mistaken for "nothing retired".
    static constexpr uint64_t kNoPending = ~uint64_t{0};

    static int block_of(const uint64_t* map, int w) {
        const auto u = static_cast<unsigned>(w);  // 0..63: unsigned division is a shift
        return static_cast<int>((map[u / 8] >> (8 * (u % 8))) & 0xFFu);
    }
    const float* block(int b) const { return m_blocks + static_cast<size_t>(b) * kBlockSamples; }

    float* m_blocks;  // kBlockCount x 13458, owned
    std::atomic<uint64_t> m_map[kMapWords];
    std::atomic<uint32_t> m_reader_epoch{0};
    const bool m_light_reader;
    // Writer only: the spares, oldest retirement first, with when each was retired: the reader's
    // epoch at retirement (or kNoPending), or with the light reader the count of retirements up to
    // it (the barrier's epoch, taken after it, stands for every retirement before the barrier).
    int m_spare[kSpareBlocks];
    uint64_t m_spare_epoch[kSpareBlocks];
    uint64_t m_retirements = 0;
    uint64_t m_barrier_after = 0;  // retirements the last barrier came after
    uint32_t m_barrier_epoch = 0;  // the reader's epoch just after it
    int m_oldest = 0;
    int m_filling = -1;
    int m_filling_for = -1;
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
    const float* waveform(int w) const { return m_store->block(LevelStore::block_of(m_map, w)); }
    // The first block: every waveform(w) lies waveform_offset(w) samples past it.
    const float* blocks() const { return m_store->block(0); }
    int waveform_offset(int w) const { return LevelStore::block_of(m_map, w) * kBlockSamples; }

private:
    LevelStore* m_store;
    uint32_t m_epoch = 0;
    uint64_t m_map[LevelStore::kMapWords];
};

}  // namespace tallisk
