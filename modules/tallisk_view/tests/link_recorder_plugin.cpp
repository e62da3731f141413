// A test-only module at the editor's end of the view link: it logs every message that reaches its
// "Wave in" (one per line, on its "Log" output) and forwards whatever a test writes to "Send" to
// its "Wave out".
#include <string>

#include "mv_sdk2/mv_export.h"
#include "mv_sdk2/mv_gui.h"
#include "mv_sdk2/mv_module.h"

namespace {

enum { kWaveIn, kWaveOut, kLog, kSend, kPins };

bool describe(int index, MVPinProperties* p) {
    static const char* const names[kPins] = {"Wave in", "Wave out", "Log", "Send"};
    static const int directions[kPins] = {DR_IN, DR_OUT, DR_OUT, DR_IN};
    if (index < 0 || index >= kPins || !p) return false;
    p->direction = directions[index];
    p->datatype = DT_TEXT;
    p->name = names[index];
    p->flags = IO_UI_COMMUNICATION;
    return true;
}

class RecorderModule : public MVModule_base {
public:
    using MVModule_base::MVModule_base;
    bool describePin(int index, MVPinProperties* p) override { return describe(index, p); }
    void open() override {
        MVModule_base::open();
        setProcessFunction<&RecorderModule::process>();
    }
    void process(int, int) { sleep(); }
};

class RecorderGui : public MVGUI_base {
public:
    using MVGUI_base::MVGUI_base;
    void pinChanged(MVPinChangedRecord* r) override {
        const char* text = getPinText(r->pin_index);
        const std::string t = text ? text : "";
        if (r->pin_index == kWaveIn) {
            m_log += t + "\n";
            setPinText(kLog, m_log.c_str());
        } else if (r->pin_index == kSend) {
            setPinText(kWaveOut, t.c_str());
        }
    }

private:
    std::string m_log;
};

}  // namespace

extern "C" MV_EXPORT int32_t MV_CDECL getModuleProperties(int32_t index, MVModuleProperties* p) {
    if (index != 0 || !p) return 0;
    mv::fill_properties(p, "TV_LinkRecorder", "TV_LinkRecorder test module", "Logs view-link messages.", 2230);
    p->module_flags = MF_HAS_GUI;
    return 1;
}

MV_DEFINE_MAKE_MODULE(RecorderModule, RecorderGui)
