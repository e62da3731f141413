// The record-to-instance registry behind the host callback.
#include "registry.h"

#include <atomic>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

namespace mvh {

namespace {
std::mutex g_mutex;
std::unordered_map<const void*, Instance*> g_records;
std::unordered_set<Instance*> g_instances;
thread_local Instance* g_constructing = nullptr;
// While a live session plays, the records stay as they are and the audio thread may take no lock:
// lookups read this frozen copy instead.
using RecordMap = std::unordered_map<const void*, Instance*>;
std::atomic<const RecordMap*> g_frozen{nullptr};
}  // namespace

void registry_freeze() {
    std::lock_guard lock(g_mutex);
    delete g_frozen.exchange(new RecordMap(g_records), std::memory_order_acq_rel);
}

void registry_thaw() { delete g_frozen.exchange(nullptr, std::memory_order_acq_rel); }

void registry_add_instance(Instance* inst) {
    std::lock_guard lock(g_mutex);
    g_instances.insert(inst);
}

void registry_remove_instance(Instance* inst) {
    std::lock_guard lock(g_mutex);
    g_instances.erase(inst);
    for (auto it = g_records.begin(); it != g_records.end();) {
        if (it->second == inst) it = g_records.erase(it);
        else ++it;
    }
}

void registry_add_record(const void* record, Instance* inst) {
    std::lock_guard lock(g_mutex);
    g_records[record] = inst;
}

void registry_remove_record(const void* record) {
    std::lock_guard lock(g_mutex);
    g_records.erase(record);
}

Instance* registry_find(const void* record) {
    if (const RecordMap* frozen = g_frozen.load(std::memory_order_acquire)) {
        auto it = frozen->find(record);
        return it != frozen->end() ? it->second : g_constructing;
    }
    {
        std::lock_guard lock(g_mutex);
        auto it = g_records.find(record);
        if (it != g_records.end()) return it->second;
    }
    return g_constructing;
}

ConstructionScope::ConstructionScope(Instance* inst) : m_previous(g_constructing) { g_constructing = inst; }
ConstructionScope::~ConstructionScope() { g_constructing = m_previous; }
Instance* ConstructionScope::current() { return g_constructing; }

}  // namespace mvh
