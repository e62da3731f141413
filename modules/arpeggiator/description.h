// The arpeggiator's description texts: module name, identifier, about text and pin list.
#pragma once

#include "arp_engine.h"

namespace arp {

struct PinText {
    const char* name;
    int direction;
    int datatype;
    const char* default_value;  // null: none
    const char* extra;          // choice list or range, null: none
};

extern const char kModuleName[];
extern const char kModuleId[];
extern const char kAboutText[];
constexpr int kSdkVersion = 2230;
extern const PinText kPinTexts[kPinCount];

}  // namespace arp
