// The arpeggiator's description texts: module name, identifier, about text and pin list.
#pragma once

#include "arp_engine.h"
#include "mv_sdk2/mv_pin_table.h"

namespace arp {


extern const char kModuleName[];
extern const char kModuleId[];
extern const char kAboutText[];
constexpr int kSdkVersion = 2230;
extern const mv::PinDecl kPinTexts[kPinCount];

}  // namespace arp
