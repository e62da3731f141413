// The small framework of the host's older plug-in entry: the MVModStructV1 record, its dispatcher,
// the pin table and the process entry that runs the current process function between queued
// events. It shares nothing with the module SDK but the boundary records.
#pragma once

#include <cstdint>

#include "event_queue.h"
#include "mv_sdk2/mv_boundary.h"

namespace v1 {

class V1Module;

// The host's audio opcodes this framework sends (the values of the newer interface).
enum HostOpcode : int32_t {
    kHostPinStatus = 0,
    kHostTextChanged = 2,
    kHostSampleClock = 3,
    kHostSleep = 10,
    kHostPinCount = 14,
};

// The dispatcher opcodes of the older entry.
enum Opcode : int32_t {
    kOpen = 0,
    kClose = 1,
    kSetSampleRate = 2,
    kSetBlockSize = 3,
    kPinDescription = 6,
    kQueueEvent = 7,
    kResume = 8,
    kModuleDescription = 9,
    kQueueEmpty = 10,
};

// The event types of the older entry.
enum EventType : int32_t { kEventPinState = 0, kEventMidi = 2, kEventDeferredCall = 3 };

// What opcode 9 fills: three text pointers, laid out as the start of MVModuleProperties.
struct ModuleDescription {
    const char* name;
    const char* id;
    const char* about;
};

class V1Pin {
public:
    virtual ~V1Pin() = default;

    void* m_variable = nullptr;
    V1Module* m_owner = nullptr;
    int32_t m_index = 0;
    int32_t m_state = PIN_STATIC;
    int32_t m_datatype = 0;
};

class V1Module {
public:
    using ProcessFn = void (V1Module::*)(int buffer_offset, int sample_count);

    explicit V1Module(MVHostCallback callback);

    MVModStructV1* record() { return &m_record; }
    static V1Module* from_record(MVModStructV1* record) {
        return record ? static_cast<V1Module*>(record->object) : nullptr;
    }

    // Slot order of the older interface's operations.
    virtual void pin_status_changed(V1Pin* pin);
    virtual ~V1Module();
    virtual void process_with_events(int buffer_offset, int sample_count);
    virtual intptr_t dispatch(int opcode, int index, intptr_t value, void* ptr, float opt);
    virtual void open();
    virtual void close();
    virtual void initial_process(int buffer_offset, int sample_count);
    virtual void set_sample_rate(float rate);
    virtual void set_block_size(int size);
    virtual float sample_rate() const;
    virtual int block_size() const;
    virtual void handle_event(MVEvent* e);
    virtual void module_description(ModuleDescription* d);
    virtual bool pin_description(int index, MVPinProperties* p);
    virtual bool answer_false_4();
    virtual bool answer_false_5();
    virtual void resume();
    virtual void midi_data(int time_stamp, int word1, int word2);

    intptr_t call_host(int opcode, int index = 0, intptr_t value = 0, void* ptr = nullptr, float opt = 0.0f);
    bool events_queued() const { return !m_events.empty(); }
    int pin_count() const { return m_pin_count; }
    V1Pin* pin(int i) { return &m_pins[i]; }
    int32_t sample_clock() const { return m_sample_clock; }

protected:
    template <class Derived>
    void set_process(void (Derived::*fn)(int, int)) {
        m_process = static_cast<ProcessFn>(fn);
    }

private:
    void run_process(int buffer_offset, int sample_count);
    void handle_pin_state(MVEvent* e);
    void create_pins();

    MVHostCallback m_host_callback;
    MVModStructV1 m_record;
    float m_sample_rate = 44100.0f;
    int32_t m_block_size = 1024;
    V1Pin* m_pins = nullptr;
    int32_t m_pin_count = 0;
    int32_t m_sample_clock = 0;
    ProcessFn m_process;
    EventQueue m_events;
};

}  // namespace v1
