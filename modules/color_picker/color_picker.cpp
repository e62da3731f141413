// color_picker: module description, pins and the sleeping audio object.
#include <cstdio>

#include "colour_panel.h"
#include "mv_sdk2/mv_export.h"
#include "mv_sdk2/mv_module.h"
#include "mv_sdk2/mv_pin_table.h"

namespace {

const char kName[] = "ZR_ColorPicker";
const char kVersion[] = "2.0.0.1";
const char kAbout[] =
    "ZR_ColorPicker module v2.0\n"
    "Releasing \"Open\" opens the colour chooser; the colour comes out as R, G, B texts\n"
    "and as one integer (0x00BBGGRR), and is stored with the patch.";

const char* module_id() {
    static char id[64];
    static const bool built = (std::snprintf(id, sizeof id, "quenby %s %s+", kName, kVersion), true);
    (void)built;
    return id;
}

const mv::PinDecl kPins[] = {
    {"RGB Store", DR_IN, DT_INT, nullptr, nullptr, IO_PATCH_STORE | IO_UI_COMMUNICATION | IO_PRIVATE},
    {"Open", DR_IN, DT_BOOL, nullptr, nullptr, IO_UI_COMMUNICATION},
    {"R", DR_OUT, DT_TEXT, nullptr, nullptr, IO_UI_COMMUNICATION},
    {"G", DR_OUT, DT_TEXT, nullptr, nullptr, IO_UI_COMMUNICATION},
    {"B", DR_OUT, DT_TEXT, nullptr, nullptr, IO_UI_COMMUNICATION},
    {"RGB", DR_OUT, DT_INT, nullptr, nullptr, IO_UI_COMMUNICATION},
};
constexpr int kPinCount = sizeof kPins / sizeof kPins[0];

class Module : public MVModule_base {
public:
    using MVModule_base::MVModule_base;

    bool describePin(int index, MVPinProperties* p) override {
        if (index < 0 || index >= kPinCount) return false;
        return mv::describe_from(kPins, index, &m_slots[index], p);
    }

    void open() override {
        MVModule_base::open();
        setProcessFunction<&Module::sub_process>();
    }

    void sub_process(int, int) { sleep(); }

private:
    // The host may write these; with every pin on the GUI side the audio object never reads them.
    int32_t m_slots[kPinCount] = {};
};

}  // namespace

extern "C" MV_EXPORT int32_t MV_CDECL getModuleProperties(int32_t index, MVModuleProperties* p) {
    if (index != 0 || !p) return 0;
    mv::fill_properties(p, kName, module_id(), kAbout, 2190);
    p->module_flags = MF_HAS_GUI;
    return 1;
}

MV_DEFINE_MAKE_MODULE(Module, color_picker::ColourPanel)
