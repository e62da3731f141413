// MV_MidiToCV: a mono MIDI voice as pitch, gate and velocity voltages, last-note priority.
#include "builtin_module.h"
#include "mv_sdk2/mv_export.h"
#include "note_stack.h"
#include "mv_sdk2/mv_pin_table.h"
#include "settled_output.h"

namespace {

using namespace mvb;
using mv::describe_from;
using mv::PinDecl;

const char kAbout[] =
    "MIDI to CV (mono)\n"
    "Pitch: 1 V per octave, note 69 at 5 V. Gate: 10 V while a note is held.\n"
    "Velocity: 127 = 10 V. The newest held note sounds; releasing it returns to the previous one.";

enum { kMidiIn, kChannel, kPitch, kGate, kVelocity, kPinCount };
const PinDecl kPins[] = {
    {"MIDI In", DR_IN, DT_MIDI, nullptr, nullptr, 0},
    {"Channel", DR_IN, DT_ENUM, "-1",
     "All=-1,1=0,2=1,3=2,4=3,5=4,6=5,7=6,8=7,9=8,10=9,11=10,12=11,13=12,14=13,15=14,16=15", 0},
    {"Pitch", DR_OUT, DT_FSAMPLE, nullptr, nullptr, 0},
    {"Gate", DR_OUT, DT_FSAMPLE, nullptr, nullptr, 0},
    {"Velocity", DR_OUT, DT_FSAMPLE, nullptr, nullptr, 0},
};

constexpr int kNoteOff = 0x80, kNoteOn = 0x90, kControlChange = 0xB0;
constexpr int kAllSoundOff = 120, kAllNotesOff = 123;

float pitch_of(int note) { return static_cast<float>(0.5 + (note - 69) / 120.0); }
float velocity_of(int velocity) { return static_cast<float>(velocity / 127.0); }

class Module : public BuiltinModule {
public:
    using BuiltinModule::BuiltinModule;

    bool describePin(int index, MVPinProperties* p) override {
        void* variable = nullptr;
        if (index == kChannel) variable = &m_channel;
        else if (index >= kPitch && index < kPinCount) variable = &m_buffers[index];
        return describe_from(kPins, index, variable, p);
    }

    void open() override {
        m_notes.clear();
        m_pitch = pitch_of(69);
        m_gate = 0.0f;
        m_velocity = 0.0f;
        m_listening = m_channel;
        if (!open_pins(kPinCount)) return;
        for (int i = 0; i < 3; ++i) m_outs[i].bind(getPin(kPitch + i), getBlockSize());
    }

    void pinStatusChanged(MVPin* pin) override {
        if (pin->getIndex() != kChannel) return;
        // Notes held on the old channel would never see their note-off: let them go.
        if (m_channel != m_listening) {
            m_listening = m_channel;
            m_notes.clear();
            follow_notes();
        }
    }

    void midiReceived(int, int word, int) override {
        const int status = word & 0xFF;
        const int type = status & 0xF0;
        if (status < 0x80 || status >= 0xF0) return;
        if (!listens_to_all() && (status & 0x0F) != m_listening) return;
        const int data1 = (word >> 8) & 0x7F;
        const int data2 = (word >> 16) & 0x7F;
        if (type == kNoteOn && data2 > 0) {
            m_notes.press(data1, data2);
        } else if (type == kNoteOff || type == kNoteOn) {
            m_notes.release(data1);
        } else if (type == kControlChange && (data1 == kAllNotesOff || data1 == kAllSoundOff)) {
            m_notes.clear();
        } else {
            return;
        }
        follow_notes();
    }

private:
    // A choice outside 1..16 (a hand-edited patch) listens to every channel.
    bool listens_to_all() const { return m_listening < 0 || m_listening > 15; }

    // Pitch and velocity keep the last note's values after the gate closes, as a held CV would.
    void follow_notes() {
        if (!m_notes.empty()) {
            m_pitch = pitch_of(m_notes.top_note());
            m_velocity = velocity_of(m_notes.top_velocity());
            m_gate = 1.0f;
        } else {
            m_gate = 0.0f;
        }
        reselect();
    }

    void select(int clock) override {
        if (!m_outs[0].data() || !m_outs[1].data() || !m_outs[2].data()) {
            setProcessFunction<&Module::process_idle>();
            return;
        }
        m_outs[0].hold(clock, m_pitch);
        m_outs[1].hold(clock, m_gate);
        m_outs[2].hold(clock, m_velocity);
        setProcessFunction<&Module::process_hold>();
    }

    void process_hold(int offset, int count) {
        bool settled = true;
        for (SettledOutput& out : m_outs) {
            out.fill(offset, count);
            settled = settled && out.settled();
        }
        if (settled) sleep();
    }

    float* m_buffers[kPinCount] = {};
    int16_t m_channel = -1;
    int m_listening = -1;
    NoteStack m_notes;
    float m_pitch = 0.0f, m_gate = 0.0f, m_velocity = 0.0f;
    SettledOutput m_outs[3];
};

}  // namespace

extern "C" MV_EXPORT int32_t MV_CDECL getModuleProperties(int32_t index, MVModuleProperties* p) {
    if (index != 0 || !p) return 0;
    mv::fill_properties(p, "MV_MidiToCV", "MVHOST_MIDI_TO_CV", kAbout, 2230);
    return 1;
}

MV_DEFINE_MAKE_MODULE(Module, void)
