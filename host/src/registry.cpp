// The record-to-instance registry behind the host callback.
#include "registry.h"

#include <mutex>
#include <unordered_map>
#include <unordered_set>

namespace mvh {

namespace {
std::mutex g_mutex;
std::unordered_map<const void*, Instance*> g_records;
std::unordered_set<Instance*> g_instances;
thread_local Instance* g_constructing = nullptr;
}  // namespace

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
