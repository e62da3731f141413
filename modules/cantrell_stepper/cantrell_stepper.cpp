// cantrell_stepper: the stepper on the module SDK. Audio object only; the host gets no GUI object.
#include "mv_sdk2/mv_export.h"
#include "mv_sdk2/mv_module.h"
#include "stepper_core.h"

namespace {

const char kAbout[] =
    "ZR_Cantrell module V1.4\n"
    "Every rising edge on Pulse In moves the output by Step Amount between Start and End;\n"
    "a rising edge on Reset sets it back to Start (a reset wins over a pulse on the same sample).\n"
    "Bounds count whole volts inclusively; the Mode decides what happens at a bound.\n"
    "An edge is a change from exactly 0 V: a held pulse steps once.\n"
    "Free to use in any patch; no warranty.";

enum Pin {
    kPulsePin = 0,
    kStepPin = 1,
    kStartPin = 2,
    kEndPin = 3,
    kResetPin = 4,
    kModePin = 5,
    kOnPin = 6,
    kOutputPin = 7,
    kTolerancePin = 8,
    kPinCount = 9,
};

class Module : public MVModule_base {
public:
    using MVModule_base::MVModule_base;

    bool describePin(int index, MVPinProperties* p) override {
        switch (index) {
        case kPulsePin: return audio_input(p, &m_pulse, "Pulse In");
        case kStepPin: return audio_input(p, &m_step_in, "Step Amount");
        case kStartPin: return audio_input(p, &m_start, "Start");
        case kEndPin: return audio_input(p, &m_end, "End");
        case kResetPin: return audio_input(p, &m_reset, "Reset");
        case kModePin:
            p->variable = &m_mode;
            p->direction = DR_IN;
            p->datatype = DT_ENUM;
            p->name = "Mode";
            p->default_value = "0";
            p->datatype_extra = "Continuous,Stop at Bounds,Wrap at Bounds,Reverse at Bounds";
            return true;
        case kOnPin:
            p->variable = &m_on;
            p->direction = DR_IN;
            p->datatype = DT_ENUM;
            p->name = "Off/On";
            p->default_value = "1";
            p->datatype_extra = "Off,On";
            return true;
        case kOutputPin:
            p->variable = &m_out;
            p->direction = DR_OUT;
            p->datatype = DT_FSAMPLE;
            p->name = "Output";
            return true;
        case kTolerancePin:
            p->variable = &m_tolerance;
            p->direction = DR_PARAMETER;
            p->datatype = DT_FLOAT;
            p->name = "Tolerance for \"equal\"";
            p->default_value = "0.000001";
            return true;
        default: return false;
        }
    }

    void open() override {
        MVModule_base::open();
        setProcessFunction<&Module::step_process>();
    }

    void pinStatusChanged(MVPin* pin) override {
        if (pinCount() < kPinCount) return;
        int state = PIN_STATIC;
        for (int i = kPulsePin; i <= kOnPin; ++i) {
            if (getPin(i)->getStatus() > state) state = getPin(i)->getStatus();
        }
        const int changed = pin->getIndex();
        if (changed == kModePin) {
            m_core.set_value(0.0f);
            if (mode() == stepper::BoundMode::kReverse) {
                m_core.set_step(getPin(kStepPin)->getValue());
                m_core.set_direction(1.0f);
            }
        } else if (changed == kOnPin) {
            m_core.set_value(0.0f);
            if (m_on == 0) {
                m_core.set_step(0.0f);
            } else if (mode() == stepper::BoundMode::kReverse) {
                m_core.set_step(getPin(kStepPin)->getValue());
            }
        }
        // Off holds the output at 0 and sleeps whatever the inputs do, so a streaming input must
        // not bring the stepping loop back while the module is off.
        if (m_on == 0) state = PIN_CHANGED_ONCE;
        getPin(kOutputPin)->sendStatus(SampleClock(), state);
        if (state == PIN_STREAMING) {
            setProcessFunction<&Module::step_process>();
        } else {
            m_sleep_countdown = getBlockSize();
            setProcessFunction<&Module::one_shot_process>();
        }
    }

    void step_process(int buffer_offset, int sample_count) {
        if (!m_out) return;
        float* out = m_out + buffer_offset;
        if (!m_pulse || !m_step_in || !m_start || !m_end || !m_reset) {
            for (int i = 0; i < sample_count; ++i) out[i] = m_core.value();
            return;
        }
        const stepper::Inputs in{m_pulse + buffer_offset, m_step_in + buffer_offset, m_start + buffer_offset,
                                 m_end + buffer_offset, m_reset + buffer_offset};
        m_core.run(in, out, sample_count, mode(), m_tolerance);
    }

    void one_shot_process(int buffer_offset, int sample_count) {
        if (m_on != 0) {
            step_process(buffer_offset, sample_count);
        } else if (m_out) {
            float* out = m_out + buffer_offset;
            for (int i = 0; i < sample_count; ++i) out[i] = 0.0f;
        }
        m_sleep_countdown -= sample_count;
        if (m_sleep_countdown <= 0) sleep();
    }

private:
    static bool audio_input(MVPinProperties* p, float** buffer, const char* name) {
        p->variable = buffer;
        p->direction = DR_IN;
        p->datatype = DT_FSAMPLE;
        p->name = name;
        p->default_value = "0";
        return true;
    }

    stepper::BoundMode mode() const { return static_cast<stepper::BoundMode>(m_mode); }

    float* m_pulse = nullptr;
    float* m_step_in = nullptr;
    float* m_start = nullptr;
    float* m_end = nullptr;
    float* m_reset = nullptr;
    float* m_out = nullptr;
    stepper::StepperCore m_core;
    int32_t m_sleep_countdown = 0;
    int16_t m_mode = 0;
    int16_t m_on = 1;
    float m_tolerance = 0.000001f;
};

}  // namespace

extern "C" MV_EXPORT int32_t MV_CDECL getModuleProperties(int32_t index, MVModuleProperties* p) {
    if (!p) return 0;
    p->sdk_version = 2230;
    if (index != 0) return 0;
    mv::fill_properties(p, "ZR_Cantrell", "ZR_Cantrell module", kAbout, 2230);
    return 1;
}

MV_DEFINE_MAKE_MODULE(Module, void)
