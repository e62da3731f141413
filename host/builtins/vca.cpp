// MV_VCA: Out = Signal × Gain, with 10 V of gain as unity.
#include "audio_input.h"
#include "builtin_module.h"
#include "mv_sdk2/mv_export.h"
#include "mv_sdk2/mv_pin_table.h"
#include "settled_output.h"

namespace {

using namespace mvb;
using mv::describe_from;
using mv::PinDecl;

const char kAbout[] =
    "Voltage-controlled amplifier\n"
    "Out = Signal x Gain; a Gain of 10 V passes the signal unchanged.\n"
    "Negative gains invert the signal.";

enum { kSignal, kGain, kOut, kPinCount };
const PinDecl kPins[] = {
    {"Signal", DR_IN, DT_FSAMPLE, "0", "10,-10,10,-10", 0},
    {"Gain", DR_IN, DT_FSAMPLE, "10", "10,0,10,0", 0},
    {"Out", DR_OUT, DT_FSAMPLE, nullptr, nullptr, 0},
};

class Module : public BuiltinModule {
public:
    using BuiltinModule::BuiltinModule;

    bool describePin(int index, MVPinProperties* p) override {
        return describe_from(kPins, index, index >= 0 && index < kPinCount ? &m_buffers[index] : nullptr, p);
    }

    void open() override {
        if (!open_pins(kPinCount)) return;
        m_signal.bind(getPin(kSignal));
        m_gain.bind(getPin(kGain));
        m_out.bind(getPin(kOut), getBlockSize());
    }

    void pinStatusChanged(MVPin* pin) override {
        if (pin->getIndex() == kSignal) m_signal.update();
        if (pin->getIndex() == kGain) m_gain.update();
        reselect();
    }

private:
    void select(int clock) override {
        if (!m_out.data()) {
            setProcessFunction<&Module::process_idle>();
            return;
        }
        const bool s = m_signal.streaming(), g = m_gain.streaming();
        // A static zero on either side silences the other, streaming or not.
        const bool silent = (!s && m_signal.value() == 0.0f) || (!g && m_gain.value() == 0.0f);
        if ((!s && !g) || silent) {
            m_out.hold(clock, silent ? 0.0f : m_signal.value() * m_gain.value());
            setProcessFunction<&Module::process_hold>();
            return;
        }
        m_out.stream(clock);
        if (s && g) setProcessFunction<&Module::process_both>();
        else if (s) setProcessFunction<&Module::process_signal>();
        else setProcessFunction<&Module::process_gain>();
    }

    void process_hold(int offset, int count) {
        m_out.fill(offset, count);
        if (m_out.settled()) sleep();
    }

    void process_both(int offset, int count) {
        const float* sig = m_signal.buffer() + offset;
        const float* gain = m_gain.buffer() + offset;
        float* out = m_out.data() + offset;
        for (int k = 0; k < count; ++k) out[k] = sig[k] * gain[k];
    }

    void process_signal(int offset, int count) {
        const float* sig = m_signal.buffer() + offset;
        const float gain = m_gain.value();
        float* out = m_out.data() + offset;
        for (int k = 0; k < count; ++k) out[k] = sig[k] * gain;
    }

    void process_gain(int offset, int count) {
        const float sig = m_signal.value();
        const float* gain = m_gain.buffer() + offset;
        float* out = m_out.data() + offset;
        for (int k = 0; k < count; ++k) out[k] = sig * gain[k];
    }

    float* m_buffers[kPinCount] = {};
    AudioInput m_signal, m_gain;
    SettledOutput m_out;
};

}  // namespace

extern "C" MV_EXPORT int32_t MV_CDECL getModuleProperties(int32_t index, MVModuleProperties* p) {
    if (index != 0 || !p) return 0;
    mv::fill_properties(p, "MV_VCA", "MVHOST_VCA", kAbout, 2230);
    return 1;
}

MV_DEFINE_MAKE_MODULE(Module, void)
