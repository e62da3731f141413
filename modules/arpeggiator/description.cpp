// The arpeggiator's description texts, as the host's module browser shows them.
#include "description.h"

#include "mv_sdk2/mv_boundary.h"

namespace arp {

const char kModuleName[] = "WN_Classic_Arp";
const char kModuleId[] = "Classic_Arp_WN2003aMid";

const char kAboutText[] =
    "Classic Arpeggio\n"
    "Ver:2.0\n"
    "\n"
    "Insert between <Midi_In> and <Midi_to_CV> modules\n"
    "Must be before <Note_Memory> module\n"
    "\n"
    "Features:\n"
    "Specific Midi Channel - All other Midi data passes through\n"
    "BPM Based with built in Tempo/Beat Adjustment (Beat Ratio)\n"
    "Play Modes: ON_BEAT - Classic Arpeggio\n"
    "Arp Modes:\n"
    "    Off, Up, Down, Up+Down, Down+Up, Up+Down2, Down+Up2\n"
    "Octave Range: 1, 2, 3, 4\n"
    "Velocity Modes: Note, Constant (First Note)\n"
    "Arp Hold: On/Off\n"
    "Note Gate: Time set as Percentage (%)\n"
    "Transpose Channel: *Note: This midi channel is not passed through\n"
    "    Notes played on this midi channel will transpose the Arp sequence\n"
    "    ( Middle C = No change )\n"
    "Transpose Mode:\n"
    "    Free: Arp sequence is always free running\n"
    "    Reset: Arp sequence resets on each Transpose Note\n"
    "Mono Mode:\n"
    "    Must match Midi_to_CV mode:Ensures proper Mono+Gate>100%\n"
    "Arp_Status: Used for controlling other modules etc";

namespace {
constexpr const char* kChannels = "1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16";
}

const mv::PinDecl kPinTexts[kPinCount] = {
    {"MIDI In", DR_IN, DT_MIDI, nullptr, nullptr},
    {"Channel (1-16)", DR_IN, DT_ENUM, "0", kChannels},
    {"BPM Tempo", DR_IN, DT_FSAMPLE, "120.0", "240,30,240,30"},
    {"Beat Ratio", DR_IN, DT_FSAMPLE, "1.0", "4,0.05,4,0.05"},
    {"Play Mode", DR_IN, DT_ENUM, "0", "On Beat"},
    {"Arp Mode", DR_IN, DT_ENUM, "0", "OFF,Up,Down,Up+Down,Down+Up,Up+Down:2,Down+Up:2"},
    {"Oct Range", DR_IN, DT_ENUM, "0", "1=0,2=12,3=24,4=36"},
    {"Velocity Mode", DR_IN, DT_ENUM, "0", "Note,Constant"},
    {"Arp Hold", DR_IN, DT_ENUM, "0", "OFF,ON"},
    {"Note Gate: %", DR_IN, DT_FSAMPLE, "50", "105,5,105,5"},
    {"MIDI Out", DR_OUT, DT_MIDI, nullptr, nullptr},
    {"Transpose Channel (1-16)", DR_IN, DT_ENUM, "15", "1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,OFF=255"},
    {"Transpose Mode", DR_IN, DT_ENUM, "0", "Free,Reset"},
    {"Mono Mode", DR_IN, DT_ENUM, "0", "On=1,Off=0"},
    {"Arp_Status>", DR_OUT, DT_ENUM, "0", "Arp_Off,Arp_On"},
};

}  // namespace arp
