// Level blocks with a few spares and the epoch handshake between the editor and the oscillator.
#include "level_store.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>

namespace tallisk {

namespace {
constexpr size_t kBlockBytes = sizeof(float) * kBlockSamples;
}

// calloc: a fresh mapping of zero pages, so an instance pays for the memory only as tables are
// written into it (a bank that is all zeros plays from pages never touched).
LevelStore::LevelStore() : m_blocks(static_cast<float*>(std::calloc(kBlockCount, kBlockBytes))) {
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
    // An odd epoch means a block was being rendered when the block was retired; that block may still
    // read it. The acquire load pairs with the reader's release on exit, so its reads happen before
    // our writes.
    if (retired != kNoPending && (retired & 1u)) {
        while (m_reader_epoch.load(std::memory_order_acquire) == retired) {
            ++m_waits;
            std::this_thread::yield();
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
    // seq_cst here and on the reader's epoch store: a reader that enters after our epoch load is
    // guaranteed to see the new block.
    word.store((old_word & ~(uint64_t{0xFF} << shift)) | static_cast<uint64_t>(m_filling) << shift,
               std::memory_order_seq_cst);
    m_spare[m_oldest] = old_block;
    m_spare_epoch[m_oldest] = m_reader_epoch.load(std::memory_order_seq_cst);
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
    m_store->m_reader_epoch.store(m_epoch, std::memory_order_seq_cst);
    for (int i = 0; i < LevelStore::kMapWords; ++i) m_map[i] = m_store->m_map[i].load(std::memory_order_seq_cst);
}

LevelReader::~LevelReader() { m_store->m_reader_epoch.store(m_epoch + 1, std::memory_order_release); }

}  // namespace tallisk
