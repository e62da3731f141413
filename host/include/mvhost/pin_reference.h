// What each pin of the deliverables and the built-ins means to a musician: its unit, what a value
// does to the sound, how a voltage reads in that unit ("440 Hz (A4)", "waveform 12") and how a
// value typed with a unit ("50 ms", "A4", "waveform 12") becomes the volts a patch stores.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "mvhost/host.h"

namespace mvh {

// How an audio pin's volts read. Kinds whose reading depends on another pin of the same module
// (tallisk's pitch law, the chorus's pre-delay mode) ask for that pin's choice value.
enum class PinUnit {
    None,        // not an audio pin, or volts with no musical unit of their own
    Volts,       // plain volts
    Pitch,       // tallisk's "Pitch": the law of "Freq Scale" (Volt/Octave or Volt/KHz)
    VoltOctave,  // 1 V per octave, 5 V = A4 (440 Hz), as midi_to_cv writes it
    Morph,       // tallisk's "Morph": 64 waveforms over 0 to 10 V
    Bpm,         // 1 V = 1 beat per minute
    Beats,       // 1 V = one beat per step
    Percent,     // 1 V = 1 %
    Level,       // 10 V = 100 % (unity gain, full level, full feedback)
    Tenths,      // 1 V = 0.1 s (envelope times)
    Millis,      // 1 V = 1 ms
    PreDelay,    // the chorus's "Pre_Dly Mode": 1 V = 1 s, or 1 V = 1 ms
    Hertz,       // 1 V = 1 Hz
    Step,        // 1 V per step of the chained sequencer (steps 1 to 128)
    Index,       // 1 V per choice, 0 V the first
    Gate,        // high above 1 V (10 V from a gate source)
    Velocity,    // 10 V = velocity 127
};

struct PinMeaning {
    const char* module;   // the module's display name ("QB_TKMAIN")
    const char* pin;      // the pin's name
    PinUnit unit;
    const char* meaning;  // what the pin does, for a musician
    bool link = false;    // one end of a wire between two modules' editors, never set by hand
};

// The meaning of a pin, or null when the table has none.
const PinMeaning* pin_meaning(const std::string& module, const std::string& pin);
// Every entry, in module order.
const std::vector<PinMeaning>& pin_meanings();

// A choice value of another pin of the same instance, by pin name (its default when unset).
using LawPin = std::function<int(const std::string& pin)>;

// The unit as a table shows it ("Hz or note (Volt/Octave: 5 V = A4)"); empty for PinUnit::None.
std::string unit_name(PinUnit unit);
// Volts in the pin's unit, for instance "440 Hz (A4)" or "waveform 32"; empty when the unit has no
// reading of its own.
std::string musical_reading(PinUnit unit, double volts, const LawPin& law);

// A value typed with a unit (or a plain number of volts, or "N V"), as volts. Throws UnitError
// naming what the pin takes.
struct UnitError : std::invalid_argument {
    using std::invalid_argument::invalid_argument;
};
double volts_from_text(PinUnit unit, const std::string& text, const LawPin& law);

// A pin as a musician reads it: its unit, its default and range in that unit (choice labels for
// lists), and what it does. The laws default to the law pins' own defaults.
struct PinReading {
    std::string unit, default_value, range, meaning;
};
PinReading read_pin(const std::string& module, const PinInfo& pin, const std::vector<PinInfo>& all_pins);

// A note name ("A4", "C#3", "Eb5", "c-1") as a MIDI note number; false when the text is none.
bool note_number(const std::string& text, double* note);
std::string note_name(double midi_note);

}  // namespace mvh
