// array_to_floats: module description, pins and the sleeping audio object.
#include "array_panel.h"
#include "mv_sdk2/mv_export.h"
#include "mv_sdk2/mv_module.h"
#include "mv_sdk2/mv_pin_table.h"

namespace {

const char kName[] = "ZR_ArrayToFloats";
const char kId[] = "quenby ZR_ArrayToFloats ";
const char kAbout[] =
    "ZR_ArrayToFloats module v1.0\n"
    "Splits a comma-separated list into \"Value\" outputs (connect as many as needed)\n"
    "and rebuilds the list when a value changes.";

// 0x4 and 0x40 on the duplicating output are the host's own markers for a growing list.
constexpr int32_t kValueFlags = IO_UI_COMMUNICATION | IO_DUPLICATES | 0x40 | 0x4;

const mv::PinDecl kPins[] = {
    {"Array", DR_IN, DT_TEXT, nullptr, nullptr, IO_UI_COMMUNICATION},
    {"# Items Out", DR_OUT, DT_FLOAT, nullptr, nullptr, IO_UI_COMMUNICATION},
    {"Value", DR_OUT, DT_FLOAT, nullptr, nullptr, kValueFlags},
};

class Module : public MVModule_base {
public:
    using MVModule_base::MVModule_base;

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
    p->module_flags = MF_HAS_GUI;
    return 1;
}

MV_DEFINE_MAKE_MODULE(Module, array_to_floats::ArrayPanel)
