// The deliverable's pin descriptions, shared by the audio object and the editor: both sides answer
// the same list, the audio side with its variables.
#pragma once

#include "mv_sdk2/mv_boundary.h"

namespace tallisk {

constexpr int kPinCount = 16;

// Fills p for description index (0..15) and returns true; false past the last pin. variables is
// indexed by description index and may be null.
bool describe_pin(int index, MVPinProperties* p, void* const* variables);

}  // namespace tallisk
