// test_feed: a test-only source whose output buffer the test writes before each block. It tells
// the wired inputs once that it streams and never touches its buffer, so the test's samples reach
// the module under test exactly as written.
#include "mv_sdk2/mv_export.h"
#include "mv_sdk2/mv_gui.h"
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
    }

    // Announced from the first block rather than from open, so that the announcement reaches the
    // wired inputs after the host's initial states.
    void process(int, int) {
        if (m_announced || pinCount() < 1) return;
        m_announced = true;
        getPin(0)->sendStatus(SampleClock(), PIN_STREAMING);
    }

private:
    float* m_out = nullptr;
    bool m_announced = false;
};

}  // namespace

extern "C" MV_EXPORT int32_t MV_CDECL getModuleProperties(int32_t index, MVModuleProperties* p) {
    if (index != 0 || !p) return 0;
    mv::fill_properties(p, "TEST_Feed", "TEST_Feed", "Test source: a buffer the test writes.", 2230);
    return 1;
}

MV_DEFINE_MAKE_MODULE(Module, void)
