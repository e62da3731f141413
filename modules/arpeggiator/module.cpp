// arpeggiator: the SDK adapter. It hands the host the engine's variables, forwards events, pin
// changes and process calls to the engine, and sends what the engine emits.
#include "arp_engine.h"
#include "description.h"
#include "mv_sdk2/mv_export.h"
#include "mv_sdk2/mv_gui.h"
#include "mv_sdk2/mv_module.h"

namespace {

using arp::ArpEngine;
using arp::TimingInputs;

// The GUI object carries no logic: the SDK's empty GUI class is the whole of it.
using GuiModule = MVEmptyGui;

class Module : public MVModule_base, private arp::ArpOutput {
public:
    Module(MVHostCallback callback, intptr_t host_value) : MVModule_base(callback, host_value), m_engine(*this) {}
    ~Module() override = default;

    bool describePin(int index, MVPinProperties* p) override {
        return mv::describe_from(arp::kPinTexts, index, variable_of(index), p);
    }

    void open() override {
        MVModule_base::open();
        m_engine.open(getSampleRate());
        // A host that created fewer pins (or none, without a callback) gets a module that stays
        // silent instead of one that writes through pins it does not have.
        if (pinCount() >= arp::kPinCount) {
            m_status_pin = getPin(arp::kPinArpStatus);
            m_midi_out = getPin(arp::kPinMidiOut);
            m_tempo_pin = getPin(arp::kPinTempo);
            m_gate_pin = getPin(arp::kPinGate);
            m_ratio_pin = getPin(arp::kPinRatio);
        }
        setProcessFunction<&Module::sub_process>();
        send_arp_status(static_cast<uint32_t>(SampleClock()));
    }

    void midiReceived(int time_stamp, int int_parm1, int) override {
        m_engine.midi_received(static_cast<uint32_t>(time_stamp), int_parm1);
    }

    void pinStatusChanged(MVPin* pin) override {
        if (!pin) return;
        const TimingInputs now_inputs{value_of(m_tempo_pin), value_of(m_ratio_pin), value_of(m_gate_pin)};
        m_engine.pin_status_changed(pin->getIndex(), pin->getStatus(), static_cast<uint32_t>(SampleClock()),
                                    now_inputs);
    }

    void sub_process(int buffer_offset, int sample_count) {
        TimingInputs inputs;
        if (m_tempo && m_ratio && m_gate && buffer_offset >= 0) {
            inputs = {m_tempo[buffer_offset], m_ratio[buffer_offset], m_gate[buffer_offset]};
        }
        m_engine.process(static_cast<uint32_t>(SampleClock()), sample_count, inputs);
    }

private:
    void* variable_of(int index) {
        switch (index) {
        case arp::kPinChannel: return &m_engine.m_channel;
        case arp::kPinTempo: return &m_tempo;
        case arp::kPinRatio: return &m_ratio;
        case arp::kPinPlayMode: return &m_engine.m_play_mode;
        case arp::kPinArpMode: return &m_engine.m_arp_mode;
        case arp::kPinOctRange: return &m_engine.m_oct_range;
        case arp::kPinVelocityMode: return &m_engine.m_velocity_mode;
        case arp::kPinHold: return &m_engine.m_hold;
        case arp::kPinGate: return &m_gate;
        case arp::kPinTransposeChannel: return &m_engine.m_transpose_channel;
        case arp::kPinTransposeMode: return &m_engine.m_transpose_mode;
        case arp::kPinMonoMode: return &m_engine.m_mono_mode;
        case arp::kPinArpStatus: return &m_engine.m_arp_status;
        default: return nullptr;  // the MIDI pins carry no value
        }
    }

    static float value_of(MVPin* pin) { return pin ? pin->getValue() : 0.0f; }

    void send_midi(uint32_t clock, int32_t word) override {
        if (m_midi_out) m_midi_out->sendMidi(static_cast<int>(clock), word);
    }
    void send_arp_status(uint32_t clock) override {
        if (m_status_pin) m_status_pin->sendStatus(static_cast<int>(clock), PIN_CHANGED_ONCE);
    }
    void request_sleep() override { sleep(); }

    ArpEngine m_engine;
    float* m_tempo = nullptr;
    float* m_ratio = nullptr;
    float* m_gate = nullptr;
    MVPin* m_status_pin = nullptr;
    MVPin* m_midi_out = nullptr;
    MVPin* m_tempo_pin = nullptr;
    MVPin* m_gate_pin = nullptr;
    MVPin* m_ratio_pin = nullptr;
};

}  // namespace

extern "C" MV_EXPORT int32_t MV_CDECL getModuleProperties(int32_t index, MVModuleProperties* p) {
    if (index != 0 || !p) return 0;
    mv::fill_properties(p, arp::kModuleName, arp::kModuleId, arp::kAboutText, arp::kSdkVersion);
    return 1;
}

MV_DEFINE_MAKE_MODULE(Module, GuiModule)
