// The musician's meaning of every pin of the ten plug-ins and the host's built-ins. Names, types,
// ranges and defaults come from the modules themselves (docs/pins.md is made from both, and a test
// finds any pin without an entry here).
#include "mvhost/pin_reference.h"

namespace mvh {

namespace {

using U = PinUnit;

const std::vector<PinMeaning> kMeanings = {
    // tallisk
    {"QB_TKMAIN", "wbf_path", U::None, "the bank file (.wb1, 64 waveforms; .wbf, 16) the editor loads and saves; relative to the patch"},
    {"QB_TKMAIN", "Pitch", U::Pitch, "the note played; the law is Freq Scale's; a static pitch stops at 9 V (7040 Hz), negative volts play as positive"},
    {"QB_TKMAIN", "Morph", U::Morph, "the waveform played while Morph Sw. is Enable, gliding between neighbours: 0 V mixes waveforms 1 and 2, each 0.156 V moves one waveform on, 9.77 V and above plays waveform 64 (a 16-waveform .wbf bank is silent from about 2.4 V up); a jump glides, 10 % of the way each sample (about a hundred samples)"},
    {"QB_TKMAIN", "Wave in", U::None, "link from a wave view's Wave out (wire them both ways to draw on the waveform)", true},
    {"QB_TKMAIN", "FFT in", U::None, "link from a wave view (spectrum messages)", true},
    {"QB_TKMAIN", "Text In", U::None, "link text from a wave view", true},
    {"QB_TKMAIN", "Freq Scale", U::None, "the pitch law: Volt/Octave (0 V = 13.75 Hz, 1 V an octave, 5 V = A4 = 440 Hz) or Volt/KHz (1 V = 1000 Hz)"},
    {"QB_TKMAIN", "Waveform", U::None, "the waveform played while Morph Sw. is Disable; a change restarts the wave's cycle"},
    {"QB_TKMAIN", "Morph Sw.", U::None, "Disable: Waveform chooses the waveform; Enable: the Morph voltage does (Waveform is then ignored)"},
    {"QB_TKMAIN", "Output", U::Volts, "the oscillator, a wave of about ±5 V (a waveform's peak is normalised to half scale)"},
    {"QB_TKMAIN", "table_ptr", U::None, "internal: the editor hands the oscillator its tables here; not for wiring"},
    {"QB_TKMAIN", "Wave out", U::None, "link to a wave view's Wave in", true},
    {"QB_TKMAIN", "FFT out", U::None, "link to a wave view (spectrum messages)", true},
    {"QB_TKMAIN", "Text Out", U::None, "the name of the waveform being edited, as text"},
    {"QB_TKMAIN", "Settings", U::None, "the editor's colours, options and background picture, stored with the patch"},
    {"QB_TKMAIN", "Menu Caption", U::None, "the title of the editor's command menu, stored with the patch"},
    // tallisk_view
    {"QB_WaveView", "Wave in", U::None, "link from tallisk's Wave out", true},
    {"QB_WaveView", "Mode", U::None, "what a drag on the view does: Select a stretch, Draw the waveform, Move it up and down, Zoom"},
    {"QB_WaveView", "Wave out", U::None, "link to tallisk's Wave in", true},
    {"QB_WaveView", "Readout", U::None, "the position and value under the pointer, as text"},
    // arpeggiator
    {"WN_Classic_Arp", "MIDI In", U::None, "the keyboard's notes; the chord held on Channel is arpeggiated, everything else passes through"},
    {"WN_Classic_Arp", "Channel (1-16)", U::None, "the MIDI channel whose notes make the chord"},
    {"WN_Classic_Arp", "BPM Tempo", U::Bpm, "the tempo the steps follow; the patch's tempo reaches it only through a wired host_tempo (its Tempo/BPM Out into this pin)"},
    {"WN_Classic_Arp", "Beat Ratio", U::Beats, "how many beats one step lasts: 1 a quarter note at the tempo, 0.5 an eighth, 0.25 a sixteenth, 4 a whole bar of 4/4"},
    {"WN_Classic_Arp", "Play Mode", U::None, "On Beat: steps on the tempo's grid (the only mode)"},
    {"WN_Classic_Arp", "Arp Mode", U::None, "the order of the notes: OFF stops the arpeggio; Up and Down start over at the end; Up+Down and Down+Up turn at the ends; the :2 orders play the turning note twice"},
    {"WN_Classic_Arp", "Oct Range", U::None, "how many octaves the chord is spread over, upwards from the one played"},
    {"WN_Classic_Arp", "Velocity Mode", U::None, "Note: each step has its key's velocity; Constant: every step has the first key's"},
    {"WN_Classic_Arp", "Arp Hold", U::None, "ON: the arpeggio goes on after the keys are released, until a new chord"},
    {"WN_Classic_Arp", "Note Gate: %", U::Percent, "how long each note sounds, as a share of its step (100 % legato; 105 % overlaps the next)"},
    {"WN_Classic_Arp", "MIDI Out", U::None, "the arpeggio as MIDI notes, and what passed through (wire it to midi_to_cv)"},
    {"WN_Classic_Arp", "Transpose Channel (1-16)", U::None, "a channel whose notes transpose the arpeggio (middle C, note 60, leaves it alone); OFF: none. Its notes are not passed through"},
    {"WN_Classic_Arp", "Transpose Mode", U::None, "Free: a transposing note keeps the arpeggio's place; Reset: it starts the arpeggio over"},
    {"WN_Classic_Arp", "Mono Mode", U::None, "On when midi_to_cv after it is mono, so that gates of 100 % and more stay legato"},
    {"WN_Classic_Arp", "Arp_Status>", U::None, "Arp_On while the arpeggio plays, for switching other modules"},
    // chorus
    {"WN_1V_Chorus2", "Audio_In", U::Volts, "the sound to chorus"},
    {"WN_1V_Chorus2", "Pre_Dly1", U::PreDelay, "the delay before the modulated part; its unit is Pre_Dly Mode's (the default 0.010 in Time(s) is 10 ms); up to the Max Pre Delay(s) choice"},
    {"WN_1V_Chorus2", "Mod_1 +/-5", U::Volts, "the modulation that sweeps the delay: -5 V adds nothing, +5 V adds the whole Mod Depth; wire an LFO of 5 V amplitude for a chorus"},
    {"WN_1V_Chorus2", "Mod Depth(ms:100)", U::Millis, "how far the modulation sweeps the delay, 0 to 100 ms (a few ms: chorus; under 1 ms with feedback in Chorus mode: flanger)"},
    {"WN_1V_Chorus2", "FBK (Cho1) +/-10", U::Level, "feedback of the output into the delay: 10 V repeats at full level, 5 V at half, negative volts invert each repeat"},
    {"WN_1V_Chorus2", "Cho_Out1", U::Volts, "the delayed sound alone (mix the dry sound in with a mixer)"},
    {"WN_1V_Chorus2", "Max Pre Delay(s)", U::None, "the longest pre-delay, in seconds (a longer one takes more memory)"},
    {"WN_1V_Chorus2", "FBK Mode", U::None, "where the feedback goes: PreDly into the delay's input (echoes), Chorus into the modulated part (flanging)"},
    {"WN_1V_Chorus2", "Active", U::None, "OFF: silent and asleep"},
    {"WN_1V_Chorus2", "Pre_Dly Mode", U::None, "the unit of Pre_Dly1: Time(s), 1 V a second, or Time(ms), 1 V a millisecond"},
    // chain_sequencer
    {"Sequencer", "Index", U::Step, "which step plays: 1 V step 1 of Range 1 - 16, 17 V step 1 of Range 17 - 32, and so on (rounded to the nearest volt); the output changes only when the index does"},
    {"Sequencer", "Step 1", U::Volts, "the value of step 1 (a note as Volt/Octave pitch, or any voltage)"},
    {"Sequencer", "Step 2", U::Volts, "the value of step 2"},
    {"Sequencer", "Step 3", U::Volts, "the value of step 3"},
    {"Sequencer", "Step 4", U::Volts, "the value of step 4"},
    {"Sequencer", "Step 5", U::Volts, "the value of step 5"},
    {"Sequencer", "Step 6", U::Volts, "the value of step 6"},
    {"Sequencer", "Step 7", U::Volts, "the value of step 7"},
    {"Sequencer", "Step 8", U::Volts, "the value of step 8"},
    {"Sequencer", "Step 9", U::Volts, "the value of step 9"},
    {"Sequencer", "Step 10", U::Volts, "the value of step 10"},
    {"Sequencer", "Step 11", U::Volts, "the value of step 11"},
    {"Sequencer", "Step 12", U::Volts, "the value of step 12"},
    {"Sequencer", "Step 13", U::Volts, "the value of step 13"},
    {"Sequencer", "Step 14", U::Volts, "the value of step 14"},
    {"Sequencer", "Step 15", U::Volts, "the value of step 15"},
    {"Sequencer", "Step 16", U::Volts, "the value of step 16"},
    {"Sequencer", "Range", U::None, "which 16 of the 128 index steps this module plays; it outputs 0 V for the others, so chained modules summed in a mixer make one long sequence"},
    {"Sequencer", "Output", U::Volts, "the current step's value"},
    // host_tempo
    {"WN_Host_BPM", "Tempo/BPM Out", U::Bpm, "the patch's tempo (its \"tempo\" field), 120 BPM = 120 V; wire it to the arpeggiator's BPM Tempo"},
    // volt_to_index
    {"WN_Volt_to_Index", "Volts", U::Index, "the voltage that picks a choice: 0 V the first, 1 V the second..."},
    {"WN_Volt_to_Index", "(Choice) Index", U::None, "the choice, for any list input (tallisk's Waveform, the arpeggiator's Arp Mode...)"},
    {"WN_Volt_to_Index", "Mode", U::None, "Floor: 2.9 V picks choice 3; Nearest: 2.9 V picks choice 4"},
    // cantrell_stepper
    {"ZR_Cantrell", "Pulse In", U::Volts, "each rising edge (from 0 V to anything else) takes one step"},
    {"ZR_Cantrell", "Step Amount", U::Volts, "how far each pulse moves the output (negative: down)"},
    {"ZR_Cantrell", "Start", U::Volts, "where the output starts and resets to; one bound"},
    {"ZR_Cantrell", "End", U::Volts, "the other bound (below Start, the bounds swap)"},
    {"ZR_Cantrell", "Reset", U::Volts, "a rising edge sets the output back to Start"},
    {"ZR_Cantrell", "Mode", U::None, "at a bound: Continuous goes on past it, Stop stays, Wrap starts over from the other bound, Reverse turns back"},
    {"ZR_Cantrell", "Off/On", U::None, "Off: pulses do nothing; a change of Off/On or Mode sets the output to 0 V"},
    {"ZR_Cantrell", "Output", U::Volts, "the stepped value (wire it through volt_to_index to pick waveforms or choices)"},
    {"ZR_Cantrell", "Tolerance for \"equal\"", U::None, "how close to a bound still counts as on it, in the float scaling (1.0 = 10 V), so that rounding does not miss a bound"},
    // array_to_floats
    {"ZR_ArrayToFloats", "Array", U::None, "a list of numbers separated by commas (\"0.5,2,7\")"},
    {"ZR_ArrayToFloats", "# Items Out", U::None, "how many numbers the list holds"},
    {"ZR_ArrayToFloats", "Value", U::None, "the numbers of the list, one output each (an output more each time the last is wired)"},
    // color_picker
    {"ZR_ColorPicker", "RGB Store", U::None, "the chosen colour, stored with the patch (0x00BBGGRR)"},
    {"ZR_ColorPicker", "Open", U::None, "true opens the colour chooser"},
    {"ZR_ColorPicker", "R", U::None, "the red part, 0 to 255, as text"},
    {"ZR_ColorPicker", "G", U::None, "the green part, 0 to 255, as text"},
    {"ZR_ColorPicker", "B", U::None, "the blue part, 0 to 255, as text"},
    {"ZR_ColorPicker", "RGB", U::None, "the colour as one integer (0x00BBGGRR)"},
    // built-ins
    {"MV_MidiSource", "MIDI In", U::None, "the patch's MIDI events and MIDI files (the host fills it)"},
    {"MV_MidiSource", "MIDI Out", U::None, "the MIDI played into the patch"},
    {"MV_MidiToCV", "MIDI In", U::None, "MIDI notes (mono, last note wins)"},
    {"MV_MidiToCV", "Channel", U::None, "the channel listened to, or All"},
    {"MV_MidiToCV", "Pitch", U::VoltOctave, "the note as pitch: 1 V an octave, A4 (note 69) at 5 V; wire it to tallisk's Pitch"},
    {"MV_MidiToCV", "Gate", U::Gate, "10 V while a key is held"},
    {"MV_MidiToCV", "Velocity", U::Velocity, "the note's velocity, 127 = 10 V"},
    {"MV_ADSR", "Gate", U::Gate, "a rising edge starts the attack, a falling one the release"},
    {"MV_ADSR", "Attack", U::Tenths, "time to rise from 0 to 10 V"},
    {"MV_ADSR", "Decay", U::Tenths, "time for a full 10 V fall, towards Sustain"},
    {"MV_ADSR", "Sustain", U::Level, "the level held while the gate stays on"},
    {"MV_ADSR", "Release", U::Tenths, "time for a full 10 V fall after the gate closes"},
    {"MV_ADSR", "Out", U::Level, "the envelope, 0 to 10 V (wire it to a VCA's Gain)"},
    {"MV_VCA", "Signal", U::Volts, "the sound"},
    {"MV_VCA", "Gain", U::Level, "the loudness: 10 V passes the sound as it is, 5 V halves it (-6 dB), negative inverts it"},
    {"MV_VCA", "Out", U::Volts, "Signal times Gain"},
    {"MV_LFO", "Rate", U::Hertz, "cycles a second; 0 stops, negative runs backwards"},
    {"MV_LFO", "Shape", U::None, "Sine, Triangle or Saw"},
    {"MV_LFO", "Amplitude", U::Volts, "the peak volts (the output swings from -Amplitude to +Amplitude)"},
    {"MV_LFO", "Out", U::Volts, "the low-frequency wave"},
    {"MV_Constant", "Value", U::Volts, "the voltage to hold (a note as Volt/Octave pitch, or any voltage)"},
    {"MV_Constant", "Out", U::Volts, "Value"},
    {"MV_Mixer", "Out", U::Volts, "the sum of every In"},
    {"MV_Mixer", "In", U::Volts, "a signal to add (one more In each time the last is wired)"},
    {"MV_AudioOut", "Left", U::Volts, "the left channel of the rendered file (10 V is full scale)"},
    {"MV_AudioOut", "Right", U::Volts, "the right channel of the rendered file"},
    {"MV_AudioFile", "File", U::None, "a sound file (WAV, AIFF, FLAC...) played once from the start, relative to the patch"},
    {"MV_AudioFile", "Gain", U::Level, "10 V plays the file at its own level"},
    {"MV_AudioFile", "Left", U::Volts, "the file's first channel times Gain"},
    {"MV_AudioFile", "Right", U::Volts, "its second channel (the first of a mono file) times Gain"},
    {"MV_AudioIn", "Channels", U::None, "Stereo takes two channels of the sound fed in, Mono one, heard on both outputs"},
    {"MV_AudioIn", "Left", U::Volts, "the sound fed in (a file given to mvhost apply): its first channel, full scale at 10 V"},
    {"MV_AudioIn", "Right", U::Volts, "its second channel (the first when Mono)"},
};

}  // namespace

const std::vector<PinMeaning>& pin_meanings() { return kMeanings; }

const PinMeaning* pin_meaning(const std::string& module, const std::string& pin) {
    // tallisk's high-quality build has tallisk's pins, meaning the same.
    const std::string& name = module == "QB_TKMAIN HQ" ? std::string("QB_TKMAIN") : module;
    for (const PinMeaning& m : kMeanings)
        if (name == m.module && pin == m.pin) return &m;
    return nullptr;
}

}  // namespace mvh
