// array_to_floats: module description, pins and the sleeping audio object.
#include "array_panel.h"
#include "mv_sdk2/mv_export.h"
#include "mv_sdk2/mv_module.h"

namespace {

const char kName[] = "ZR_ArrayToFloats";
const char kId[] = "quenby ZR_ArrayToFloats ";
const char kAbout[] =
    "ZR_ArrayToFloats module v1.0\n"
    "Splits a comma-separated list into \"Value\" outputs (connect as many as needed)\n"
    "and rebuilds the list when a value changes.";

// 0x4 and 0x40 on the duplicating output are the host's own markers for a growing list.
constexpr int32_t kValueFlags = IO_UI_COMMUNICATION | IO_DUPLICATES | 0x40 | 0x4;

class Module : public MVModule_base {
public:
    using MVModule_base::MVModule_base;

    bool describePin(int index, MVPinProperties* p) override {
        if (!p) return false;
        switch (index) {
        case 0: set(p, "Array", DR_IN, DT_TEXT, IO_UI_COMMUNICATION); return true;
        case 1: set(p, "# Items Out", DR_OUT, DT_FLOAT, IO_UI_COMMUNICATION); return true;
        case 2: set(p, "Value", DR_OUT, DT_FLOAT, kValueFlags); return true;
        default: return false;
        }
    }

    void open() override {
        MVModule_base::open();
        setProcessFunction<&Module::sub_process>();
    }

    void sub_process(int, int) { sleep(); }

private:
    static void set(MVPinProperties* p, const char* name, int32_t direction, int32_t datatype, int32_t flags) {
        p->name = name;
        p->direction = direction;
        p->datatype = datatype;
        p->flags = flags;
    }
};

}  // namespace

extern "C" MV_EXPORT int32_t MV_CDECL getModuleProperties(int32_t index, MVModuleProperties* p) {
    if (index != 0 || !p) return 0;
    mv::fill_properties(p, kName, kId, kAbout, 2230);
    p->module_flags = MF_HAS_GUI;
    return 1;
}

MV_DEFINE_MAKE_MODULE(Module, array_to_floats::ArrayPanel)
