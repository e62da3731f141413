// tallisk_view's exports: the module description, its pins and the audio object, which only
// sleeps; all the work is in the GUI object.
#include "mv_sdk2/mv_export.h"
#include "mv_sdk2/mv_module.h"
#include "mv_sdk2/mv_pin_table.h"
#include "wave_view.h"

namespace {

const char kName[] = "QB_WaveView";
// Patches store the identifier; it never changes once released.
const char kId[] = "QB_Tallisk_WaveView_1";
const char kAbout[] =
    "Tallisk wave view\n"
    "Shows the waveform being edited in a tallisk wavetable editor and lets you change it.\n"
    "Wire this view's \"Wave out\" to the editor's \"Wave in\", and the editor's \"Wave out\"\n"
    "back to this view's \"Wave in\".\n"
    "Mode: Select steps through the waveforms (click: next; drag up or down: next or previous),\n"
    "Draw draws with the mouse, Move scrolls a zoomed view, Zoom zooms (drag up: in, down: out).\n"
    "Readout gives position and value under the mouse.";

const mv::PinDecl kPins[tallisk_view::kPinCount] = {
    {"Wave in", DR_IN, DT_TEXT, nullptr, nullptr, IO_UI_COMMUNICATION},
    {"Mode", DR_IN, DT_ENUM, nullptr, "Select,Draw,Move,Zoom", IO_UI_COMMUNICATION | IO_PATCH_STORE},
    {"Wave out", DR_OUT, DT_TEXT, nullptr, nullptr, IO_UI_COMMUNICATION},
    {"Readout", DR_OUT, DT_TEXT, nullptr, nullptr, IO_UI_COMMUNICATION},
};

class Module : public MVModule_base {
public:
    using MVModule_base::MVModule_base;

    // Every pin belongs to the GUI side, so the audio object keeps no values of its own.
    bool describePin(int index, MVPinProperties* p) override {
        // Every pin is on the GUI side; the SDK gives them storage the audio object never reads.
        return mv::describe_from(kPins, index, nullptr, p);
    }

    void open() override {
        MVModule_base::open();
        setProcessFunction<&Module::sub_process>();
    }

    void sub_process(int, int) { sleep(); }
};

}  // namespace

extern "C" MV_EXPORT int32_t MV_CDECL getModuleProperties(int32_t index, MVModuleProperties* p) {
    if (index != 0 || !p) return 0;
    mv::fill_properties(p, kName, kId, kAbout, 2230);
    p->module_flags = MF_HAS_GUI | MF_GUI_DRAWS;
    return 1;
}

MV_DEFINE_MAKE_MODULE(Module, tallisk_view::WaveView)
