// cantrell_stepper: the stepper on the module SDK. Audio object only; the host gets no GUI object.
#include "mv_sdk2/mv_export.h"
#include "mv_sdk2/mv_module.h"
#include "mv_sdk2/mv_pin_table.h"
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

const mv::PinDecl kPins[kPinCount] = {
    {"Pulse In", DR_IN, DT_FSAMPLE, "0"},
    {"Step Amount", DR_IN, DT_FSAMPLE, "0"},
    {"Start", DR_IN, DT_FSAMPLE, "0"},
    {"End", DR_IN, DT_FSAMPLE, "0"},
    {"Reset", DR_IN, DT_FSAMPLE, "0"},
    {"Mode", DR_IN, DT_ENUM, "0", "Continuous,Stop at Bounds,Wrap at Bounds,Reverse at Bounds"},
    {"Off/On", DR_IN, DT_ENUM, "1", "Off,On"},
    {"Output", DR_OUT, DT_FSAMPLE},
    {"Tolerance for \"equal\"", DR_PARAMETER, DT_FLOAT, "0.000001"},
};

class Module : public MVModule_base {
public:
    using MVModule_base::MVModule_base;

    bool describePin(int index, MVPinProperties* p) override {
        void* const variables[kPinCount] = {&m_pulse, &m_step_in, &m_start, &m_end,      &m_reset,
                                            &m_mode,  &m_on,      &m_out,   &m_tolerance};
        return mv::describe_from(kPins, index, variables, p);
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
