// MV_ADSR: an attack-decay-sustain-release envelope with linear segments.
#include "audio_input.h"
#include "builtin_module.h"
#include "envelope.h"
#include "mv_sdk2/mv_export.h"
#include "mv_sdk2/mv_pin_table.h"
#include "settled_output.h"

namespace {

using namespace mvb;
using mv::describe_from;
using mv::PinDecl;

const char kAbout[] =
    "ADSR envelope\n"
    "Gate above 1 V starts the attack, below ends it; segments are linear and restart\n"
    "from the current level. Times: 1 V = 0.1 s for a full 0-10 V swing. Sustain: volts.";

enum { kGate, kAttack, kDecay, kSustain, kRelease, kOut, kPinCount };
const PinDecl kPins[] = {
    {"Gate", DR_IN, DT_FSAMPLE, "0", "10,0,10,0", 0},
    {"Attack", DR_IN, DT_FSAMPLE, "0.1", "10,0,10,0", 0},
    {"Decay", DR_IN, DT_FSAMPLE, "2", "10,0,10,0", 0},
    {"Sustain", DR_IN, DT_FSAMPLE, "5", "10,0,10,0", 0},
    {"Release", DR_IN, DT_FSAMPLE, "3", "10,0,10,0", 0},
    {"Out", DR_OUT, DT_FSAMPLE, nullptr, nullptr, 0},
};

// 1 V in float units.
constexpr float kGateThreshold = 0.1f;

class Module : public BuiltinModule {
public:
    using BuiltinModule::BuiltinModule;

    bool describePin(int index, MVPinProperties* p) override {
        return describe_from(kPins, index, index >= 0 && index < kPinCount ? &m_buffers[index] : nullptr, p);
    }

    void open() override {
        m_env.reset();
        m_gate_high = false;
        if (!open_pins(kPinCount)) return;
        for (int i = kGate; i <= kRelease; ++i) m_inputs[i].bind(getPin(i));
        m_out.bind(getPin(kOut), getBlockSize());
    }

    void pinStatusChanged(MVPin* pin) override {
        const int i = pin->getIndex();
        if (i >= kGate && i <= kRelease) m_inputs[i].update();
        reselect();
    }

private:
    AudioInput& gate() { return m_inputs[kGate]; }

    // Times and the sustain level are read once per process call.
    EnvelopeSettings settings(int offset) {
        auto read = [offset](const AudioInput& in) {
            return static_cast<double>(in.streaming() ? in.buffer()[offset] : in.value());
        };
        const double rate = getSampleRate();
        EnvelopeSettings s;
        // Float units are seconds: 1 V is 0.1 in float and stands for 0.1 s.
        s.attack = segment_samples(read(m_inputs[kAttack]), rate);
        s.decay = segment_samples(read(m_inputs[kDecay]), rate);
        s.release = segment_samples(read(m_inputs[kRelease]), rate);
        s.sustain = read(m_inputs[kSustain]);
        return s;
    }

    // The output stays put from here while the gate does.
    bool steady_now() const {
        return m_env.stage() == Envelope::Stage::Idle ||
               (m_env.stage() == Envelope::Stage::Sustain && !m_inputs[kSustain].streaming());
    }

    void select(int clock) override {
        if (!m_out.data()) {
            setProcessFunction<&Module::process_idle>();
            return;
        }
        const bool edge_pending = !gate().streaming() && (gate().value() > kGateThreshold) != m_gate_high;
        if (gate().streaming()) {
            setProcessFunction<&Module::process_run<true>>();
        } else if (edge_pending || !steady_now()) {
            setProcessFunction<&Module::process_run<false>>();
        } else {
            // Idle and Sustain ignore the times: a sample taken here only brings the level to a
            // sustain value that may just have changed.
            m_out.hold(clock, static_cast<float>(m_env.next(settings(0))));
            setProcessFunction<&Module::process_steady>();
        }
    }

    void process_steady(int offset, int count) {
        m_out.fill(offset, count);
        if (m_out.settled()) sleep();
    }

    template <bool kGateStreams>
    void process_run(int offset, int count) {
        const EnvelopeSettings s = settings(offset);
        const int clock = SampleClock();
        const float* gate_in = kGateStreams ? gate().buffer() + offset : nullptr;
        const bool static_high = gate().value() > kGateThreshold;
        float* out = m_out.data() + offset;
        for (int k = 0; k < count; ++k) {
            const bool high = kGateStreams ? gate_in[k] > kGateThreshold : static_high;
            if (high != m_gate_high) {
                m_gate_high = high;
                if (high) m_env.gate_on();
                else m_env.gate_off();
            }
            const float v = static_cast<float>(m_env.next(s));
            out[k] = v;
            if (steady_now()) {
                m_out.hold(clock + k, v);
                m_out.wrote_held(1);
            } else {
                m_out.stream(clock + k);
            }
        }
        if (!kGateStreams && steady_now()) setProcessFunction<&Module::process_steady>();
    }

    float* m_buffers[kPinCount] = {};
    AudioInput m_inputs[kRelease + 1];
    SettledOutput m_out;
    Envelope m_env;
    bool m_gate_high = false;
};

}  // namespace

extern "C" MV_EXPORT int32_t MV_CDECL getModuleProperties(int32_t index, MVModuleProperties* p) {
    if (index != 0 || !p) return 0;
    mv::fill_properties(p, "MV_ADSR", "MVHOST_ADSR", kAbout, 2230);
    return 1;
}

MV_DEFINE_MAKE_MODULE(Module, void)
