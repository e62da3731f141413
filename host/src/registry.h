// Which instance owns a record the host callback receives (audio, GUI or older-entry record).
#pragma once

namespace mvh {

class Instance;

void registry_add_instance(Instance* inst);
void registry_remove_instance(Instance* inst);
void registry_add_record(const void* record, Instance* inst);
void registry_remove_record(const void* record);
Instance* registry_find(const void* record);
// While an engine plays on an audio thread (between its freeze and thaw) lookups take no lock.
// Freezes nest: several engines may be active in one process.
void registry_freeze();
void registry_thaw();

// While a plug-in constructs its objects it may already call the host (panel size); the records
// are not registered yet, so the callback falls back on the instance being built.
class ConstructionScope {
public:
    explicit ConstructionScope(Instance* inst);
    ~ConstructionScope();
    static Instance* current();

private:
    Instance* m_previous;
};

}  // namespace mvh
