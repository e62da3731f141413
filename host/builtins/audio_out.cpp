// MV_AudioOut: the patch's output. The host records its two inputs; the module itself has no work.
#include "audio_input.h"
#include "builtin_module.h"
#include "mv_sdk2/mv_export.h"
#include "mv_sdk2/mv_pin_table.h"

namespace {

using namespace mvb;
using mv::describe_from;
using mv::PinDecl;

const char kAbout[] =
    "Audio output\n"
    "The host records Left and Right into the rendered file.";

enum { kLeft, kRight, kPinCount };
const PinDecl kPins[] = {
    {"Left", DR_IN, DT_FSAMPLE, "0", "10,-10,10,-10", 0},
    {"Right", DR_IN, DT_FSAMPLE, "0", "10,-10,10,-10", 0},
};

class Module : public BuiltinModule {
public:
    using BuiltinModule::BuiltinModule;

    bool describePin(int index, MVPinProperties* p) override {
        return describe_from(kPins, index, index >= 0 && index < kPinCount ? &m_buffers[index] : nullptr, p);
    }

    void open() override {
        if (!open_pins(kPinCount)) return;
        m_left.bind(getPin(kLeft));
        m_right.bind(getPin(kRight));
    }

    void pinStatusChanged(MVPin* pin) override {
        if (pin->getIndex() == kLeft) m_left.update();
        if (pin->getIndex() == kRight) m_right.update();
        reselect();
    }

private:
    // Awake while a signal streams in, as a host that only feeds awake modules needs; asleep
    // otherwise.
    void select(int) override {
        if (m_left.streaming() || m_right.streaming()) setProcessFunction<&Module::process_listen>();
        else setProcessFunction<&Module::process_idle>();
    }

    void process_listen(int, int) {}

    float* m_buffers[kPinCount] = {};
    AudioInput m_left, m_right;
};

}  // namespace

extern "C" MV_EXPORT int32_t MV_CDECL getModuleProperties(int32_t index, MVModuleProperties* p) {
    if (index != 0 || !p) return 0;
    mv::fill_properties(p, "MV_AudioOut", "MVHOST_AUDIO_OUT", kAbout, 2230);
    return 1;
}

MV_DEFINE_MAKE_MODULE(Module, void)
