// Double-buffered level blocks and the epoch handshake between the editor and the oscillator.
#include "level_store.h"

#include <cstring>
#include <thread>

namespace tallisk {

namespace {
constexpr size_t kSlotFloats = size_t{2} * kWaveCount * kBlockSamples;
}

LevelStore::LevelStore() : m_slots(new float[kSlotFloats]()) {
    for (uint64_t& e : m_retired_epoch) e = kNoPending;
}

LevelStore::~LevelStore() { delete[] m_slots; }

float* LevelStore::begin_replace(int w) {
    const uint64_t retired = m_retired_epoch[w];
    // An odd epoch means a block was being rendered when the slot was retired; that block may still
    // read it. The acquire load pairs with the reader's release on exit, so its reads happen before
    // our writes.
    if (retired != kNoPending && (retired & 1u)) {
        while (m_reader_epoch.load(std::memory_order_acquire) == retired) {
            ++m_waits;
            std::this_thread::yield();
        }
    }
    m_retired_epoch[w] = kNoPending;
    const uint64_t inactive = ~m_live.load(std::memory_order_relaxed);
    return const_cast<float*>(slot(inactive, w));
}

void LevelStore::commit_replace(int w) {
    // seq_cst here and on the reader's epoch store: a reader that enters after our epoch load is
    // guaranteed to see the flipped bit.
    m_live.fetch_xor(uint64_t{1} << w, std::memory_order_seq_cst);
    m_retired_epoch[w] = m_reader_epoch.load(std::memory_order_seq_cst);
}

void LevelStore::replace(int w, const float* block) {
    std::memcpy(begin_replace(w), block, sizeof(float) * kBlockSamples);
    commit_replace(w);
}

const float* LevelStore::published(int w) const { return slot(m_live.load(std::memory_order_relaxed), w); }

LevelReader::LevelReader(const LevelStore* store) : m_store(const_cast<LevelStore*>(store)) {
    m_epoch = m_store->m_reader_epoch.load(std::memory_order_relaxed) + 1;
    m_store->m_reader_epoch.store(m_epoch, std::memory_order_seq_cst);
    m_live = m_store->m_live.load(std::memory_order_seq_cst);
}

LevelReader::~LevelReader() { m_store->m_reader_epoch.store(m_epoch + 1, std::memory_order_release); }

}  // namespace tallisk
