// volt_to_index: a control voltage as a direct choice index (0 V = first item, 1 V = second, ...).
#include "index_conversion.h"
#include "mv_sdk2/mv_export.h"
#include "mv_sdk2/mv_gui.h"
#include "mv_sdk2/mv_module.h"
#include "mv_sdk2/mv_pin_table.h"

namespace {

const char kAbout[] =
    "Converts a Volt Value to DIRECT Choice Index\n"
    "Ver:2.0 Morvane modules team\n"
    "\n"
    "*Note: Index 0 = 1st Choice List Item\n"
    "\n"
    "Modes:-\n"
    "   Nearest: Voltage is rounded to nearest number/index\n"
    "   Floor: Voltage is rounded down\n"
    "    *Note: Due to the number system used in MV this mode is only accurate up to 300v\n"
    "\n"
    "Free to use in any patch, commercial or not; no warranty of any kind.";

enum Pin { kVoltsPin = 0, kIndexPin = 1, kModePin = 2, kPinCount = 3 };

const mv::PinDecl kPins[kPinCount] = {
    {"Volts", DR_IN, DT_FSAMPLE},
    {"(Choice) Index", DR_OUT, DT_ENUM},
    {"Mode", DR_IN, DT_ENUM, "1", "Floor,Nearest"},
};

class Module : public MVModule_base {
public:
    using MVModule_base::MVModule_base;

    bool describePin(int index, MVPinProperties* p) override {
        void* const variables[kPinCount] = {&m_input, &m_index, &m_mode};
        return mv::describe_from(kPins, index, variables, p);
    }

    void open() override {
        MVModule_base::open();
        m_block_size = getBlockSize();
        // A host that holds fewer pins than described (or none, without a callback) leaves the
        // pin pointers null; every use checks them.
        const bool have_pins = pinCount() >= kPinCount;
        m_output_pin = have_pins ? getPin(kIndexPin) : nullptr;
        m_input_pin = have_pins ? getPin(kVoltsPin) : nullptr;
        setProcessFunction<&Module::process<vti::Rounding::kFloor>>();
    }

    void pinStatusChanged(MVPin* pin) override {
        switch (pin->getIndex()) {
        case kVoltsPin:
            if (pin->getStatus() == PIN_STREAMING) {
                m_static = 0;
                return;
            }
            m_static = 1;
            convert_once();
            return;
        case kModePin:
            if (m_mode != 0) {
                setProcessFunction<&Module::process<vti::Rounding::kNearest>>();
            } else {
                setProcessFunction<&Module::process<vti::Rounding::kFloor>>();
            }
            if (m_input_pin && m_input_pin->getStatus() == PIN_STREAMING) return;
            m_static = 1;
            convert_once();
            return;
        default: return;
        }
    }

    template <vti::Rounding kMode>
    void process(int buffer_offset, int sample_count) {
        if (m_static || !m_input) {
            sleep();
            return;
        }
        const float* in = m_input + buffer_offset;
        int16_t index = m_index;
        int clock = 0;
        bool clock_known = false;
        for (int k = 0; k < sample_count; ++k) {
            const int16_t next = vti::to_index(kMode, in[k]);
            if (next == index) continue;
            index = next;
            m_index = next;
            if (!clock_known) {
                clock = SampleClock();
                clock_known = true;
            }
            announce(clock + k);
        }
    }

private:
    vti::Rounding rounding() const { return m_mode != 0 ? vti::Rounding::kNearest : vti::Rounding::kFloor; }

    void convert_once() {
        if (!m_input_pin || !m_input) return;
        const int16_t next = vti::to_index(rounding(), m_input_pin->getValue());
        if (next == m_index) return;
        m_index = next;
        announce(SampleClock());
    }

    void announce(int clock) {
        if (m_output_pin) m_output_pin->sendStatus(clock, PIN_CHANGED_ONCE);
    }

    float* m_input = nullptr;
    MVPin* m_output_pin = nullptr;
    MVPin* m_input_pin = nullptr;
    int m_block_size = 0;
    int32_t m_static = 0;  // until the host's first state event, the process function converts
    int16_t m_index = 0;
    int16_t m_mode = 0;
};

}  // namespace

extern "C" MV_EXPORT int32_t MV_CDECL getModuleProperties(int32_t index, MVModuleProperties* p) {
    if (index != 0 || !p) return 0;
    mv::fill_properties(p, "WN_Volt_to_Index", "Volt_to_DT_ENUM_Index_WN2003a", kAbout, 2230);
    return 1;
}

MV_DEFINE_MAKE_MODULE(Module, MVEmptyGui)
