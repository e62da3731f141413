// Level blocks with a few spares and the epoch handshake between the editor and the oscillator.
#include "level_store.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>

#if defined(__linux__)
#include <linux/membarrier.h>
#include <sys/syscall.h>
#include <unistd.h>
#elif defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

namespace tallisk {

namespace {
constexpr size_t kBlockBytes = sizeof(float) * kBlockSamples;

// A full memory barrier on every thread of the process that is running, as if each executed one:
// a reader's earlier stores are then visible to the loads after it, or the reader's later loads
// see the stores before it.
bool process_barrier() {
#if defined(__linux__)
    return syscall(SYS_membarrier, MEMBARRIER_CMD_PRIVATE_EXPEDITED, 0, 0) == 0;
#elif defined(_WIN32)
    FlushProcessWriteBuffers();
    return true;
#else
    return false;
#endif
}

// Once per process: whether the barrier is there (a Linux kernel may lack it, or a sandbox refuse
// it); registering is what the kernel asks before the expedited form.
bool process_barrier_available() {
    static const bool available = [] {
#if defined(__linux__)
        if (syscall(SYS_membarrier, MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED, 0, 0) != 0) return false;
#endif
        return process_barrier();
    }();
    return available;
}
}  // namespace

// calloc: a fresh mapping of zero pages, so an instance pays for the memory only as tables are
// written into it (a bank that is all zeros plays from pages never touched).
LevelStore::LevelStore(bool light_reader)
    : m_blocks(static_cast<float*>(std::calloc(kBlockCount, kBlockBytes))),
      m_light_reader(light_reader && process_barrier_available()) {
    if (!m_blocks) throw std::bad_alloc();
    for (int i = 0; i < kMapWords; ++i) {
        uint64_t word = 0;
        for (int k = 0; k < 8; ++k) word |= static_cast<uint64_t>(8 * i + k) << (8 * k);
        m_map[i].store(word, std::memory_order_relaxed);
    }
    for (int s = 0; s < kSpareBlocks; ++s) {
        m_spare[s] = kWaveCount + s;
        m_spare_epoch[s] = kNoPending;
    }
}

LevelStore::~LevelStore() { std::free(m_blocks); }

float* LevelStore::begin_replace(int w) {
    // A second begin for the same waveform before its commit gets the same block back.
    // A begin for another waveform before the commit takes over the block (nothing was published).
    if (m_filling >= 0) {
        m_filling_for = w;
        return const_cast<float*>(block(m_filling));
    }
    const uint64_t retired = m_spare_epoch[m_oldest];
    if (retired != kNoPending) {
        // The reader's epoch at the retirement or after it: odd means a block was running that
        // may have taken the old map and may still read the block.
        uint64_t running = retired;
        if (m_light_reader) {
            if (m_barrier_after < retired) {
                // Every map store so far comes before the barrier, and the epoch load after it: a
                // reader block that took an old map has its odd epoch visible to this load.
                process_barrier();
                m_barrier_after = m_retirements;
                m_barrier_epoch = m_reader_epoch.load(std::memory_order_acquire);
            }
            running = m_barrier_epoch;
        }
        // The acquire load pairs with the reader's release on exit, so its reads happen before
        // our writes.
        if (running & 1u) {
            while (m_reader_epoch.load(std::memory_order_acquire) == running) {
                ++m_waits;
                std::this_thread::yield();
            }
        }
    }
    m_filling = m_spare[m_oldest];
    m_filling_for = w;
    return const_cast<float*>(block(m_filling));
}

void LevelStore::commit_replace(int w) {
    if (m_filling < 0 || m_filling_for != w) return;  // nothing handed out for w
    std::atomic<uint64_t>& word = m_map[w / 8];
    const int shift = 8 * (w % 8);
    const uint64_t old_word = word.load(std::memory_order_relaxed);
    const int old_block = static_cast<int>((old_word >> shift) & 0xFFu);
    const uint64_t new_word = (old_word & ~(uint64_t{0xFF} << shift)) | static_cast<uint64_t>(m_filling) << shift;
    m_spare[m_oldest] = old_block;
    if (m_light_reader) {
        // The barrier before the block's reuse orders this store against the reader's entry.
        word.store(new_word, std::memory_order_release);
        m_spare_epoch[m_oldest] = ++m_retirements;
    } else {
        // seq_cst here and on the reader's epoch store: a reader that enters after our epoch load
        // is guaranteed to see the new block.
        word.store(new_word, std::memory_order_seq_cst);
        m_spare_epoch[m_oldest] = m_reader_epoch.load(std::memory_order_seq_cst);
    }
    m_oldest = (m_oldest + 1) % kSpareBlocks;
    m_filling = -1;
    m_filling_for = -1;
}

void LevelStore::replace(int w, const float* source) {
    std::memcpy(begin_replace(w), source, kBlockBytes);
    commit_replace(w);
}

const float* LevelStore::published(int w) const {
    return block(static_cast<int>((m_map[w / 8].load(std::memory_order_relaxed) >> (8 * (w % 8))) & 0xFFu));
}

LevelReader::LevelReader(const LevelStore* store) : m_store(const_cast<LevelStore*>(store)) {
    m_epoch = m_store->m_reader_epoch.load(std::memory_order_relaxed) + 1;
    if (m_store->m_light_reader) {
        // The writer's barrier orders this store before the map loads; only the compiler must be
        // kept from moving them.
        m_store->m_reader_epoch.store(m_epoch, std::memory_order_release);
        std::atomic_signal_fence(std::memory_order_seq_cst);
        for (int i = 0; i < LevelStore::kMapWords; ++i) m_map[i] = m_store->m_map[i].load(std::memory_order_acquire);
    } else {
        m_store->m_reader_epoch.store(m_epoch, std::memory_order_seq_cst);
        for (int i = 0; i < LevelStore::kMapWords; ++i) m_map[i] = m_store->m_map[i].load(std::memory_order_seq_cst);
    }
}

LevelReader::~LevelReader() { m_store->m_reader_epoch.store(m_epoch + 1, std::memory_order_release); }

}  // namespace tallisk
