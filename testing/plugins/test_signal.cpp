// test_signal: the tests' source of exact, clock-locked signals, fed to the module under test
// through real wires. "Shape": an impulse at clock 0, a ramp of clock / 4096, a sine of period 100
// samples, a three-step pattern (clock % 3), a saw of (clock % 100) / 128, or "Written": the
// module never touches its buffer, and the test writes it before each block. Each computed shape
// is multiplied by "Scale". The output is announced as streaming once, at the first block
// ("Announce" First block: after the host's initial states) or from open (before them).
#include "mv_sdk2/mv_export.h"
#include "mv_sdk2/mv_module.h"
#include "mv_sdk2/mv_pin_table.h"

#include <cmath>

namespace {

enum Shape { kImpulse, kRamp, kSine, kSteps, kSaw, kWritten };
enum Announce { kAtFirstBlock, kAtOpen };

const mv::PinDecl kPins[] = {
    {"Out", DR_OUT, DT_FSAMPLE},
    {"Shape", DR_IN, DT_ENUM, "0", "Impulse,Ramp,Sine,Steps,Saw,Written"},
    {"Scale", DR_IN, DT_FLOAT, "1"},
    {"Announce", DR_IN, DT_ENUM, "0", "First block,Open"},
};

class Module : public MVModule_base {
public:
    using MVModule_base::MVModule_base;

    bool describePin(int index, MVPinProperties* p) override {
        void* const variables[] = {&m_out, &m_shape, &m_scale, &m_announce};
        return mv::describe_from(kPins, index, variables, p);
    }

    void open() override {
        MVModule_base::open();
        setProcessFunction<&Module::process>();
        if (m_announce == kAtOpen) announce();
    }

    void process(int buffer_offset, int sample_count) {
        const int clock = SampleClock();
        announce();
        if (!m_out || m_shape == kWritten) return;
        for (int i = 0; i < sample_count; ++i) m_out[buffer_offset + i] = m_scale * shape(clock + i);
    }

private:
    void announce() {
        if (m_announced || pinCount() < 1) return;
        m_announced = true;
        getPin(0)->sendStatus(SampleClock(), PIN_STREAMING);
    }

    float shape(int t) const {
        switch (m_shape) {
        case kImpulse: return t == 0 ? 1.0f : 0.0f;
        case kRamp: return static_cast<float>(t) / 4096.0f;
        case kSine: return 0.5f * std::sin(6.2831853f * static_cast<float>(t % 100) / 100.0f);
        case kSteps: return static_cast<float>(t % 3);
        default: return static_cast<float>(t % 100) / 128.0f;
        }
    }

    float* m_out = nullptr;
    int16_t m_shape = kImpulse;
    float m_scale = 1.0f;
    int16_t m_announce = kAtFirstBlock;
    bool m_announced = false;
};

}  // namespace

extern "C" MV_EXPORT int32_t MV_CDECL getModuleProperties(int32_t index, MVModuleProperties* p) {
    if (index != 0 || !p) return 0;
    mv::fill_properties(p, "TEST_Signal", "TEST_SIGNAL", "Test signal source", 2230);
    return 1;
}

MV_DEFINE_MAKE_MODULE(Module, void)
