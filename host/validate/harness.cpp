// The validator's host: object creation, pins and buffers, block splitting and per-call checks.
#include "harness.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>

#include "rt_probe.h"

namespace mvh::validate {

intptr_t harness_callback(void* record, int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt);

namespace {

constexpr int kGuard = 64;
// A quiet NaN with a payload no arithmetic produces: a module that writes it is unlikely.
constexpr uint32_t kCanaryBits = 0x7FC0DEADu;

float canary() {
    float f;
    std::memcpy(&f, &kCanaryBits, sizeof f);
    return f;
}

bool is_canary(float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits == kCanaryBits;
}


// Records the host callback can be reached with; written before threads start.
struct RecordSlot {
    std::atomic<void*> record{nullptr};
    std::atomic<Harness*> owner{nullptr};
    std::atomic<bool> gui{false};
};
constexpr int kSlots = 1024;
RecordSlot g_slots[kSlots];

thread_local Harness* t_constructing = nullptr;
thread_local bool t_constructing_gui = false;

void register_record(void* record, Harness* h, bool gui) {
    for (RecordSlot& s : g_slots) {
        void* expected = nullptr;
        if (s.record.compare_exchange_strong(expected, record)) {
            s.owner = h;
            s.gui = gui;
            return;
        }
    }
}

void unregister_record(void* record) {
    for (RecordSlot& s : g_slots)
        if (s.record.load() == record) {
            s.owner = nullptr;
            s.record = nullptr;
        }
}

Harness* find_record(void* record, bool* gui) {
    for (RecordSlot& s : g_slots)
        if (record && s.record.load(std::memory_order_acquire) == record) {
            *gui = s.gui;
            return s.owner;
        }
    *gui = t_constructing_gui;
    return t_constructing;
}

// Faults already reported by this check (its process), from any of its harnesses: a check that
// makes forty instances reports a fault once, not forty times. Audio thread only.
std::vector<std::string>& reported() {
    static std::vector<std::string> keys;
    return keys;
}

// The function a deferred-call event (type 21) carries: the module must call it once, with itself.
thread_local int t_deferred_calls = 0;
thread_local void* t_deferred_object = nullptr;
void MV_CDECL deferred_probe(void* module) {
    ++t_deferred_calls;
    t_deferred_object = module;
}

std::string pin_label(const HarnessPin& p) { return "pin " + std::to_string(p.index) + " \"" + p.name + "\""; }

}  // namespace

float* HarnessPin::buffer() { return storage.empty() ? nullptr : storage.data() + kGuard; }

Harness::Harness(std::shared_ptr<Plugin> plugin, HarnessConfig config, CheckContext& ctx)
    : m_plugin(std::move(plugin)), m_config(config), m_ctx(ctx) {
    m_time.tempo = config.tempo;
    m_time.sample_rate = config.sample_rate;
    m_time.time_sig_numerator = 4;
    m_time.time_sig_denominator = 4;
}

Harness::~Harness() { close(); }

bool Harness::create() {
    MVHostCallback cb = m_config.null_callback ? nullptr : &harness_callback;
    t_constructing = this;
    try {
        if (m_plugin->is_v1()) {
            t_constructing_gui = false;
            m_v1 = m_plugin->v1_main()(cb);
            if (m_v1) register_record(m_v1, this, false);
        } else {
            t_constructing_gui = false;
            m_audio = static_cast<MVModStruct*>(m_plugin->make_module()(0, 1, cb, reinterpret_cast<intptr_t>(this)));
            if (m_audio) register_record(m_audio, this, false);
            if (m_config.with_gui) {
                t_constructing_gui = true;
                m_gui = static_cast<MVGuiStruct*>(m_plugin->make_module()(0, 2, cb, reinterpret_cast<intptr_t>(this)));
                if (m_gui) register_record(m_gui, this, true);
            }
        }
    } catch (...) {
        m_ctx.fail("an exception escaped object creation");
    }
    t_constructing = nullptr;
    t_constructing_gui = false;
    if (!m_audio && !m_v1) {
        m_ctx.fail("no audio object was created (makeModule kind 1 / main returned null)");
        return false;
    }
    if (m_audio && (!m_audio->dispatcher || !m_audio->process_function || !m_audio->event_function || !m_audio->object)) {
        m_ctx.fail("the audio record lacks a dispatcher, process function, event function or object");
        unregister_record(m_audio);
        m_audio = nullptr;
        return false;
    }
    if (m_v1 && (!m_v1->dispatcher || !m_v1->process)) {
        m_ctx.fail("the older-entry record lacks a dispatcher or process entry");
        m_v1 = nullptr;
        return false;
    }
    dispatch(MD_SET_SAMPLE_RATE, 0, 0, nullptr, m_config.sample_rate);
    dispatch(MD_SET_BLOCK_SIZE, 0, m_config.block_size);
    describe();
    return true;
}

void Harness::describe() {
    m_pins.clear();
    m_audio_count = 0;
    const auto query = [this](int j, MVPinProperties* p) { return dispatch(MD_PIN_PROPERTIES, j, 0, p); };
    for (PinInfo& info : read_pin_table(query, m_v1 != nullptr)) {
        if (info.audio_index >= 0) ++m_audio_count;
        HarnessPin pin;
        static_cast<PinInfo&>(pin) = std::move(info);
        m_pins.push_back(std::move(pin));
    }
    if (!m_pins.empty() && (m_pins.back().flags & IO_DUPLICATES)) {
        for (int k = 0; k < m_config.extra_duplicates; ++k) {
            HarnessPin d = m_pins.back();
            d.index = static_cast<int>(m_pins.size());
            d.duplicate = true;
            d.variable = nullptr;
            if (d.audio_index >= 0) d.audio_index = m_audio_count++;
            m_pins.push_back(std::move(d));
        }
    }
    m_by_audio.assign(m_audio_count, -1);
    m_gui_values.clear();
    m_gui_texts.clear();
    for (size_t i = 0; i < m_pins.size(); ++i) {
        HarnessPin& pin = m_pins[i];
        if (pin.audio_index >= 0) m_by_audio[pin.audio_index] = static_cast<int>(i);
        pin.value = parse_pin_default(pin.datatype, pin.default_value);
        m_gui_values.push_back(pin.value);
        m_gui_texts.push_back(pin.value.text);
        if (pin.audio_index >= 0 && pin.datatype == DT_FSAMPLE) {
            pin.storage.assign(m_config.block_size + 2 * kGuard, canary());
            std::fill(pin.buffer(), pin.buffer() + m_config.block_size, pin.is_input() ? pin.value.f : 0.0f);
            pin.snapshot = pin.storage;
        }
        if (pin.datatype == DT_TEXT) pin.text.reserve(4096);
    }
}

HarnessPin* Harness::find(const std::string& name) {
    for (HarnessPin& p : m_pins)
        if (p.name == name) return &p;
    return nullptr;
}

HarnessPin* Harness::audio_pin(int audio_index) {
    if (audio_index < 0 || audio_index >= m_audio_count) return nullptr;
    const int i = m_by_audio[audio_index];
    return i < 0 ? nullptr : &m_pins[i];
}

void Harness::write_variable(HarnessPin& pin, const PinValue& v) {
    pin.value = v;
    if (pin.audio_index < 0 || !pin.variable) return;
    switch (pin.datatype) {
    case DT_ENUM: *static_cast<int16_t*>(pin.variable) = static_cast<int16_t>(v.i); break;
    case DT_BOOL: *static_cast<uint8_t*>(pin.variable) = v.i != 0; break;
    case DT_INT: *static_cast<int32_t*>(pin.variable) = v.i; break;
    case DT_FLOAT: *static_cast<float*>(pin.variable) = v.f; break;
    case DT_TEXT:
        pin.text.assign(v.text.begin(), v.text.end());
        pin.text.push_back('\0');
        *static_cast<char**>(pin.variable) = pin.text.data();
        break;
    default: break;
    }
}

PinValue Harness::read_variable(const HarnessPin& pin) const {
    PinValue v = pin.value;
    if (pin.audio_index < 0 || !pin.variable) return v;
    switch (pin.datatype) {
    case DT_ENUM: v.i = *static_cast<int16_t*>(pin.variable); break;
    case DT_BOOL: v.i = *static_cast<uint8_t*>(pin.variable); break;
    case DT_INT: v.i = *static_cast<int32_t*>(pin.variable); break;
    case DT_FLOAT: v.f = *static_cast<float*>(pin.variable); break;
    case DT_TEXT: {
        const char* t = *static_cast<char**>(pin.variable);
        v.text = t ? t : "";
        break;
    }
    default: break;
    }
    return v;
}

intptr_t Harness::dispatch(int opcode, int index, intptr_t value, void* ptr, float opt) {
    try {
        if (m_v1) return m_v1->dispatcher(m_v1, opcode, index, value, ptr, opt);
        if (m_audio) return m_audio->dispatcher(m_audio, opcode, index, value, ptr, opt);
    } catch (...) {
        m_ctx.fail("an exception escaped the audio dispatcher (opcode " + std::to_string(opcode) + ")");
    }
    return 0;
}

intptr_t Harness::gui_dispatch(int opcode, int index, intptr_t value, void* ptr, float opt) {
    if (!m_gui) return 0;
    try {
        return m_gui->dispatcher(m_gui, opcode, index, value, ptr, opt);
    } catch (...) {
        gui_ctx().fail("an exception escaped the GUI dispatcher (opcode " + std::to_string(opcode) + ")");
    }
    return 0;
}

PinValue Harness::gui_value(int pin) const { return m_gui_values.at(pin); }

void Harness::open() {
    if (m_open || (!m_audio && !m_v1)) return;
    for (HarnessPin& pin : m_pins) {
        if (pin.audio_index < 0 || !pin.variable) continue;
        if (pin.datatype == DT_FSAMPLE) *static_cast<float**>(pin.variable) = pin.buffer();
        else write_variable(pin, pin.value);
    }
    m_block_start = m_clock;
    {
        RtScope::Suspend not_audio_call;
        dispatch(MD_OPEN);
    }
    m_open = true;
    if (m_gui) gui_dispatch(GD_OPEN, m_config.restored ? 1 : 0);
    std::vector<PlannedEvent> initial;
    for (size_t i = 0; i < m_pins.size(); ++i) {
        const HarnessPin& pin = m_pins[i];
        if (pin.audio_index < 0 || !pin.is_input() || pin.datatype == DT_MIDI) continue;
        PlannedEvent e;
        e.clock = m_clock;
        e.pin = static_cast<int>(i);
        e.state = PIN_STATIC;
        e.value = pin.value;
        initial.push_back(e);
    }
    m_initial = std::move(initial);
}

void Harness::close() {
    if (m_gui) {
        MVGuiStruct* g = m_gui;
        const intptr_t r = gui_dispatch(GD_CLOSE);
        if (r != 1) m_ctx.fail("GUI opcode 1 (close) returned " + std::to_string(r) + ", not 1");
        unregister_record(g);
        m_gui = nullptr;
    }
    if (m_audio || m_v1) {
        void* rec = m_audio ? static_cast<void*>(m_audio) : static_cast<void*>(m_v1);
        const intptr_t r = dispatch(MD_CLOSE);
        if (r != 1) m_ctx.fail("MD_CLOSE returned " + std::to_string(r) + ", not 1");
        unregister_record(rec);
        m_audio = nullptr;
        m_v1 = nullptr;
    }
    m_open = false;
}

// ---- blocks ------------------------------------------------------------------------------------

void Harness::fill_inputs(int n) {
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    std::uniform_real_distribution<float> wild(-1000.0f, 1000.0f);
    for (HarnessPin& pin : m_pins) {
        if (pin.audio_index < 0 || pin.datatype != DT_FSAMPLE || !pin.is_input()) continue;
        float* b = pin.buffer();
        for (int k = 0; k < n; ++k) {
            switch (m_signal) {
            case InputSignal::Silence: b[k] = 0.0f; break;
            case InputSignal::Noise: b[k] = noise(m_ctx.rng()); break;
            case InputSignal::Constant: b[k] = pin.value.f; break;
            case InputSignal::Wild: b[k] = wild(m_ctx.rng()); break;
            }
        }
    }
}

void Harness::run_block(int n, std::vector<PlannedEvent> events) {
    if (!m_open) return;
    n = std::clamp(n, 0, m_config.block_size);
    if (!m_initial.empty()) {
        events.insert(events.begin(), m_initial.begin(), m_initial.end());
        m_initial.clear();
    }
    std::stable_sort(events.begin(), events.end(), [](const PlannedEvent& a, const PlannedEvent& b) { return a.clock < b.clock; });
    m_block_start = m_clock;
    fill_inputs(n);
    const int start = m_clock;
    if (m_v1) {
        for (const PlannedEvent& e : events) queue_v1(e);
        process(0, n);
        m_clock = start + n;
        return;
    }
    int pos = 0;
    for (const PlannedEvent& e : events) {
        const int at = std::clamp(e.clock - start, 0, n);
        if (at > pos) {
            process(pos, at - pos);
            pos = at;
        }
        m_clock = start + at;
        deliver(e);
    }
    if (n > pos || n == 0) process(pos, n - pos);
    m_clock = start + n;
}

void Harness::before_call() {
    for (HarnessPin& pin : m_pins)
        if (!pin.storage.empty()) pin.snapshot = pin.storage;
}

void Harness::report_rt(const std::string& violations, const char* where) {
    if (violations.empty() || !m_ctx.watching_realtime()) return;
    // One report per place and kind of call: "state 0 of pin 6" and "state 1 of pin 6" are one.
    std::string place = where;
    if (const size_t s = place.find("(state "); s != std::string::npos) place.erase(s + 1, place.find(" of ", s) + 4 - s - 1);
    const size_t first = violations.find(" (first: ");
    const std::string key = place + ": " + (first == std::string::npos ? violations : violations.substr(first));
    if (std::find(reported().begin(), reported().end(), key) != reported().end()) return;
    reported().push_back(key);
    m_ctx.fail(std::string("real-time: ") + violations + " inside " + where + " at clock " + std::to_string(m_clock) +
               " (block size " + std::to_string(m_config.block_size) + ", rate " +
               std::to_string(static_cast<int>(m_config.sample_rate)) + ")");
}

void Harness::report_once(const HarnessPin& pin, const char* kind, const std::string& message) {
    const std::string key = std::to_string(pin.index) + ":" + kind;
    if (std::find(reported().begin(), reported().end(), key) != reported().end()) return;
    reported().push_back(key);
    m_ctx.fail(message);
}

void Harness::process(int offset, int n) {
    if (m_sleeping && !m_wake_pending) return;
    if (m_wake_pending) {
        m_wake_pending = false;
        m_sleeping = false;
        RtScope rt;
        dispatch(MD_WAKE);
        report_rt(rt.take(), "MD_WAKE");
    }
    m_clock = m_block_start + offset;
    m_call_end = m_clock + n;
    before_call();
    ++process_calls;
    m_in_call = true;
    std::string violations;
    try {
        RtScope rt;
        if (m_v1) m_v1->process(m_v1, offset, n);
        else m_audio->process_function(m_audio->object, offset, n);
        violations = rt.take();
    } catch (...) {
        m_ctx.fail("an exception escaped the process function at clock " + std::to_string(m_clock));
    }
    m_in_call = false;
    report_rt(violations, m_v1 ? "the process entry" : "process_function");
    if (m_audio && !m_audio->process_function) m_ctx.fail("the process function became null");
    after_process(offset, n);
}

void Harness::after_process(int offset, int n) {
    const bool subnormals = m_ctx.strictness() > 5;
    const int block = m_config.block_size;
    for (HarnessPin& pin : m_pins) {
        if (pin.storage.empty()) continue;
        const float* all = pin.storage.data();
        for (int k = 0; k < kGuard; ++k) {
            if (!is_canary(all[k]) || !is_canary(all[kGuard + block + k])) {
                report_once(pin, "guard", "the guard area around the buffer of " + pin_label(pin) + " was overwritten (call at offset " +
                           std::to_string(offset) + ", " + std::to_string(n) + " samples)");
                std::fill(pin.storage.begin(), pin.storage.begin() + kGuard, canary());
                std::fill(pin.storage.end() - kGuard, pin.storage.end(), canary());
                break;
            }
        }
        const float* b = pin.buffer();
        const float* before = pin.snapshot.data() + kGuard;
        if (pin.is_input()) {
            if (std::memcmp(b, before, sizeof(float) * block) != 0) {
                report_once(pin, "input", "the input buffer of " + pin_label(pin) + " was changed by the module at clock " +
                                              std::to_string(m_clock));
                std::memcpy(pin.buffer(), before, sizeof(float) * block);
            }
            continue;
        }
        for (int k = 0; k < block; ++k) {
            const bool inside = k >= offset && k < offset + n;
            if (!inside) {
                if (std::memcmp(&b[k], &before[k], sizeof(float)) != 0) {
                    report_once(pin, "range", "output " + pin_label(pin) + " was written at element " + std::to_string(k) +
                               ", outside the call's range [" + std::to_string(offset) + ", " +
                               std::to_string(offset + n) + ")");
                    break;
                }
                continue;
            }
            if (!std::isfinite(b[k])) {
                report_once(pin, "finite", "output " + pin_label(pin) + " is " + (std::isnan(b[k]) ? "NaN" : "infinite") +
                           " at clock " + std::to_string(m_block_start + k));
                pin.storage.assign(pin.storage.size(), 0.0f);
                std::fill(pin.storage.begin(), pin.storage.begin() + kGuard, canary());
                std::fill(pin.storage.end() - kGuard, pin.storage.end(), canary());
                break;
            }
            if (subnormals && std::fpclassify(b[k]) == FP_SUBNORMAL) {
                report_once(pin, "subnormal", "output " + pin_label(pin) + " carries a subnormal value at clock " +
                           std::to_string(m_block_start + k));
                break;
            }
        }
    }
}

void Harness::deliver(const PlannedEvent& pe) {
    MVEvent e{};
    e.time_stamp = m_clock;
    e.event_type = pe.type;
    if (pe.type == EV_PIN_STATE) {
        HarnessPin& pin = m_pins.at(pe.pin);
        write_variable(pin, pe.value);
        e.int_parm1 = pe.state;
        e.ptr_parm = reinterpret_cast<void*>(static_cast<intptr_t>(pin.audio_index));
    } else if (pe.type == EV_DEFERRED_CALL) {
        e.ptr_parm = reinterpret_cast<void*>(&deferred_probe);
        t_deferred_calls = 0;
        t_deferred_object = nullptr;
    } else {
        e.int_parm1 = pe.word1;
        e.int_parm2 = pe.word2;
    }
    if (m_sleeping) m_wake_pending = true;
    ++event_calls;
    std::string violations;
    try {
        RtScope rt;
        m_audio->event_function(m_audio->object, &e);
        violations = rt.take();
    } catch (...) {
        m_ctx.fail("an exception escaped the event function (type " + std::to_string(pe.type) + ")");
    }
    if (pe.type == EV_DEFERRED_CALL && (t_deferred_calls != 1 || t_deferred_object != m_audio->object))
        m_ctx.fail("a deferred-call event (type 21) ran its function " + std::to_string(t_deferred_calls) +
                   " times" + (t_deferred_calls > 0 && t_deferred_object != m_audio->object ? ", not with the module object" : ""));
    std::string where = "event_function (";
    if (pe.type == EV_PIN_STATE) where += "state " + std::to_string(pe.state) + " of " + pin_label(m_pins.at(pe.pin)) + ")";
    else if (pe.type == EV_MIDI) where += "MIDI)";
    else where += "event type " + std::to_string(pe.type) + ")";
    report_rt(violations, where.c_str());
}

void Harness::queue_v1(const PlannedEvent& pe) {
    MVEvent e{};
    e.time_stamp = pe.clock;
    e.event_type = pe.type;
    if (pe.type == EV_PIN_STATE) {
        HarnessPin& pin = m_pins.at(pe.pin);
        pin.value = pe.value;
        e.int_parm1 = pe.state;
        if (pin.datatype == DT_FLOAT) std::memcpy(&e.int_parm2, &pe.value.f, sizeof e.int_parm2);
        else e.int_parm2 = pe.value.i;
        e.ptr_parm = reinterpret_cast<void*>(static_cast<intptr_t>(pin.audio_index));
    } else {
        e.int_parm1 = pe.word1;
        e.int_parm2 = pe.word2;
    }
    if (m_sleeping) {
        // The older entry resumes before it is given the event: it rereads the clock and
        // restamps what it still holds.
        m_sleeping = false;
        m_wake_pending = false;
        RtScope rt;
        dispatch(8);
        report_rt(rt.take(), "the resume call (dispatcher opcode 8)");
    }
    ++event_calls;
    RtScope rt;
    dispatch(7, 0, 0, &e);
    report_rt(rt.take(), "the event queue call (dispatcher opcode 7)");
}

// ---- host opcodes ------------------------------------------------------------------------------

intptr_t Harness::audio_opcode(int32_t opcode, int32_t index, intptr_t value, void* ptr) {
    const int clock_arg = static_cast<int>(reinterpret_cast<intptr_t>(ptr));
    switch (opcode) {
    case AM_PIN_STATUS: {
        ++status_calls;
        HarnessPin* pin = audio_pin(index);
        if (!pin) {
            m_ctx.fail("AM_PIN_STATUS names pin " + std::to_string(index) + ", which does not exist");
            return 0;
        }
        if (value < PIN_STATIC || value > PIN_STREAMING)
            m_ctx.fail("AM_PIN_STATUS for " + pin_label(*pin) + " with state " + std::to_string(value));
        if (m_ctx.strictness() >= 4 && m_in_call && clock_arg < m_clock - 0)
            m_ctx.fail("AM_PIN_STATUS for " + pin_label(*pin) + " announced at clock " + std::to_string(clock_arg) +
                       ", before the current clock " + std::to_string(m_clock));
        if (pin->datatype == DT_FLOAT && pin->variable) {
            const float f = *static_cast<float*>(pin->variable);
            if (!std::isfinite(f))
                report_once(*pin, "announced", "output " + pin_label(*pin) + " announced a non-finite value at clock " +
                                                   std::to_string(clock_arg));
        }
        return 0;
    }
    case AM_PIN_CONNECTED: return audio_pin(index) && m_all_connected ? 1 : 0;
    case AM_SAMPLE_CLOCK: return m_clock;
    case AM_SEND_MIDI: {
        ++midi_sent;
        HarnessPin* pin = audio_pin(index);
        if (!pin || pin->datatype != DT_MIDI || pin->is_input())
            m_ctx.fail("AM_SEND_MIDI on pin " + std::to_string(index) + ", which is not a MIDI output");
        if (clock_arg < m_clock)
            m_ctx.fail("AM_SEND_MIDI at clock " + std::to_string(clock_arg) + ", before the current clock " +
                       std::to_string(m_clock));
        return 0;
    }
    case AM_PIN_BUFFER: {
        HarnessPin* pin = audio_pin(index);
        if (!pin || pin->datatype != DT_FSAMPLE) {
            m_ctx.fail("AM_PIN_BUFFER for pin " + std::to_string(index) + ", which is not an audio pin");
            return 0;
        }
        return reinterpret_cast<intptr_t>(pin->buffer());
    }
    case AM_BUFFER_START: return m_block_start;
    case AM_TIME_INFO: return m_config.time_info ? reinterpret_cast<intptr_t>(&m_time) : 0;
    case AM_SLEEP:
        ++sleeps;
        m_sleeping = true;
        return 0;
    case AM_PIN_COUNT: return m_audio_count;
    case AM_PROCESS_CHANGED: return 0;
    case AM_HOST_VERSION: return 96000;
    default: return 0;
    }
}

intptr_t Harness::gui_opcode(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt) {
    const int npins = static_cast<int>(m_pins.size());
    const bool valid = index >= 0 && index < npins;
    switch (opcode) {
    case GM_SET_SIZE:
        panel_width = index;
        panel_height = static_cast<int>(value);
        return 0;
    case GM_PIN_COUNT: return npins;
    case GM_SET_TEXT:
        if (!valid) gui_ctx().fail("GUI opcode 6 (set text) names pin " + std::to_string(index));
        else m_gui_values[index].text = ptr ? static_cast<const char*>(ptr) : "";
        return 0;
    case GM_GET_TEXT:
        if (!valid) return 0;
        m_gui_texts[index] = m_gui_values[index].text;
        return reinterpret_cast<intptr_t>(m_gui_texts[index].c_str());
    case GM_GET_VALUE: {
        if (!valid || !ptr) return 0;
        answer_get_value(m_pins[index].datatype, m_gui_values[index], ptr);
        return 0;
    }
    case GM_SET_VALUE:
        if (!valid) {
            gui_ctx().fail("GUI opcode 15 (set value) names pin " + std::to_string(index));
            return 0;
        }
        store_set_value(m_pins[index].datatype, m_gui_values[index], value, opt);
        return 0;
    case GM_IDLE_CALLS: idle_on = index != 0; return 0;
    case GM_HOST_FOLDER: {
        if (!ptr) return 0;
        const char* folder = "/tmp/";
        auto* out = static_cast<uint16_t*>(ptr);
        int k = 0;
        for (; folder[k]; ++k) out[k] = static_cast<unsigned char>(folder[k]);
        out[k] = 0;
        return k;
    }
    case GM_IS_CAPTURED: return 0;
    case GM_MAP_POINT: return ptr ? 1 : 0;
    default: return 0;
    }
}

intptr_t harness_callback(void* record, int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt) {
    RtScope::Suspend host_side;
    bool gui = false;
    Harness* h = find_record(record, &gui);
    if (!h) return 0;
    return gui ? h->gui_opcode(opcode, index, value, ptr, opt) : h->audio_opcode(opcode, index, value, ptr);
}

}  // namespace mvh::validate
