// MV_AudioIn: sound from outside the patch (a plug-in host's audio inputs, a file given to
// `mvhost apply`). The engine writes each block of the driver's input channels into "Left" and
// "Right" before the block runs; the module itself only tells the patch that both stream.
#include "builtin_module.h"
#include "mv_sdk2/mv_export.h"
#include "mv_sdk2/mv_pin_table.h"
#include "settled_output.h"

namespace {

using namespace mvb;
using mv::describe_from;
using mv::PinDecl;

const char kAbout[] =
    "Audio input\n"
    "Left and Right play the sound the host feeds in (1.0 = 10 V).\n"
    "Channels: Stereo takes two input channels, Mono one, heard on both outputs.";

enum { kChannels, kLeft, kRight, kPinCount };
const PinDecl kPins[] = {
    {"Channels", DR_IN, DT_ENUM, "0", "Stereo,Mono", 0},
    {"Left", DR_OUT, DT_FSAMPLE, nullptr, nullptr, 0},
    {"Right", DR_OUT, DT_FSAMPLE, nullptr, nullptr, 0},
};

class Module : public BuiltinModule {
public:
    using BuiltinModule::BuiltinModule;

    bool describePin(int index, MVPinProperties* p) override {
        void* variable = nullptr;
        if (index == kChannels) variable = &m_channels;
        else if (index > kChannels && index < kPinCount) variable = &m_buffers[index];
        return describe_from(kPins, index, variable, p);
    }

    void open() override {
        if (!open_pins(kPinCount)) return;
        m_left.bind(getPin(kLeft), getBlockSize());
        m_right.bind(getPin(kRight), getBlockSize());
    }

    void pinStatusChanged(MVPin*) override {}

private:
    void select(int clock) override {
        if (!m_left.data() || !m_right.data()) {
            setProcessFunction<&Module::process_idle>();
            return;
        }
        m_left.stream(clock);
        m_right.stream(clock);
        setProcessFunction<&Module::process_fed>();
    }

    // The buffers already hold the block: the engine wrote them before the run.
    void process_fed(int, int) {}

    int16_t m_channels = 0;
    float* m_buffers[kPinCount] = {};
    SettledOutput m_left, m_right;
};

}  // namespace

extern "C" MV_EXPORT int32_t MV_CDECL getModuleProperties(int32_t index, MVModuleProperties* p) {
    if (index != 0 || !p) return 0;
    mv::fill_properties(p, "MV_AudioIn", "MVHOST_AUDIO_IN", kAbout, 2230);
    return 1;
}

MV_DEFINE_MAKE_MODULE(Module, void)
