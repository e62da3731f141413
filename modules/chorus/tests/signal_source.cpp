// A test-only source plug-in: exact, clock-locked signals to feed the chorus through real wires.
// Shapes: an impulse at clock 0, a ramp of clock / 4096, a sine of period 100 samples, and a
// three-step pattern (clock % 3); each scaled by "Scale". The output is announced as streaming.
#include "mv_sdk2/mv_export.h"
#include "mv_sdk2/mv_gui.h"
#include "mv_sdk2/mv_module.h"

#include <cmath>

namespace {

class Module : public MVModule_base {
public:
    using MVModule_base::MVModule_base;

    bool describePin(int index, MVPinProperties* p) override {
        switch (index) {
        case 0:
            p->variable = &m_out;
            p->direction = DR_OUT;
            p->datatype = DT_FSAMPLE;
            p->name = "Signal";
            return true;
        case 1:
            p->variable = &m_shape;
            p->direction = DR_IN;
            p->datatype = DT_ENUM;
            p->name = "Shape";
            p->default_value = "0";
            p->datatype_extra = "Impulse,Ramp,Sine,Steps";
            return true;
        case 2:
            p->variable = &m_scale;
            p->direction = DR_IN;
            p->datatype = DT_FLOAT;
            p->name = "Scale";
            p->default_value = "1";
            return true;
        default: return false;
        }
    }

    void open() override {
        MVModule_base::open();
        setProcessFunction<&Module::sub_process>();
    }

    void sub_process(int buffer_offset, int sample_count) {
        const int clock = SampleClock();
        if (!m_announced && pinCount() > 0) {
            getPin(0)->sendStatus(clock, PIN_STREAMING);
            m_announced = true;
        }
        if (!m_out) return;
        for (int i = 0; i < sample_count; ++i) m_out[buffer_offset + i] = m_scale * shape(clock + i);
    }

private:
    float shape(int t) const {
        switch (m_shape) {
        case 0: return t == 0 ? 1.0f : 0.0f;
        case 1: return static_cast<float>(t) / 4096.0f;
        case 2: return 0.5f * std::sin(6.2831853f * static_cast<float>(t % 100) / 100.0f);
        default: return static_cast<float>(t % 3);
        }
    }

    float* m_out = nullptr;
    int16_t m_shape = 0;
    float m_scale = 1.0f;
    bool m_announced = false;
};

}  // namespace

extern "C" MV_EXPORT int32_t MV_CDECL getModuleProperties(int32_t index, MVModuleProperties* p) {
    if (index != 0 || !p) return 0;
    mv::fill_properties(p, "Test_Signal", "CHORUS_TEST_SIGNAL", "Test signal source", 2230);
    return 1;
}

MV_DEFINE_MAKE_MODULE(Module, void)
