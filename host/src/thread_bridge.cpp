// Output announcements when the GUI side runs on a thread of its own: audio-side inputs hear of
// them here, on the audio thread; GUI-side copies of the value travel through the bridge.
#include <algorithm>

#include "mvhost/host.h"

namespace mvh {

void Host::propagate_status_bridged(Instance* from, int gui_pin, int state, int clock) {
    const PinInfo& pin = from->pins()[gui_pin];
    // The module's variable read in place: the host's own copy of the value belongs to the GUI
    // thread, and making a string here could allocate.
    int32_t i = 0;
    float f = 0.0f;
    const char* text = nullptr;
    bool has_value = pin.datatype != DT_FSAMPLE && pin.variable != nullptr && !pin.gui_only();
    if (has_value) {
        switch (pin.datatype) {
        case DT_ENUM: i = *static_cast<int16_t*>(pin.variable); f = static_cast<float>(i); break;
        case DT_BOOL: i = *static_cast<uint8_t*>(pin.variable); f = static_cast<float>(i); break;
        case DT_INT: i = *static_cast<int32_t*>(pin.variable); f = static_cast<float>(i); break;
        case DT_FLOAT: f = *static_cast<float*>(pin.variable); i = static_cast<int32_t>(f); break;
        case DT_TEXT: text = *static_cast<char**>(pin.variable); if (!text) text = ""; break;
        default: has_value = false; break;
        }
    }
    if (has_value) m_bridge->to_gui(from, gui_pin, i, f, text, true, false);
    for (size_t k : from->m_wires_out[gui_pin]) {
        const Wire& w = m_wires[k];
        Instance* to = w.to;
        const PinInfo& dst = to->pins()[w.to_pin];
        const bool gui_side = dst.gui_only() || (dst.flags & IO_BOTH_SIDES);
        if (gui_side || has_value) m_bridge->to_gui(to, w.to_pin, i, f, text, has_value, gui_side);
        if (dst.gui_only()) continue;
        Instance::Event ev{};
        ev.clock = std::max(clock, m_clock);
        ev.e.event_type = EV_PIN_STATE;
        ev.e.int_parm1 = pin.datatype == DT_FSAMPLE ? summed_state(w, state) : state;
        ev.e.ptr_parm = reinterpret_cast<void*>(static_cast<intptr_t>(dst.audio_index));
        ev.e.int_parm2 = w.to_pin;
        if (has_value) {
            ev.value.i = i;
            ev.value.f = f;
            // Texts longer than the string's inline store allocate here; no module announces a
            // text output to an audio-side input today.
            if (text) ev.value.text = text;
            ev.has_value = true;
        }
        to->queue(std::move(ev));
    }
}

}  // namespace mvh
