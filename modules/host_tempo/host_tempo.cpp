// host_tempo: the host's tempo as a voltage (120 BPM come out as 120 V, the float 12.0).
#include "mv_sdk2/mv_export.h"
#include "mv_sdk2/mv_gui.h"
#include "mv_sdk2/mv_module.h"
#include "mv_sdk2/mv_pin_table.h"

namespace {

const char kAbout[] =
    "Host Tempo/Bpm Value\n"
    "Ver:2.0\n"
    "Outputs the host tempo in BPM as volts (120 BPM = 120 V).\n"
    "Free to use in any patch; no warranty.";

const mv::PinDecl kPins[] = {
    {"Tempo/BPM Out", DR_OUT, DT_FSAMPLE},
};

class Module : public MVModule_base {
public:
    using MVModule_base::MVModule_base;

    bool describePin(int index, MVPinProperties* p) override {
        return mv::describe_from(kPins, index, &m_out, p);
    }

    void open() override {
        MVModule_base::open();
        m_value = 0.0f;
        m_hold = 0;
        m_out_pin = pinCount() > 0 ? getPin(0) : nullptr;
        setProcessFunction<&Module::sub_process>();
        m_block_size = getBlockSize();
    }

    void sub_process(int buffer_offset, int sample_count) {
        const auto* info = reinterpret_cast<const MVTimeInfo*>(CallHost(AM_TIME_INFO, 0, kMVTimeInfoTempoMask));
        if (info) {
            float x = static_cast<float>(info->tempo * 0.1);
            if (x == 0.0f) x = 12.0f;
            if (x != m_value) {
                m_value = x;
                m_hold = m_block_size;
                if (m_out_pin) m_out_pin->sendStatus(SampleClock(), PIN_CHANGED_ONCE);
            }
        }
        if (m_hold >= 0) {
            m_hold -= sample_count;
            if (m_out) {
                float* out = m_out + buffer_offset;
                for (int i = 0; i < sample_count; ++i) out[i] = m_value;
            }
        }
    }

private:
    float* m_out = nullptr;
    float m_value = 0.0f;
    MVPin* m_out_pin = nullptr;
    int m_hold = 0;
    int m_block_size = 0;
};

}  // namespace

extern "C" MV_EXPORT int32_t MV_CDECL getModuleProperties(int32_t index, MVModuleProperties* p) {
    if (index != 0 || !p) return 0;
    mv::fill_properties(p, "WN_Host_BPM", "HOST_BPM_VALUE_WN2003a", kAbout, 2230);
    return 1;
}

MV_DEFINE_MAKE_MODULE(Module, MVEmptyGui)
