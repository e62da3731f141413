// Dispatcher, pin table, event handling and the event-splitting process entry of the older entry.
#include "v1_module.h"

#include <cstring>
#include <new>

namespace v1 {

namespace {

// Events queued ahead of need so that opcode 7 on the audio thread normally takes a pooled node.
constexpr int kReservedEvents = 64;

// The host is not C++: no exception may unwind into it. A request that throws answers 0; a
// process call that throws ends its stretch.
intptr_t MV_CDECL dispatcher_entry(MVModStructV1* record, int32_t opcode, int32_t index, intptr_t value, void* ptr,
                                   float opt) noexcept try {
    V1Module* m = V1Module::from_record(record);
    return m ? m->dispatch(opcode, index, value, ptr, opt) : 0;
} catch (...) {
    return 0;
}

void MV_CDECL process_entry(MVModStructV1* record, int32_t buffer_offset, int32_t sample_count) noexcept try {
    if (V1Module* m = V1Module::from_record(record)) m->process_with_events(buffer_offset, sample_count);
} catch (...) {
}

}  // namespace

V1Module::V1Module(MVHostCallback callback) : m_host_callback(callback), m_process(&V1Module::initial_process) {
    std::memset(&m_record, 0, sizeof m_record);
    m_record.magic = kMVModV1Magic;
    m_record.dispatcher = &dispatcher_entry;
    m_record.object = this;
    m_record.version = 1;
    m_record.process = &process_entry;
}

V1Module::~V1Module() { delete[] m_pins; }

intptr_t V1Module::call_host(int opcode, int index, intptr_t value, void* ptr, float opt) {
    if (!m_host_callback) return 0;
    return m_host_callback(&m_record, opcode, index, value, ptr, opt);
}

intptr_t V1Module::dispatch(int opcode, int index, intptr_t value, void* ptr, float opt) {
    switch (opcode) {
    case kOpen: open(); return 0;
    case kClose:
        // The object goes whatever its close does: the host forgets the record either way.
        try {
            close();
        } catch (...) {
        }
        delete this;
        return 1;
    case kSetSampleRate: set_sample_rate(opt); return 0;
    case kSetBlockSize: set_block_size(static_cast<int>(value)); return 0;
    case 4: return answer_false_4() ? 1 : 0;
    case 5: return answer_false_5() ? 1 : 0;
    case kPinDescription:
        if (!ptr) return 0;
        return pin_description(index, static_cast<MVPinProperties*>(ptr)) ? 1 : 0;
    case kQueueEvent:
        if (ptr) m_events.push(*static_cast<const MVEvent*>(ptr));
        return 0;
    case kResume: resume(); return 0;
    case kModuleDescription:
        if (!ptr) return 0;
        module_description(static_cast<ModuleDescription*>(ptr));
        return 1;
    case kQueueEmpty: return m_events.empty() ? 1 : 0;
    default: return 0;
    }
}

void V1Module::open() {
    m_sample_clock = static_cast<int32_t>(call_host(kHostSampleClock));
    create_pins();
    m_events.reserve(kReservedEvents);
}

void V1Module::create_pins() {
    // A second open rebuilds the table rather than leaking the first.
    delete[] m_pins;
    m_pins = nullptr;
    m_pin_count = 0;

    MVPinProperties p;
    int described = 0;
    for (;;) {
        std::memset(&p, 0, sizeof p);
        if (!pin_description(described, &p)) break;
        ++described;
    }
    const int held = static_cast<int>(call_host(kHostPinCount));
    const int n = described > held ? described : held;
    if (n <= 0) return;
    m_pins = new (std::nothrow) V1Pin[n];
    if (!m_pins) return;
    m_pin_count = n;
    for (int i = 0; i < n; ++i) {
        std::memset(&p, 0, sizeof p);
        // Pins beyond the described ones repeat the last description.
        const bool have = described > 0 && pin_description(i < described ? i : described - 1, &p);
        V1Pin& pin = m_pins[i];
        pin.m_owner = this;
        pin.m_index = i;
        pin.m_state = PIN_STATIC;
        pin.m_datatype = have ? p.datatype : 0;
        pin.m_variable = have ? p.variable : nullptr;
    }
}

void V1Module::run_process(int buffer_offset, int sample_count) { (this->*m_process)(buffer_offset, sample_count); }

void V1Module::process_with_events(int buffer_offset, int sample_count) {
    if (sample_count < 0) sample_count = 0;
    const int32_t start = m_sample_clock;
    const int32_t end = static_cast<int32_t>(static_cast<uint32_t>(start) + static_cast<uint32_t>(sample_count));
    int offset = buffer_offset;
    int remaining = sample_count;
    try {
        while (!m_events.empty() && clock_before(m_events.front()->event.time_stamp, end)) {
            const int gap = clock_distance(m_sample_clock, m_events.front()->event.time_stamp);
            if (gap > 0) {
                run_process(offset, gap);
                offset += gap;
                remaining -= gap;
                // The clock follows the processed samples, so an event sees its own time.
                m_sample_clock =
                    static_cast<int32_t>(static_cast<uint32_t>(m_sample_clock) + static_cast<uint32_t>(gap));
            }
            // The node goes back to the pool before the event runs, so a handler that throws
            // loses nothing.
            QueuedEvent* node = m_events.pop();
            MVEvent e = node->event;
            m_events.release(node);
            handle_event(&e);
        }
        if (remaining > 0) run_process(offset, remaining);
    } catch (...) {
        // Whatever failed, the next call starts at the clock the host will give it.
        m_sample_clock = end;
        throw;
    }
    m_sample_clock = end;
}

void V1Module::handle_event(MVEvent* e) {
    switch (e->event_type) {
    case kEventPinState: handle_pin_state(e); return;
    case kEventMidi: midi_data(e->time_stamp, e->int_parm1, e->int_parm2); return;
    case kEventDeferredCall:
        if (e->ptr_parm) reinterpret_cast<void (*)(V1Module*)>(e->ptr_parm)(this);
        return;
    default: return;
    }
}

void V1Module::handle_pin_state(MVEvent* e) {
    const intptr_t index = reinterpret_cast<intptr_t>(e->ptr_parm);
    // An index past the table the host asked for would write outside it; such events are dropped.
    if (!m_pins || index < 0 || index >= m_pin_count) return;
    V1Pin& p = m_pins[index];
    p.m_state = e->int_parm1;
    const int32_t value = e->int_parm2;
    if (p.m_datatype == DT_TEXT) {
        call_host(kHostTextChanged, p.m_index, value);
    } else if (p.m_variable) {
        switch (p.m_datatype) {
        case DT_ENUM: *static_cast<int16_t*>(p.m_variable) = static_cast<int16_t>(value); break;
        case DT_BOOL: *static_cast<uint8_t*>(p.m_variable) = value != 0 ? 1 : 0; break;
        case DT_FLOAT: std::memcpy(p.m_variable, &value, sizeof value); break;
        default: break;
        }
    }
    pin_status_changed(&p);
    if (p.m_state == PIN_CHANGED_ONCE) p.m_state = PIN_STATIC;
}

void V1Module::resume() {
    m_sample_clock = static_cast<int32_t>(call_host(kHostSampleClock));
    m_events.restamp_before(m_sample_clock);
}

void V1Module::pin_status_changed(V1Pin*) {}
void V1Module::close() {}
void V1Module::initial_process(int, int) {}
void V1Module::set_sample_rate(float rate) { m_sample_rate = rate; }
void V1Module::set_block_size(int size) { m_block_size = size; }
float V1Module::sample_rate() const { return m_sample_rate; }
int V1Module::block_size() const { return m_block_size; }
void V1Module::module_description(ModuleDescription*) {}
bool V1Module::pin_description(int, MVPinProperties*) { return false; }
bool V1Module::answer_false_4() { return false; }
bool V1Module::answer_false_5() { return false; }
void V1Module::midi_data(int, int, int) {}

}  // namespace v1
