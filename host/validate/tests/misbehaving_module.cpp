// A small gain module that the validator's tests build in several variants, each breaking one
// rule on purpose (MISBEHAVE_* below); built without any of them it follows every rule and must
// pass. One input, one gain choice, a MIDI input, one output, and a panel colour kept with the patch.
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "mv_sdk2/mv_export.h"
#include "mv_sdk2/mv_gui.h"
#include "mv_sdk2/mv_module.h"

#if MISBEHAVE_EXTRA_EXPORT
extern "C" __attribute__((visibility("default"))) int validator_test_extra_symbol() { return 42; }
#endif

namespace {

#if MISBEHAVE_LOCKS
std::mutex g_mutex;
#endif

#if MISBEHAVE_RACES
// Written by the audio object and by the GUI object without any synchronisation: a data race
// whenever the host runs the two on different threads.
int g_shared = 0;
#endif

class Module : public MVModule_base {
public:
    using MVModule_base::MVModule_base;

    bool describePin(int index, MVPinProperties* p) override {
        switch (index) {
        case 0:
            p->variable = &m_in;
            p->direction = DR_IN;
            p->datatype = DT_FSAMPLE;
            p->name = "Signal In";
            p->default_value = "0";
            p->datatype_extra = "10,-10,10,-10";
            return true;
        case 1:
            p->variable = &m_gain;
            p->direction = DR_IN;
            p->datatype = DT_ENUM;
            p->name = "Gain";
            p->default_value = "1";
#if MISBEHAVE_PIN_TABLE
            p->datatype_extra = "half=,full=1,double=99999";
            p->flags = IO_PATCH_STORE | IO_DUPLICATES;
#else
            p->datatype_extra = "off=0,half=1,full=2";
#endif
            return true;
        case 2:
            p->direction = DR_IN;
            p->datatype = DT_MIDI;
            p->name = "MIDI In";
            return true;
        case 3:
            p->variable = &m_out;
            p->direction = DR_OUT;
            p->datatype = DT_FSAMPLE;
            p->name = "Signal Out";
            return true;
        case 4:
            // The panel's colour, kept with the patch; the audio side never sees it.
            p->direction = DR_IN;
            p->datatype = DT_INT;
            p->name = "Colour";
            p->default_value = "7";
            p->flags = IO_UI_COMMUNICATION | IO_PATCH_STORE | IO_PRIVATE;
            return true;
        default: return false;
        }
    }

    void open() override {
        MVModule_base::open();
        setProcessFunction<&Module::run>();
#if MISBEHAVE_LEAK
        // Never freed: every instance loses this block.
        m_lost = new std::vector<float>(64);
#endif
    }

    void midiReceived(int, int word, int) override {
#if MISBEHAVE_CRASH
        if ((word & 0xF0) == 0x90) {
            volatile int* nowhere = nullptr;
            *nowhere = word;
        }
#else
        m_notes += (word & 0xF0) == 0x90;
#endif
    }

    void run(int offset, int count) {
#if MISBEHAVE_ALLOCATES
        std::vector<float> scratch(static_cast<size_t>(count) + 1);
        m_sink += scratch.size();
#endif
#if MISBEHAVE_LOCKS
        std::lock_guard<std::mutex> lock(g_mutex);
#endif
#if MISBEHAVE_RACES
        g_shared += count;
#endif
#if MISBEHAVE_HANGS
        volatile bool forever = true;
        while (forever) {
        }
#endif
        if (!m_in || !m_out) return;
        const float gain = 0.5f * static_cast<float>(m_gain);
        const float* in = m_in + offset;
        float* out = m_out + offset;
        for (int i = 0; i < count; ++i) out[i] = std::tanh(in[i]) * gain;
#if MISBEHAVE_OUTPUT
        if (count > 0) {
            out[0] = std::nanf("");
            out[count] = 0.25f;  // one past the call's samples
        }
#endif
    }

private:
    float* m_in = nullptr;
    float* m_out = nullptr;
    int16_t m_gain = 1;
    int m_notes = 0;
#if MISBEHAVE_ALLOCATES
    size_t m_sink = 0;
#endif
#if MISBEHAVE_LEAK
    std::vector<float>* m_lost = nullptr;
#endif
};

class Panel : public MVGUI_base {
public:
    using MVGUI_base::MVGUI_base;

    void guiOpen(bool restored) override {
#if MISBEHAVE_FORGETS_STATE
        (void)restored;
        setPinInt(kColourPin, 7);
#else
        if (!restored) setPinInt(kColourPin, 7);
#endif
        m_colour = getPinInt(kColourPin);
    }
    void pinChanged(MVPinChangedRecord* record) override {
#if MISBEHAVE_RACES
        ++g_shared;
#endif
        if (record && record->pin_index == kColourPin) m_colour = getPinInt(kColourPin);
    }
    void pointerDown(MVPanelRecord*, float, int x, int y) override {
#if MISBEHAVE_RACES
        ++g_shared;
#endif
        if (x >= 0 && y >= 0) setPinInt(kColourPin, static_cast<int>((static_cast<uint32_t>(m_colour) + 1) & 0xFFFFFF));
    }

private:
    static constexpr int kColourPin = 4;
    int32_t m_colour = 7;
};

}  // namespace

extern "C" MV_EXPORT int32_t MV_CDECL getModuleProperties(int32_t index, MVModuleProperties* p) {
    if (index != 0 || !p) return 0;
    mv::fill_properties(p, "VT_Gain", "VALIDATOR_TEST_GAIN", "A gain stage for the validator's tests", 2230);
    return 1;
}

MV_DEFINE_MAKE_MODULE(Module, Panel)
