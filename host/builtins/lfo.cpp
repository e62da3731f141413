// MV_LFO: a low-frequency oscillator with sine, triangle and saw shapes; phase kept in double.
#include "audio_input.h"
#include "builtin_module.h"
#include "lfo_wave.h"
#include "mv_sdk2/mv_export.h"
#include "mv_sdk2/mv_pin_table.h"
#include "settled_output.h"

namespace {

using namespace mvb;
using mv::describe_from;
using mv::PinDecl;

const char kAbout[] =
    "Low-frequency oscillator\n"
    "Rate: 1 V = 1 Hz (negative runs backwards, 0 stops). Amplitude: peak volts.\n"
    "Shapes start at 0 rising: Sine, Triangle, Saw.";

enum { kRate, kShape, kAmplitude, kOut, kPinCount };
const PinDecl kPins[] = {
    {"Rate", DR_IN, DT_FSAMPLE, "1", "10,0,10,0", 0},
    {"Shape", DR_IN, DT_ENUM, "0", "Sine,Triangle,Saw", 0},
    {"Amplitude", DR_IN, DT_FSAMPLE, "5", "10,0,10,0", 0},
    {"Out", DR_OUT, DT_FSAMPLE, nullptr, nullptr, 0},
};

class Module : public BuiltinModule {
public:
    using BuiltinModule::BuiltinModule;

    bool describePin(int index, MVPinProperties* p) override {
        void* variable = nullptr;
        if (index == kShape) variable = &m_shape;
        else if (index >= 0 && index < kPinCount) variable = &m_buffers[index];
        return describe_from(kPins, index, variable, p);
    }

    void open() override {
        m_phase = 0.0;
        if (!open_pins(kPinCount)) return;
        m_rate.bind(getPin(kRate));
        m_amplitude.bind(getPin(kAmplitude));
        m_out.bind(getPin(kOut), getBlockSize());
    }

    void pinStatusChanged(MVPin* pin) override {
        if (pin->getIndex() == kRate) m_rate.update();
        if (pin->getIndex() == kAmplitude) m_amplitude.update();
        reselect();
    }

private:
    LfoShape shape() const {
        // An unknown choice plays the first shape rather than nothing.
        return m_shape == 1 ? LfoShape::Triangle : m_shape == 2 ? LfoShape::Saw : LfoShape::Sine;
    }

    void select(int clock) override {
        if (!m_out.data()) {
            setProcessFunction<&Module::process_idle>();
            return;
        }
        const bool modulated = m_rate.streaming() || m_amplitude.streaming();
        if (!modulated && m_rate.value() == 0.0f) {
            // A stopped LFO holds where its phase stands.
            m_out.hold(clock, static_cast<float>(static_cast<double>(m_amplitude.value()) * lfo_wave(shape(), m_phase)));
            setProcessFunction<&Module::process_hold>();
            return;
        }
        m_out.stream(clock);
        switch (shape()) {
        case LfoShape::Sine: install<LfoShape::Sine>(modulated); break;
        case LfoShape::Triangle: install<LfoShape::Triangle>(modulated); break;
        case LfoShape::Saw: install<LfoShape::Saw>(modulated); break;
        }
    }

    template <LfoShape S>
    void install(bool modulated) {
        if (modulated) setProcessFunction<&Module::process_modulated<S>>();
        else setProcessFunction<&Module::process_steady<S>>();
    }

    void process_hold(int offset, int count) {
        m_out.fill(offset, count);
        if (m_out.settled()) sleep();
    }

    template <LfoShape S>
    void process_steady(int offset, int count) {
        const double amplitude = m_amplitude.value();
        const double increment = lfo_increment(m_rate.value(), getSampleRate());
        double phase = m_phase;
        float* out = m_out.data() + offset;
        for (int k = 0; k < count; ++k) {
            out[k] = static_cast<float>(amplitude * lfo_wave(S, phase));
            phase = lfo_advance(phase, increment);
        }
        m_phase = phase;
    }

    template <LfoShape S>
    void process_modulated(int offset, int count) {
        // A static input is read through a stride of 0, so one loop serves every mix.
        const float* rate = m_rate.streaming() ? m_rate.buffer() + offset : &m_rate_value;
        const float* amp = m_amplitude.streaming() ? m_amplitude.buffer() + offset : &m_amplitude_value;
        const int rate_stride = m_rate.streaming() ? 1 : 0;
        const int amp_stride = m_amplitude.streaming() ? 1 : 0;
        m_rate_value = m_rate.value();
        m_amplitude_value = m_amplitude.value();
        const double sample_rate = getSampleRate();
        double phase = m_phase;
        float* out = m_out.data() + offset;
        for (int k = 0; k < count; ++k) {
            out[k] = static_cast<float>(static_cast<double>(amp[k * amp_stride]) * lfo_wave(S, phase));
            phase = lfo_advance(phase, lfo_increment(rate[k * rate_stride], sample_rate));
        }
        m_phase = phase;
    }

    float* m_buffers[kPinCount] = {};
    int16_t m_shape = 0;
    AudioInput m_rate, m_amplitude;
    float m_rate_value = 0.0f, m_amplitude_value = 0.0f;
    SettledOutput m_out;
    double m_phase = 0.0;
};

}  // namespace

extern "C" MV_EXPORT int32_t MV_CDECL getModuleProperties(int32_t index, MVModuleProperties* p) {
    if (index != 0 || !p) return 0;
    mv::fill_properties(p, "MV_LFO", "MVHOST_LFO", kAbout, 2230);
    return 1;
}

MV_DEFINE_MAKE_MODULE(Module, void)
