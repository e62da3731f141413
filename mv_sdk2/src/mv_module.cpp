// The audio module base: dispatcher, pin creation, event routing and process-function switching.
#include "mv_sdk2/mv_module.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#ifndef MV_MODULE_MAGIC
#error "MV_MODULE_MAGIC must be set by the deliverable's build"
#endif
#ifndef MV_PROCESS_MEMBER_SIZE
#define MV_PROCESS_MEMBER_SIZE 12
#endif

static_assert(MV_PROCESS_MEMBER_SIZE == 4 || MV_PROCESS_MEMBER_SIZE == 12 || MV_PROCESS_MEMBER_SIZE == 16);
static_assert(sizeof(MVProcessRef) >= sizeof(MVProcessFunction) + MV_PROCESS_MEMBER_SIZE - 4);

#if MV_SDK_DEBUG_CHECKS
void mv_check_failed(const char* text, const char* file, int line) {
    std::fprintf(stderr, "%s(%d): debug check failed: %s\n", file, line, text);
    std::abort();
}
#endif

namespace {

// One per library, as the host expects; rewritten by every MD_PROCESS_MEMBER call.
MVProcessMemberRecord g_process_member;

// The entries the host calls never let an exception unwind into it (the host is not C++): a
// request that throws fails with 0 and the object stays usable.
intptr_t MV_CDECL dispatcher_entry(MVModStruct* record, int32_t opcode, int32_t index, intptr_t value,
                                   void* ptr, float opt) noexcept try {
    MVModule_base* m = MVModule_base::fromRecord(record);
    return m ? m->dispatch(opcode, index, value, ptr, opt) : 0;
} catch (...) {
    return 0;
}

void MV_CDECL event_entry(void* object, MVEvent* e) noexcept try {
    if (object && e) static_cast<MVModule_base*>(object)->handleEvent(e);
} catch (...) {
}

}  // namespace

int32_t mv_process_member_size() {
    return static_cast<int32_t>(sizeof(MVProcessFunction)) + MV_PROCESS_MEMBER_SIZE - 4;
}

// ---- MVPin ---------------------------------------------------------------------------------------

void MVPin::init(MVModule_base* module, int index, int datatype, void* variable) {
    m_module = module;
    m_index = index;
    m_datatype = datatype;
    m_status = 0;
    if (variable) {
        m_storage.i = 0;
        m_variable = variable;
        return;
    }
    m_variable = &m_storage;
    switch (datatype) {
    case DT_ENUM: m_storage.i = 0; m_storage.e = 0; break;
    case DT_BOOL: m_storage.i = 0; m_storage.b = 0; break;
    case DT_FSAMPLE:
        m_storage.buffer = reinterpret_cast<float*>(module->CallHost(AM_PIN_BUFFER, index));
        break;
    case DT_FLOAT:
    case DT_INT: m_storage.i = 0; break;
    default: m_variable = nullptr; break;
    }
}

void MVPin::sendStatus(int sampleclock, int state) {
    m_module->CallHost(AM_PIN_STATUS, m_index, state, reinterpret_cast<void*>(static_cast<intptr_t>(sampleclock)));
}

void MVPin::sendMidi(int sampleclock, int word) {
    MV_CHECK(sampleclock >= m_module->SampleClock(), "sampleclock >= m_module->SampleClock()");
    m_module->CallHost(AM_SEND_MIDI, m_index, word, reinterpret_cast<void*>(static_cast<intptr_t>(sampleclock)));
}

void MVPin::statusChanged(int state) {
    m_status = state;
    m_module->pinStatusChanged(this);
    if (state == PIN_CHANGED_ONCE) m_status = PIN_STATIC;
}

bool MVPin::isConnected() { return m_module->CallHost(AM_PIN_CONNECTED, m_index) != 0; }

float MVPin::getValue() {
    MV_CHECK(m_datatype == DT_FSAMPLE, "m_datatype == DT_FSAMPLE");
    float* buffer = m_variable ? *static_cast<float**>(m_variable) : nullptr;
    if (!buffer) return 0.0f;
    const int start = static_cast<int>(m_module->CallHost(AM_BUFFER_START, m_index));
    return buffer[m_module->SampleClock() - start];
}

// ---- MVModule_base -------------------------------------------------------------------------------

MVModule_base::MVModule_base(MVHostCallback callback, intptr_t host_value) : m_callback(callback) {
    std::memset(&m_record, 0, sizeof m_record);
    m_record.magic = static_cast<uint32_t>(MV_MODULE_MAGIC);
    m_record.version = 1;
    m_record.host_handle = host_value;
    m_record.object = this;
    m_record.dispatcher = &dispatcher_entry;
    m_record.event_function = &event_entry;
    m_process.function = &emptyProcess;
    m_record.process_function = m_process.function;
}

MVModule_base::~MVModule_base() { delete[] m_pins; }

void MV_CDECL MVModule_base::emptyProcess(void*, int32_t, int32_t) {}

intptr_t MVModule_base::CallHost(int opcode, int index, intptr_t value, void* ptr, float opt) {
    if (!m_callback) return 0;
    return m_callback(&m_record, opcode, index, value, ptr, opt);
}

int MVModule_base::SampleClock() { return static_cast<int>(CallHost(AM_SAMPLE_CLOCK)); }

MVPin* MVModule_base::getPin(int i) {
    MV_CHECK(m_pins != 0, "m_pins != 0");
    return &m_pins[i];
}

void MVModule_base::setProcessFunction(const MVProcessRef& ref) {
    if (ref == m_process) return;
    m_process = ref;
    m_record.process_function = ref.function;
    CallHost(AM_PROCESS_CHANGED);
}

void MVModule_base::sleep() { CallHost(AM_SLEEP); }

void MVModule_base::pinStatusChanged(MVPin*) {}

int MVModule_base::handleEvent(MVEvent* e) {
    MV_CHECK(e->time_stamp == SampleClock(), "e->time_stamp == SampleClock()");
    switch (e->event_type) {
    case EV_PIN_STATE: {
        const int pin = static_cast<int>(reinterpret_cast<intptr_t>(e->ptr_parm));
        // A pin index the host never created would index past the array; ignore it.
        if (!m_pins || pin < 0 || pin >= m_pin_count) return 0;
        getPin(pin)->statusChanged(e->int_parm1);
        return 1;
    }
    case EV_MIDI: midiReceived(e->time_stamp, e->int_parm1, e->int_parm2); return 1;
    case EV_IGNORED: return 0;
    case EV_DEFERRED_CALL:
        if (e->ptr_parm) reinterpret_cast<void (*)(MVModule_base*)>(e->ptr_parm)(this);
        return 1;
    default: return 0;
    }
}

intptr_t MVModule_base::dispatch(int opcode, int index, intptr_t value, void* ptr, float opt) {
    switch (opcode) {
    case MD_OPEN: open(); return 0;
    case MD_CLOSE:
        // The object goes whatever its close does: the host forgets the record either way.
        try {
            close();
        } catch (...) {
        }
        delete this;
        return 1;
    case MD_SET_SAMPLE_RATE: setSampleRate(opt); return 0;
    case MD_SET_BLOCK_SIZE: setBlockSize(static_cast<int>(value)); return 0;
    case MD_PIN_PROPERTIES: {
        if (!ptr) return 0;
        auto* p = static_cast<MVPinProperties*>(ptr);
        const bool ok = describePin(index, p);
        MV_CHECK((p->flags & IO_PATCH_STORE) == 0 || (p->flags & IO_PRIVATE) != 0 || p->direction == DR_OUT ||
                     (p->flags & IO_UI_COMMUNICATION) != 0,
                 "(((MVPinProperties*)ptr)->flags & IO_PATCH_STORE) == 0 || (((MVPinProperties*)ptr)->flags & "
                 "IO_PRIVATE) != 0 || ((MVPinProperties*)ptr)->direction == DR_OUT || ( ( "
                 "(MVPinProperties*)ptr)->flags & IO_UI_COMMUNICATION) != 0");
        return ok ? 1 : 0;
    }
    case MD_WAKE:
        wake();
        if (index > 0) wake_with(index);
        return 0;
    case MD_12: request12(value, index, ptr); return 0;
    case MD_PROCESS_MEMBER:
        g_process_member.count = 1;
        g_process_member.size = mv_process_member_size();
        g_process_member.pointer = &m_process;
        g_process_member.zero = 0;
        return reinterpret_cast<intptr_t>(&g_process_member);
    default: return 0;
    }
}

void MVModule_base::open() { createPins(); }

void MVModule_base::createPins() {
    // A second open builds the pins afresh instead of leaking the first array.
    delete[] m_pins;
    m_pins = nullptr;
    m_pin_count = 0;

    int n = static_cast<int>(CallHost(AM_PIN_COUNT));
    if (n > 0) {
        m_pins = new (std::nothrow) MVPin[n];
        if (!m_pins) n = 0;  // out of memory: the module runs without pins
    }

    MVPinProperties p;
    int i = 0;
    int j = 0;
    for (;;) {
        std::memset(&p, 0, sizeof p);
        if (!describePin(j, &p) || i >= n) break;
        if (mv_pin_on_audio_side(&p)) {
            m_pins[i].init(this, i, p.datatype, p.variable);
            ++i;
        }
        ++j;
    }
    // The last description read decides whether the remaining host pins are its duplicates.
    std::memset(&p, 0, sizeof p);
    if (describePin(j - 1, &p) && mv_pin_on_audio_side(&p) && (p.flags & IO_DUPLICATES)) {
        for (; i < n; ++i) m_pins[i].init(this, i, p.datatype, nullptr);
    }
    // Host pins beyond the module's descriptions get no meaning: they stay inert, belong to this
    // module (so a call on one goes nowhere harmful) and are not counted, so events for them are
    // dropped.
    m_pin_count = i;
    for (int k = i; k < n; ++k) m_pins[k].init(this, k, -1, nullptr);
}

void MVModule_base::close() {}
void MVModule_base::reserved6() {}
void MVModule_base::setSampleRate(float rate) { m_sample_rate = rate; }
void MVModule_base::setBlockSize(int size) { m_block_size = size; }
float MVModule_base::getSampleRate() { return m_sample_rate; }
int MVModule_base::getBlockSize() { return m_block_size; }
bool MVModule_base::describePin(int, MVPinProperties*) { return false; }
int MVModule_base::reserved12() { return 0; }
int MVModule_base::reserved13() { return 0; }
void MVModule_base::wake() {}
void MVModule_base::wake_with(int) {}
void MVModule_base::midiReceived(int, int, int) {}
void MVModule_base::request12(intptr_t, int, void*) {}
