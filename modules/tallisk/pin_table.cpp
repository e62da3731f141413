// The sixteen pins of tallisk in declaration order.
#include "pin_table.h"

#include <string>

#include "mv_sdk2/mv_pin_table.h"

namespace tallisk {

namespace {

// Pitch and Morph carry bit 0x1 as well; its meaning is the host's.
constexpr int32_t kHostBit0x1 = 0x1;
constexpr int32_t kEditorText = IO_UI_COMMUNICATION;
constexpr int32_t kStored = IO_PATCH_STORE | IO_UI_COMMUNICATION;
constexpr int32_t kStoredBothSides = IO_PATCH_STORE | IO_BOTH_SIDES | IO_UI_COMMUNICATION;

// "Waveform 1," .. "Waveform 64," (the last one keeps its comma).
const char* waveform_list() {
    static const std::string list = [] {
        std::string s;
        for (int i = 1; i <= 64; ++i) s += "Waveform " + std::to_string(i) + ",";
        return s;
    }();
    return list.c_str();
}

}  // namespace

bool describe_pin(int index, MVPinProperties* p, void* const* variables) {
    // Built at the first query: the "Waveform" list is made once.
    static const mv::PinDecl kRows[kPinCount] = {
        {"wbf_path", DR_IN, DT_TEXT, nullptr, nullptr, kStoredBothSides | IO_PRIVATE},
        {"Pitch", DR_IN, DT_FSAMPLE, "5", "10,0.01,10,0.01", kHostBit0x1},
        {"Morph", DR_IN, DT_FSAMPLE, "5", "10,0,10,0", kHostBit0x1},
        {"Wave in", DR_IN, DT_TEXT, nullptr, nullptr, kEditorText},
        {"FFT in", DR_IN, DT_TEXT, nullptr, nullptr, kEditorText},
        {"Text In", DR_IN, DT_TEXT, nullptr, nullptr, kEditorText},
        {"Freq Scale", DR_PARAMETER, DT_ENUM, "0", "Volt/Octave,Volt/KHz", 0},
        {"Waveform", DR_IN, DT_ENUM, "0", waveform_list(), kStoredBothSides},
        {"Morph Sw.", DR_IN, DT_ENUM, "0", "Disable,Enable", kStoredBothSides},
        {"Output", DR_OUT, DT_FSAMPLE, "0", nullptr, 0},
        {"table_ptr", DR_IN, DT_TEXT, nullptr, nullptr, IO_BOTH_SIDES | IO_UI_COMMUNICATION | IO_PRIVATE},
        {"Wave out", DR_OUT, DT_TEXT, nullptr, nullptr, kEditorText},
        {"FFT out", DR_OUT, DT_TEXT, nullptr, nullptr, kEditorText},
        {"Text Out", DR_OUT, DT_TEXT, nullptr, nullptr, kEditorText},
        {"Settings", DR_PARAMETER, DT_TEXT, nullptr, nullptr, kStored | IO_PRIVATE},
        {"Menu Caption", DR_PARAMETER, DT_TEXT, nullptr, nullptr, kStored},
    };
    const bool known = index >= 0 && index < kPinCount;
    return mv::describe_from(kRows, index, known && variables ? variables[index] : nullptr, p);
}

}  // namespace tallisk
