// MV_Constant: a voltage set in the patch, held on "Out"; a wired "Value" is passed through.
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
    "Constant voltage\n"
    "Out holds the voltage set on Value.\n"
    "A signal wired into Value passes through unchanged.";

enum { kValue, kOut, kPinCount };
const PinDecl kPins[] = {
    {"Value", DR_IN, DT_FSAMPLE, "0", "10,-10,10,-10", 0},
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
        m_value.bind(getPin(kValue));
        m_out.bind(getPin(kOut), getBlockSize());
    }

    void pinStatusChanged(MVPin* pin) override {
        if (pin->getIndex() == kValue) m_value.update();
        reselect();
    }

private:
    void select(int clock) override {
        if (!m_out.data()) {
            setProcessFunction<&Module::process_idle>();
        } else if (m_value.streaming()) {
            m_out.stream(clock);
            setProcessFunction<&Module::process_follow>();
        } else {
            m_out.hold(clock, m_value.value());
            setProcessFunction<&Module::process_hold>();
        }
    }

    void process_hold(int offset, int count) {
        m_out.fill(offset, count);
        if (m_out.settled()) sleep();
    }

    void process_follow(int offset, int count) {
        const float* in = m_value.buffer() + offset;
        float* out = m_out.data() + offset;
        for (int k = 0; k < count; ++k) out[k] = in[k];
    }

    float* m_buffers[kPinCount] = {};
    AudioInput m_value;
    SettledOutput m_out;
};

}  // namespace

extern "C" MV_EXPORT int32_t MV_CDECL getModuleProperties(int32_t index, MVModuleProperties* p) {
    if (index != 0 || !p) return 0;
    mv::fill_properties(p, "MV_Constant", "MVHOST_CONSTANT", kAbout, 2230);
    return 1;
}

MV_DEFINE_MAKE_MODULE(Module, void)
