// A test plug-in that exercises the SDK paths no deliverable uses and reports what it saw through
// MD_12 (whose meaning is the host's; here it is the test's window into the module).
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "mv_sdk2/mv_export.h"
#include "mv_sdk2/mv_gui.h"
#include "mv_sdk2/mv_module.h"
#include "probe_report.h"

namespace {

class Module : public MVModule_base {
public:
    Module(MVHostCallback cb, intptr_t hv) : MVModule_base(cb, hv) {
        if (hv == kProbeThrow) throw std::runtime_error("probe: construction refused");
    }

    bool describePin(int index, MVPinProperties* p) override {
        if (index < 0) ++m_report.negative_queries;
#if PROBE_NO_PINS
        (void)p;
        return false;
#else
        switch (index) {
        case 0: *p = pin(&m_in, DR_IN, DT_FSAMPLE, "In", "5", 0); return true;
        case 1: *p = pin(nullptr, DR_IN, DT_TEXT, "Gui", "", IO_UI_COMMUNICATION); return true;
        case 2: *p = pin(nullptr, DR_OUT, DT_TEXT, "Gui Out", "", IO_UI_COMMUNICATION); return true;
        case 3: *p = pin(&m_mode, DR_PARAMETER, DT_ENUM, "Mode", "0", 0, "Copy,Ramp,Sleep"); return true;
        case 4: *p = pin(nullptr, DR_IN, DT_MIDI, "MIDI In", nullptr, 0); return true;
        case 5: *p = pin(nullptr, DR_OUT, DT_MIDI, "MIDI Out", nullptr, 0); return true;
        case 6: *p = pin(&m_out, DR_OUT, DT_FSAMPLE, "Out", nullptr, 0); return true;
        case 7: *p = pin(&m_both, DR_IN, DT_INT, "Both", "7", IO_UI_COMMUNICATION | IO_BOTH_SIDES | IO_PATCH_STORE); return true;
        case 8: *p = pin(nullptr, DR_OUT, DT_FLOAT, "Dup", "0", IO_DUPLICATES); return true;
        default: return false;
        }
#endif
    }

    void open() override {
        MVModule_base::open();
        setProcessFunction<&Module::process_copy>();
        setProcessFunction<&Module::process_copy>();
    }

    void pinStatusChanged(MVPin* pin) override {
        auto& r = m_report;
        if (r.status_count < kProbeMax) {
            r.status_pin[r.status_count] = pin->getIndex();
            r.status_state[r.status_count] = pin->getStatus();
            r.status_clock[r.status_count] = SampleClock();
            ++r.status_count;
        }
        if (pin->getIndex() == 0) r.in_value_at_event = pin->getValue();
        if (pin->getIndex() == 1) {  // "Mode" is audio pin 1
            if (m_mode == 0) setProcessFunction<&Module::process_copy>();
            if (m_mode == 1) setProcessFunction<&Module::process_ramp>();
            if (m_mode == 2) setProcessFunction<&Module::process_sleep>();
        }
        if (pin->getIndex() == 5) r.both_value = m_both;  // "Both" is audio pin 5
    }

    void midiReceived(int time_stamp, int word, int) override {
        auto& r = m_report;
        if (r.midi_count < kProbeMax) {
            r.midi_clock[r.midi_count] = time_stamp;
            r.midi_word[r.midi_count] = word;
            ++r.midi_count;
        }
        // Echo it 1500 samples later, usually in a later block.
        if (pinCount() > 3) getPin(3)->sendMidi(time_stamp + 1500, word);
    }

    void wake() override { ++m_report.wake_count; }
    void wake_with(int index) override { m_report.wake_with = index; }

    void request12(intptr_t value, int, void* ptr) override {
        if (value == kProbeThrow) throw std::runtime_error("probe: request refused");
        if (value == kProbeThrow + 1) m_throw_in_process = true;
        if (!ptr) return;
        auto& r = m_report;
        r.pin_count = pinCount();
        for (int i = 0; i < pinCount() && i < kProbeMax; ++i) {
            r.pin_datatype[i] = getPin(i)->getDatatype();
            r.pin_index[i] = getPin(i)->getIndex();
            r.pin_variable[i] = getPin(i)->getVariable();
            r.pin_status[i] = getPin(i)->getStatus();
        }
        r.module_in = &m_in;
        r.module_out = &m_out;
        r.module_mode = &m_mode;
        r.mode = m_mode;
        std::memcpy(ptr, &r, sizeof r);
    }

private:
    static MVPinProperties pin(void* var, int dir, int type, const char* name, const char* def, int flags,
                               const char* extra = nullptr) {
        MVPinProperties p{};
        p.variable = var;
        p.direction = dir;
        p.datatype = type;
        p.name = name;
        p.default_value = def;
        p.datatype_extra = extra;
        p.flags = flags;
        return p;
    }

    void note_process(int offset, int count) {
        if (m_throw_in_process) throw std::runtime_error("probe: process refused");
        auto& r = m_report;
        if (r.process_count < kProbeMax) {
            r.process_offset[r.process_count] = offset;
            r.process_length[r.process_count] = count;
            r.process_clock[r.process_count] = SampleClock();
        }
        ++r.process_count;
    }
    void process_copy(int offset, int count) {
        note_process(offset, count);
        for (int i = 0; i < count; ++i) m_out[offset + i] = m_in[offset + i];
    }
    // A ramp of the sample clock, so a reader can tell which element it got.
    void process_ramp(int offset, int count) {
        note_process(offset, count);
        const int clock = SampleClock();
        for (int i = 0; i < count; ++i) m_out[offset + i] = static_cast<float>(clock + i);
    }
    void process_sleep(int offset, int count) {
        note_process(offset, count);
        for (int i = 0; i < count; ++i) m_out[offset + i] = 0.0f;
        sleep();
    }

    float* m_in = nullptr;
    float* m_out = nullptr;
    int16_t m_mode = 0;
    int32_t m_both = 0;
    bool m_throw_in_process = false;
    ProbeReport m_report{};
};

}  // namespace

// The GUI side: writes pins on pointer input, records what the host tells it, and reports through
// a GUI message.
class ProbeGui : public MVGUI_base {
public:
    ProbeGui(MVHostCallback cb, intptr_t hv) : MVGUI_base(cb, hv) {
        if (hv == kProbeThrow) throw std::runtime_error("probe: construction refused");
        CallHost(GM_SET_SIZE, 40, 30);
    }

    void guiOpen(bool flag) override {
        m_r.open_flag = flag ? 1 : 0;
        m_r.host_mode = static_cast<int>(CallHost(GM_HOST_MODE));
        uint16_t folder[300] = {};
        CallHost(GM_HOST_FOLDER, 0, 300, folder);
        for (int i = 0; i < 63 && folder[i]; ++i) m_r.folder[i] = static_cast<char>(folder[i]);
        m_r.pin_count = static_cast<int>(CallHost(GM_PIN_COUNT));
        CallHost(GM_IDLE_CALLS, 1);
    }
    void pinChanged(MVPinChangedRecord* rec) override {
        if (m_r.changed_count < kProbeMax) m_r.changed_pin[m_r.changed_count] = rec->pin_index;
        ++m_r.changed_count;
        if (rec->pin_index == 1) {
            const char* t = getPinText(1);
            std::strncpy(m_r.gui_text, t ? t : "", sizeof m_r.gui_text - 1);
        }
    }
    void pointerDown(MVPanelRecord* panel, float, int x, int y) override {
        char text[32];
        std::snprintf(text, sizeof text, "%d,%d", x, y);
        setPinText(2, text);
        setPinInt(7, x + y);
        // Walk to the first context with a window and map the point into it.
        intptr_t ctx = panel->context;
        while (ctx && !CallHost(GM_WINDOW_HANDLE, static_cast<int>(ctx))) {
            const intptr_t parent = CallHost(GM_CONTEXT_PARENT, static_cast<int>(ctx));
            MVPoint pt{x, y};
            CallHost(GM_MAP_POINT, static_cast<int>(ctx), parent, &pt);
            x = pt.x;
            y = pt.y;
            ctx = parent;
        }
        m_r.window = static_cast<int>(ctx ? CallHost(GM_WINDOW_HANDLE, static_cast<int>(ctx)) : 0);
        m_r.mapped_x = x;
        m_r.mapped_y = y;
    }
    bool idle() override {
        ++m_r.idle_count;
        return true;
    }
    void guiMessage(int id, int length, void* data) override {
        if (id == kProbeThrow) throw std::runtime_error("probe: message refused");
        if (id == 0x72707274 && data && length >= static_cast<int>(sizeof m_r)) std::memcpy(data, &m_r, sizeof m_r);
    }

private:
    GuiProbeReport m_r{};
};

extern "C" MV_EXPORT int32_t MV_CDECL getModuleProperties(int32_t index, MVModuleProperties* p) {
    if (index != 0 || !p) return 0;
    mv::fill_properties(p, "TEST_Probe", "SDK_PROBE", "SDK probe\nused by the tests only", 2230);
    return 1;
}

MV_DEFINE_MAKE_MODULE(Module, ProbeGui)
