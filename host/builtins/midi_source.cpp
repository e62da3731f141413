// MV_MidiSource: where a patch's MIDI enters; every message the host queues on "MIDI In" leaves
// on "MIDI Out" at its own clock.
#include "builtin_module.h"
#include "mv_sdk2/mv_export.h"
#include "mv_sdk2/mv_pin_table.h"

namespace {

using namespace mvb;
using mv::describe_from;
using mv::PinDecl;

const char kAbout[] =
    "MIDI source\n"
    "Plays the patch's MIDI events and MIDI files out of MIDI Out.";

enum { kMidiIn, kMidiOut, kPinCount };
const PinDecl kPins[] = {
    {"MIDI In", DR_IN, DT_MIDI, nullptr, nullptr, IO_PRIVATE},
    {"MIDI Out", DR_OUT, DT_MIDI, nullptr, nullptr, 0},
};

class Module : public BuiltinModule {
public:
    using BuiltinModule::BuiltinModule;

    bool describePin(int index, MVPinProperties* p) override { return describe_from(kPins, index, nullptr, p); }

    void open() override {
        m_out = open_pins(kPinCount) ? getPin(kMidiOut) : nullptr;
    }

    void midiReceived(int time_stamp, int word, int) override {
        if (m_out) m_out->sendMidi(time_stamp, word);
    }

private:
    // No audio to produce: asleep between messages.
    void select(int) override { setProcessFunction<&Module::process_idle>(); }

    MVPin* m_out = nullptr;
};

}  // namespace

extern "C" MV_EXPORT int32_t MV_CDECL getModuleProperties(int32_t index, MVModuleProperties* p) {
    if (index != 0 || !p) return 0;
    mv::fill_properties(p, "MV_MidiSource", "MVHOST_MIDI_SOURCE", kAbout, 2230);
    return 1;
}

MV_DEFINE_MAKE_MODULE(Module, void)
