// A module that does nothing, awake: one audio input, one audio output, an empty process
// function. What a host costs per instance is what a patch of these costs.
#include "mv_sdk2/mv_export.h"
#include "mv_sdk2/mv_module.h"

namespace {

class NullModule : public MVModule_base {
public:
    using MVModule_base::MVModule_base;

    bool describePin(int index, MVPinProperties* p) override {
        if (!p || index < 0 || index > 1) return false;
        p->variable = &m_buffers[index];
        p->direction = index == 0 ? DR_IN : DR_OUT;
        p->datatype = DT_FSAMPLE;
        p->name = index == 0 ? "In" : "Out";
        p->default_value = "0";
        p->datatype_extra = "10,-10,10,-10";
        p->flags = 0;
        return true;
    }

    void open() override {
        MVModule_base::open();
        setProcessFunction<&NullModule::process>();
    }

private:
    void process(int, int) {}
    float* m_buffers[2] = {};
};

}  // namespace

extern "C" MV_EXPORT int32_t MV_CDECL getModuleProperties(int32_t index, MVModuleProperties* p) {
    if (index != 0 || !p) return 0;
    mv::fill_properties(p, "MV_Null", "MVBENCH_NULL", "Does nothing", 2230);
    return 1;
}

MV_DEFINE_MAKE_MODULE(NullModule, void)
