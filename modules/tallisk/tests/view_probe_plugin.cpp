// A test-only stand-in for the wave view's end of the view link: it logs every message that reaches
// its "Wave in" and "FFT in" pins (one per line, on its "Log" output) and forwards whatever text the
// test puts on "Send wave" / "Send fft" to its "Wave out" / "FFT out", as a view would.
#include <string>

#include "mv_sdk2/mv_export.h"
#include "mv_sdk2/mv_gui.h"
#include "mv_sdk2/mv_module.h"

namespace {

enum { kWaveIn, kFftIn, kWaveOut, kFftOut, kLog, kSendWave, kSendFft, kPins };

bool describe(int index, MVPinProperties* p) {
    struct Row {
        const char* name;
        int direction;
    };
    static const Row rows[kPins] = {{"Wave in", DR_IN},   {"FFT in", DR_IN},    {"Wave out", DR_OUT},
                                    {"FFT out", DR_OUT},  {"Log", DR_OUT},      {"Send wave", DR_IN},
                                    {"Send fft", DR_IN}};
    if (index < 0 || index >= kPins) return false;
    p->direction = rows[index].direction;
    p->datatype = DT_TEXT;
    p->name = rows[index].name;
    p->flags = IO_UI_COMMUNICATION;
    return true;
}

class ProbeModule : public MVModule_base {
public:
    using MVModule_base::MVModule_base;
    bool describePin(int index, MVPinProperties* p) override { return describe(index, p); }
    void open() override {
        MVModule_base::open();
        setProcessFunction<&ProbeModule::process>();
    }
    void process(int, int) { sleep(); }
};

class ProbeGui : public MVGUI_base {
public:
    using MVGUI_base::MVGUI_base;
    void pinChanged(MVPinChangedRecord* r) override {
        const char* text = getPinText(r->pin_index);
        const std::string t = text ? text : "";
        switch (r->pin_index) {
        case kWaveIn: append("wave " + t); break;
        case kFftIn: append("fft " + t); break;
        case kSendWave: setPinText(kWaveOut, t.c_str()); break;
        case kSendFft: setPinText(kFftOut, t.c_str()); break;
        default: break;
        }
    }

private:
    void append(const std::string& line) {
        m_log += line + "\n";
        setPinText(kLog, m_log.c_str());
    }
    std::string m_log;
};

}  // namespace

extern "C" MV_EXPORT int32_t MV_CDECL getModuleProperties(int32_t index, MVModuleProperties* p) {
    if (index != 0 || !p) return 0;
    mv::fill_properties(p, "TK_ViewProbe", "TK_ViewProbe test module", "Logs view-link messages.", 2230);
    p->module_flags = MF_HAS_GUI;
    return 1;
}

MV_DEFINE_MAKE_MODULE(ProbeModule, ProbeGui)
