// The sixteen pins of tallisk in declaration order.
#include "pin_table.h"

#include <string>

namespace tallisk {

namespace {

struct PinRow {
    const char* name;
    int direction;
    int datatype;
    const char* default_value;
    const char* extra;
    int flags;
};

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
    static const PinRow kRows[kPinCount] = {
        {"wbf_path", DR_IN, DT_TEXT, nullptr, nullptr, 0x18500},
        {"Pitch", DR_IN, DT_FSAMPLE, "5", "10,0.01,10,0.01", 0x1},
        {"Morph", DR_IN, DT_FSAMPLE, "5", "10,0,10,0", 0x1},
        {"Wave in", DR_IN, DT_TEXT, nullptr, nullptr, 0x400},
        {"FFT in", DR_IN, DT_TEXT, nullptr, nullptr, 0x400},
        {"Text In", DR_IN, DT_TEXT, nullptr, nullptr, 0x400},
        {"Freq Scale", DR_PARAMETER, DT_ENUM, "0", "Volt/Octave,Volt/KHz", 0},
        {"Waveform", DR_IN, DT_ENUM, "0", nullptr, 0x18400},
        {"Morph Sw.", DR_IN, DT_ENUM, "0", "Disable,Enable", 0x18400},
        {"Output", DR_OUT, DT_FSAMPLE, "0", nullptr, 0},
        {"table_ptr", DR_IN, DT_TEXT, nullptr, nullptr, 0x8500},
        {"Wave out", DR_OUT, DT_TEXT, nullptr, nullptr, 0x400},
        {"FFT out", DR_OUT, DT_TEXT, nullptr, nullptr, 0x400},
        {"Text Out", DR_OUT, DT_TEXT, nullptr, nullptr, 0x400},
        {"Settings", DR_PARAMETER, DT_TEXT, nullptr, nullptr, 0x10500},
        {"Menu Caption", DR_PARAMETER, DT_TEXT, nullptr, nullptr, 0x10400},
    };
    if (index < 0 || index >= kPinCount || !p) return false;
    const PinRow& row = kRows[index];
    p->variable = variables ? variables[index] : nullptr;
    p->direction = row.direction;
    p->datatype = row.datatype;
    p->name = row.name;
    p->default_value = row.default_value;
    p->datatype_extra = index == 7 ? waveform_list() : row.extra;
    p->flags = row.flags;
    return true;
}

}  // namespace tallisk
