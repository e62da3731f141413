// The record-to-instance registry behind the host callback.
#include "registry.h"

#include <atomic>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace mvh {

namespace {
std::mutex g_mutex;
std::unordered_map<const void*, Instance*> g_records;
// Each instance with the number of its records still registered, so that removing an instance
// whose records are gone (as they are once it has closed) does not walk every record.
std::unordered_map<Instance*, size_t> g_instances;
thread_local Instance* g_constructing = nullptr;

// While any engine plays on an audio thread, lookups take no lock: they read an immutable copy
// of the records. Several engines (plug-in instances) may share the process, each freezing while
// it is active, and others may be built or closed meanwhile: every change then publishes a fresh
// copy. A replaced copy is freed only once no lookup is inside any copy, which a count of the
// lookups in progress tells (an atomic add on the audio thread, never a wait).
using RecordMap = std::unordered_map<const void*, Instance*>;
std::atomic<const RecordMap*> g_frozen{nullptr};
std::atomic<int> g_readers{0};
int g_freezes = 0;                      // under g_mutex
std::vector<const RecordMap*> g_retired;  // under g_mutex

void free_retired_locked() {
    if (g_readers.load() != 0) return;
    for (const RecordMap* map : g_retired) delete map;
    g_retired.clear();
}

void publish_locked() {
    const RecordMap* fresh = g_freezes > 0 ? new RecordMap(g_records) : nullptr;
    if (const RecordMap* old = g_frozen.exchange(fresh)) g_retired.push_back(old);
    free_retired_locked();
}
}  // namespace

void registry_freeze() {
    std::lock_guard lock(g_mutex);
    ++g_freezes;
    publish_locked();
}

void registry_thaw() {
    std::lock_guard lock(g_mutex);
    if (g_freezes == 0) return;
    if (--g_freezes == 0) publish_locked();
}

void registry_add_instance(Instance* inst) {
    std::lock_guard lock(g_mutex);
    g_instances.emplace(inst, 0);
}

void registry_remove_instance(Instance* inst) {
    std::lock_guard lock(g_mutex);
    const auto found = g_instances.find(inst);
    const bool has_records = found == g_instances.end() || found->second > 0;
    if (found != g_instances.end()) g_instances.erase(found);
    if (!has_records) return;
    for (auto it = g_records.begin(); it != g_records.end();) {
        if (it->second == inst) it = g_records.erase(it);
        else ++it;
    }
    if (g_freezes) publish_locked();
}

void registry_add_record(const void* record, Instance* inst) {
    std::lock_guard lock(g_mutex);
    Instance*& owner = g_records[record];
    if (owner) {
        const auto it = g_instances.find(owner);
        if (it != g_instances.end() && it->second > 0) --it->second;
    }
    owner = inst;
    const auto it = g_instances.find(inst);
    if (it != g_instances.end()) ++it->second;
    if (g_freezes) publish_locked();
}

void registry_remove_record(const void* record) {
    std::lock_guard lock(g_mutex);
    const auto found = g_records.find(record);
    if (found == g_records.end()) return;
    const auto it = g_instances.find(found->second);
    if (it != g_instances.end() && it->second > 0) --it->second;
    g_records.erase(found);
    if (g_freezes) publish_locked();
}

Instance* registry_find(const void* record) {
    g_readers.fetch_add(1);
    if (const RecordMap* frozen = g_frozen.load()) {
        auto it = frozen->find(record);
        Instance* found = it != frozen->end() ? it->second : g_constructing;
        g_readers.fetch_sub(1);
        return found;
    }
    g_readers.fetch_sub(1);
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
