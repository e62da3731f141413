// Test plug-in: a ramp whose output is announced as streaming from open, before the host has sent
// the wired inputs their initial states.
#include "mv_sdk2/mv_export.h"
#include "mv_sdk2/mv_module.h"

namespace {

class Module : public MVModule_base {
public:
    using MVModule_base::MVModule_base;

    bool describePin(int index, MVPinProperties* p) override {
        if (index != 0) return false;
        p->variable = &m_out;
        p->direction = DR_OUT;
        p->datatype = DT_FSAMPLE;
        p->name = "Out";
        return true;
    }

    void open() override {
        MVModule_base::open();
        setProcessFunction<&Module::process>();
        if (pinCount() > 0) getPin(0)->sendStatus(SampleClock(), PIN_STREAMING);
    }

    void process(int offset, int count) {
        const int clock = SampleClock();
        for (int k = 0; k < count; ++k) m_out[offset + k] = static_cast<float>((clock + k) % 100) / 128.0f;
    }

private:
    float* m_out = nullptr;
};

}  // namespace

extern "C" MV_EXPORT int32_t MV_CDECL getModuleProperties(int32_t index, MVModuleProperties* p) {
    if (index != 0 || !p) return 0;
    mv::fill_properties(p, "TEST_OpenAnnouncer", "TEST_OPEN_ANNOUNCER", "test ramp", 2230);
    return 1;
}

MV_DEFINE_MAKE_MODULE(Module, void)
