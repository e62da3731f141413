// MV_Mixer: Out is the sum of every wired "In", added in pin order.
#include <vector>

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
    "Mixer\n"
    "Out = the sum of all In pins, in the order they were connected.\n"
    "Each connection to the last In adds a further In.";

// "In" is declared last because only the last pin can duplicate.
enum { kOut, kFirstIn, kDeclared };
const PinDecl kPins[] = {
    {"Out", DR_OUT, DT_FSAMPLE, nullptr, nullptr, 0},
    {"In", DR_IN, DT_FSAMPLE, "0", "10,-10,10,-10", IO_DUPLICATES},
};

class Module : public BuiltinModule {
public:
    using BuiltinModule::BuiltinModule;

    bool describePin(int index, MVPinProperties* p) override {
        return describe_from(kPins, index, index >= 0 && index < kDeclared ? &m_buffers[index] : nullptr, p);
    }

    void open() override {
        if (!open_pins(kDeclared)) return;
        m_out.bind(getPin(kOut), getBlockSize());
        m_inputs.assign(pinCount() - kFirstIn, AudioInput{});
        for (size_t i = 0; i < m_inputs.size(); ++i) m_inputs[i].bind(getPin(kFirstIn + static_cast<int>(i)));
    }

    void pinStatusChanged(MVPin* pin) override {
        const int i = pin->getIndex() - kFirstIn;
        if (i >= 0 && i < static_cast<int>(m_inputs.size())) m_inputs[i].update();
        reselect();
    }

private:
    void select(int clock) override {
        if (!m_out.data()) {
            setProcessFunction<&Module::process_idle>();
            return;
        }
        bool streaming = false;
        float sum = 0.0f;
        for (const AudioInput& in : m_inputs) {
            streaming = streaming || in.streaming();
            sum += in.value();
        }
        if (streaming) {
            m_out.stream(clock);
            setProcessFunction<&Module::process_sum>();
        } else {
            m_out.hold(clock, sum);
            setProcessFunction<&Module::process_hold>();
        }
    }

    void process_hold(int offset, int count) {
        m_out.fill(offset, count);
        if (m_out.settled()) sleep();
    }

    void process_sum(int offset, int count) {
        float* out = m_out.data() + offset;
        for (int k = 0; k < count; ++k) out[k] = 0.0f;
        for (const AudioInput& in : m_inputs) {
            if (in.streaming()) {
                const float* x = in.buffer() + offset;
                for (int k = 0; k < count; ++k) out[k] += x[k];
            } else {
                const float x = in.value();
                for (int k = 0; k < count; ++k) out[k] += x;
            }
        }
    }

    float* m_buffers[kDeclared] = {};
    std::vector<AudioInput> m_inputs;
    SettledOutput m_out;
};

}  // namespace

extern "C" MV_EXPORT int32_t MV_CDECL getModuleProperties(int32_t index, MVModuleProperties* p) {
    if (index != 0 || !p) return 0;
    mv::fill_properties(p, "MV_Mixer", "MVHOST_MIXER", kAbout, 2230);
    return 1;
}

MV_DEFINE_MAKE_MODULE(Module, void)
