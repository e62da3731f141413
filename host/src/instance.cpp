// One placed module: its objects, its pins and values, its event queue and its block loop.
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "mvhost/host.h"
#include "registry.h"

namespace mvh {

namespace {

// The event's value in the older entry's second integer parameter.
int32_t v1_value_word(int datatype, const PinValue& v) {
    if (datatype == DT_FLOAT) {
        int32_t bits;
        std::memcpy(&bits, &v.f, sizeof bits);
        return bits;
    }
    return v.i;
}

}  // namespace

PinValue parse_pin_default(int datatype, const std::string& text) {
    PinValue v;
    const char* t = text.c_str();
    switch (datatype) {
    case DT_TEXT: v.text = text; break;
    case DT_FSAMPLE: v.f = static_cast<float>(std::strtod(t, nullptr) * 0.1); break;
    case DT_FLOAT: v.f = static_cast<float>(std::strtod(t, nullptr)); v.i = static_cast<int32_t>(v.f); break;
    default: v.i = static_cast<int32_t>(std::strtol(t, nullptr, 10)); v.f = static_cast<float>(v.i); break;
    }
    return v;
}

std::vector<PinInfo> read_pin_table(const std::function<intptr_t(int, MVPinProperties*)>& query, bool v1) {
    std::vector<PinInfo> pins;
    int audio = 0;
    // A module that never refuses would loop forever; no real module has this many pins.
    for (int j = 0; j < 4096; ++j) {
        MVPinProperties p;
        std::memset(&p, 0, sizeof p);
        if (query(j, &p) == 0) break;
        PinInfo info;
        info.index = j;
        info.audio_index = (v1 || mv_pin_on_audio_side(&p)) ? audio++ : -1;
        info.name = p.name ? p.name : "";
        info.default_value = p.default_value ? p.default_value : "";
        info.extra = p.datatype_extra ? p.datatype_extra : "";
        info.direction = p.direction;
        info.datatype = p.datatype;
        info.flags = p.flags;
        info.variable = p.variable;
        pins.push_back(info);
    }
    return pins;
}

void answer_get_value(int datatype, const PinValue& v, void* ptr) {
    switch (datatype) {
    case DT_FLOAT:
    case DT_FSAMPLE: std::memcpy(ptr, &v.f, sizeof v.f); break;
    case DT_BOOL: *static_cast<uint8_t*>(ptr) = v.i != 0; break;
    case DT_TEXT:
    case DT_MIDI: break;
    default: std::memcpy(ptr, &v.i, sizeof v.i); break;
    }
}

bool store_set_value(int datatype, PinValue& v, intptr_t value, float opt) {
    const PinValue old = v;
    if (datatype == DT_FLOAT || datatype == DT_FSAMPLE) {
        v.f = opt;
        v.i = static_cast<int32_t>(opt);
        return std::memcmp(&old.f, &v.f, sizeof v.f) != 0;
    }
    if (datatype == DT_TEXT || datatype == DT_MIDI) return false;
    v.i = datatype == DT_BOOL ? (value != 0) : static_cast<int32_t>(value);
    if (datatype == DT_ENUM) v.i = static_cast<int16_t>(v.i);
    v.f = static_cast<float>(v.i);
    return old.i != v.i;
}

Instance::Instance(Host& host, std::shared_ptr<Plugin> plugin, std::string name, const InstanceOptions& options)
    : m_host(host), m_plugin(std::move(plugin)), m_name(std::move(name)), m_options(options) {
    // Context handles are unique in the process, where several hosts may build at once.
    static std::atomic<intptr_t> next_context{100};
    m_context = next_context.fetch_add(1, std::memory_order_relaxed);
    registry_add_instance(this);
    MVHostCallback cb = options.null_callback ? nullptr : &host_callback;
    ConstructionScope scope(this);
    if (m_plugin->is_v1()) {
        m_audio_v1 = m_plugin->v1_main()(cb);
        if (m_audio_v1) registry_add_record(m_audio_v1, this);
    } else {
        m_audio = static_cast<MVModStruct*>(m_plugin->make_module()(0, 1, cb, reinterpret_cast<intptr_t>(this)));
        if (m_audio) registry_add_record(m_audio, this);
        if (options.with_gui) {
            m_gui = static_cast<MVGuiStruct*>(m_plugin->make_module()(0, 2, cb, reinterpret_cast<intptr_t>(this)));
            if (m_gui) registry_add_record(m_gui, this);
        }
    }
    dispatch(MD_SET_SAMPLE_RATE, 0, 0, nullptr, host.config().sample_rate);
    dispatch(MD_SET_BLOCK_SIZE, 0, host.config().block_size);
    describe_pins();
}

Instance::~Instance() {
    close();
    registry_remove_instance(this);
}

intptr_t Instance::dispatch(int opcode, int index, intptr_t value, void* ptr, float opt) {
    if (m_audio_v1 && m_audio_v1->dispatcher) return m_audio_v1->dispatcher(m_audio_v1, opcode, index, value, ptr, opt);
    if (m_audio && m_audio->dispatcher) return m_audio->dispatcher(m_audio, opcode, index, value, ptr, opt);
    return 0;
}

intptr_t Instance::gui_dispatch(int opcode, int index, intptr_t value, void* ptr, float opt) {
    if (!m_gui || !m_gui->dispatcher) return 0;
    return m_gui->dispatcher(m_gui, opcode, index, value, ptr, opt);
}

void Instance::describe_pins() {
    m_pins = read_pin_table([this](int j, MVPinProperties* p) { return dispatch(MD_PIN_PROPERTIES, j, 0, p); },
                            m_audio_v1);
    m_declared = static_cast<int>(m_pins.size());
    m_values.clear();
    m_constants.clear();
    m_announced.clear();
    m_holds_constant.clear();
    m_buffers.clear();
    m_texts.clear();
    m_audio_to_gui.clear();
    m_wires_out.clear();
    m_wires_in.clear();
    m_pins_named.clear();
    for (const PinInfo& pin : m_pins) add_pin_records(pin);
    for (int k = 0; k < m_options.extra_duplicates; ++k) add_duplicate();
}

void Instance::add_pin_records(const PinInfo& pin) {
    m_values.push_back(parse_pin_default(pin.datatype, pin.default_value));
    m_constants.push_back(m_values.back().f);
    m_announced.push_back(PIN_STATIC);
    m_holds_constant.push_back(0);
    m_buffers.emplace_back();
    m_texts.emplace_back();
    m_wires_out.emplace_back();
    m_wires_in.emplace_back();
    if (!pin.gui_only()) m_audio_to_gui.push_back(pin.index);
    m_pins_named[pin.name].push_back(pin.index);
    if (!pin.gui_only() && pin.datatype == DT_FSAMPLE) m_buffers.back().assign(m_host.config().block_size, 0.0f);
}

void Instance::add_duplicate() {
    if (m_declared == 0 || !(m_pins[m_declared - 1].flags & IO_DUPLICATES)) return;
    PinInfo info = m_pins[m_declared - 1];
    info.index = static_cast<int>(m_pins.size());
    info.duplicate = true;
    info.variable = nullptr;
    if (!info.gui_only()) info.audio_index = audio_pin_count();
    m_pins.push_back(info);
    add_pin_records(m_pins.back());
}

int Instance::find_pin(const std::string& name, int nth) const {
    const auto it = m_pins_named.find(name);
    if (it == m_pins_named.end() || nth < 0 || nth >= static_cast<int>(it->second.size())) return -1;
    return it->second[static_cast<size_t>(nth)];
}

float* Instance::buffer(int pin) {
    if (pin < 0 || pin >= static_cast<int>(m_buffers.size()) || m_buffers[pin].empty()) return nullptr;
    return m_buffers[pin].data();
}

void Instance::write_variable(int pin, const PinValue& v) {
    const PinInfo& info = m_pins[pin];
    if (info.gui_only() || !info.variable) return;
    switch (info.datatype) {
    case DT_ENUM: *static_cast<int16_t*>(info.variable) = static_cast<int16_t>(v.i); break;
    case DT_BOOL: *static_cast<uint8_t*>(info.variable) = v.i != 0; break;
    case DT_INT: *static_cast<int32_t*>(info.variable) = v.i; break;
    case DT_FLOAT: *static_cast<float*>(info.variable) = v.f; break;
    case DT_TEXT:
        m_texts[pin] = v.text;
        *static_cast<char**>(info.variable) = m_texts[pin].data();
        break;
    default: break;
    }
}

void Instance::take_variable(int pin, PinValue& v) {
    const PinInfo& info = m_pins[pin];
    if (info.datatype != DT_TEXT || info.gui_only() || !info.variable) return write_variable(pin, v);
    m_texts[pin].swap(v.text);
    *static_cast<char**>(info.variable) = m_texts[pin].data();
    if (m_host.m_bridge) m_host.m_bridge->retire(v.text);
}

PinValue Instance::read_variable(int pin) const {
    PinValue v = m_values.at(pin);
    const PinInfo& info = m_pins.at(pin);
    if (info.gui_only() || !info.variable) return v;
    switch (info.datatype) {
    case DT_ENUM: v.i = *static_cast<int16_t*>(info.variable); v.f = static_cast<float>(v.i); break;
    case DT_BOOL: v.i = *static_cast<uint8_t*>(info.variable); v.f = static_cast<float>(v.i); break;
    case DT_INT: v.i = *static_cast<int32_t*>(info.variable); v.f = static_cast<float>(v.i); break;
    case DT_FLOAT: v.f = *static_cast<float*>(info.variable); v.i = static_cast<int32_t>(v.f); break;
    case DT_TEXT: {
        const char* t = *static_cast<char**>(info.variable);
        v.text = t ? t : "";
        break;
    }
    default: break;
    }
    return v;
}

void Instance::gui_notify(int pin) {
    if (!m_gui || !m_open) return;
    MVPinChangedRecord rec{pin, m_gui->object};
    gui_dispatch(GD_PIN_CHANGED, 0, 0, &rec);
}

void Instance::set_value(int pin, const PinValue& v, int clock, int state) {
    if (pin < 0 || pin >= static_cast<int>(m_pins.size())) return;
    const PinInfo& info = m_pins[pin];
    m_values[pin] = v;
    if (!m_open) {
        write_variable(pin, v);
        m_constants[pin] = v.f;
        m_holds_constant[pin] = 0;
        return;
    }
    if (info.gui_only() || (info.flags & IO_BOTH_SIDES)) gui_notify(pin);
    if (!info.gui_only() && m_host.bridge()) {
        m_host.bridge()->to_audio(this, pin, v);
    } else if (!info.gui_only()) {
        Event ev{};
        ev.clock = clock < 0 ? m_host.sample_clock() : clock;
        ev.e.event_type = EV_PIN_STATE;
        ev.e.int_parm1 = state;
        ev.e.ptr_parm = reinterpret_cast<void*>(static_cast<intptr_t>(info.audio_index));
        ev.value = v;
        ev.has_value = true;
        ev.e.int_parm2 = pin;  // GUI index, replaced at delivery
        queue(ev);
    }
}

// The heap's order: the event that comes later is "less", so that the earliest is at the front.
bool Instance::later(const Event& a, const Event& b) {
    return a.clock > b.clock || (a.clock == b.clock && a.seq > b.seq);
}

void Instance::queue(Event ev, bool ahead) {
    // Events queued ahead go before everything already queued for the same clock. The count is
    // the host's own: several hosts (plug-in instances) may run in one process.
    ev.seq = ahead ? m_host.m_ahead_seq++ : m_host.m_seq++;
    ev.e.time_stamp = ev.clock;
    m_events.push_back(std::move(ev));
    std::push_heap(m_events.begin(), m_events.end(), later);
}

Instance::Event Instance::take_event() {
    std::pop_heap(m_events.begin(), m_events.end(), later);
    Event ev = std::move(m_events.back());
    m_events.pop_back();
    return ev;
}

void Instance::deliver(Event& ev) {
    m_clock = ev.clock;
    ev.e.time_stamp = ev.clock;
    if (ev.e.event_type == EV_PIN_STATE && ev.has_value) {
        const int gui_pin = ev.e.int_parm2;
        take_variable(gui_pin, ev.value);
        apply_constant(gui_pin, ev.value.f, ev.clock);
        ev.e.int_parm2 = 0;
    }
    if (m_audio && m_audio->event_function) m_audio->event_function(m_audio->object, &ev.e);
}

// A new constant on an unconnected audio input holds from its event's sample on.
void Instance::apply_constant(int gui_pin, float value, int clock) {
    const PinInfo& info = m_pins[gui_pin];
    if (info.datatype != DT_FSAMPLE || info.gui_only() || !info.is_input()) return;
    m_constants[gui_pin] = value;
    m_holds_constant[gui_pin] = 0;
    if (m_host.connected(this, gui_pin) || m_buffers[gui_pin].empty()) return;
    const int from = std::clamp(clock - m_block_start, 0, static_cast<int>(m_buffers[gui_pin].size()));
    std::fill(m_buffers[gui_pin].begin() + from, m_buffers[gui_pin].end(), value);
}

void Instance::hold_constant(int gui_pin) {
    std::vector<float>& buffer = m_buffers[gui_pin];
    if (m_holds_constant[gui_pin] || buffer.empty()) return;
    std::fill(buffer.begin(), buffer.end(), m_constants[gui_pin]);
    m_holds_constant[gui_pin] = 1;
}

void Instance::open() {
    if (m_open || (!m_audio && !m_audio_v1)) return;
    // Buffer pointers and values go into the module's variables before it opens, so that open
    // already sees the stored values.
    for (const PinInfo& pin : m_pins) {
        if (pin.gui_only() || !pin.variable) continue;
        if (pin.datatype == DT_FSAMPLE) *static_cast<float**>(pin.variable) = buffer(pin.index);
        else write_variable(pin.index, m_values[pin.index]);
    }
    m_clock = m_host.sample_clock();
    m_block_start = m_clock;
    dispatch(MD_OPEN);
    m_open = true;
    gui_dispatch(GD_OPEN, m_options.restored ? 1 : 0);
    // Every input learns its initial state and value at the first sample.
    for (const PinInfo& pin : m_pins) {
        if (pin.gui_only() || !pin.is_input() || pin.datatype == DT_MIDI) continue;
        Event ev{};
        ev.clock = m_host.sample_clock();
        ev.e.event_type = EV_PIN_STATE;
        ev.e.int_parm1 = PIN_STATIC;
        ev.e.ptr_parm = reinterpret_cast<void*>(static_cast<intptr_t>(pin.audio_index));
        ev.value = m_values[pin.index];
        ev.has_value = true;
        ev.e.int_parm2 = pin.index;
        // Ahead of what upstream modules announced during their own open.
        queue(ev, true);
    }
}

void Instance::queue_audio_value(int pin, PinValue&& v, int clock) {
    const PinInfo& info = m_pins[static_cast<size_t>(pin)];
    Event ev{};
    ev.clock = clock;
    ev.e.event_type = EV_PIN_STATE;
    ev.e.int_parm1 = PIN_CHANGED_ONCE;
    ev.e.ptr_parm = reinterpret_cast<void*>(static_cast<intptr_t>(info.audio_index));
    ev.e.int_parm2 = pin;  // GUI index, replaced at delivery
    ev.value = std::move(v);
    ev.has_value = true;
    queue(std::move(ev));
}

void Instance::store_gui_value(int pin, int32_t i, float f, std::string* text, bool notify) {
    PinValue& v = m_values[static_cast<size_t>(pin)];
    v.i = i;
    v.f = f;
    if (text) v.text = std::move(*text);
    if (notify) gui_notify(pin);
}

void Instance::close_gui() {
    if (!m_gui) return;
    MVGuiStruct* g = m_gui;
    if (m_open) gui_dispatch(GD_CLOSE);
    else if (g->dispatcher) g->dispatcher(g, GD_CLOSE, 0, 0, nullptr, 0.0f);
    registry_remove_record(g);
    m_gui = nullptr;
}

void Instance::close() {
    close_gui();
    if (m_audio) {
        MVModStruct* a = m_audio;
        dispatch(MD_CLOSE);
        registry_remove_record(a);
        m_audio = nullptr;
    }
    if (m_audio_v1) {
        MVModStructV1* a = m_audio_v1;
        dispatch(1);
        registry_remove_record(a);
        m_audio_v1 = nullptr;
    }
    m_open = false;
}

void Instance::run_block(int block_start, int from, int n) {
    if (!m_open) return;
    if (m_audio_v1) {
        run_block_v1(block_start, from, n);
        return;
    }
    m_block_start = block_start;
    const int end = from + n;
    int cur = from;
    auto process = [&](int at, int count) {
        if (count <= 0 || m_sleeping || !m_audio || !m_audio->process_function) return;
        m_clock = at;
        m_in_process = true;
        m_audio->process_function(m_audio->object, at - block_start, count);
        m_in_process = false;
    };
    while (!m_events.empty() && m_events.front().clock < end) {
        Event ev = take_event();
        if (ev.clock < cur) ev.clock = cur;  // late (feedback or an earlier instance): now
        process(cur, ev.clock - cur);
        cur = ev.clock;
        const bool was_sleeping = m_sleeping;
        deliver(ev);
        if (was_sleeping && m_audio) {
            m_sleeping = false;
            m_clock = cur;
            dispatch(MD_WAKE);
        }
    }
    process(cur, end - cur);
    m_clock = end;
}

void Instance::run_block_v1(int block_start, int from, int n) {
    // The block is cut at event times as for the newer entry: each event is queued (opcode 7)
    // just before the stretch that starts at its clock, and its value written into the variable
    // then, so that a module reading its variables in process sees a change from its own sample.
    m_block_start = block_start;
    const int end = from + n;
    int cur = from;
    auto process = [&](int at, int count) {
        if (count <= 0 || m_sleeping || !m_audio_v1->process) return;
        m_clock = at;
        m_in_process = true;
        m_audio_v1->process(m_audio_v1, at - block_start, count);
        m_in_process = false;
    };
    while (!m_events.empty() && m_events.front().clock < end) {
        Event ev = take_event();
        if (ev.clock < cur) ev.clock = cur;  // late (feedback or an earlier instance): now
        process(cur, ev.clock - cur);
        cur = ev.clock;
        m_clock = cur;
        if (m_sleeping) {
            m_sleeping = false;
            dispatch(8);  // resume: the module rereads the clock and restamps its past events
        }
        if (ev.e.event_type == EV_PIN_STATE && ev.has_value) {
            const int gui_pin = ev.e.int_parm2;
            take_variable(gui_pin, ev.value);
            apply_constant(gui_pin, ev.value.f, ev.clock);
            ev.e.int_parm2 = v1_value_word(m_pins[gui_pin].datatype, ev.value);
        }
        ev.e.time_stamp = cur;
        dispatch(7, 0, 0, &ev.e);
    }
    process(cur, end - cur);
    m_clock = end;
}

void Instance::paint(int dc, int w, int h) {
    MVPanelRecord rec{w, h, m_context};
    gui_dispatch(GD_PAINT, dc, 0, &rec);
}

void Instance::pointer(int opcode, int x, int y) {
    MVPanelRecord rec{panel_width, panel_height, m_context};
    gui_dispatch(opcode, x, y, &rec);
}

}  // namespace mvh
