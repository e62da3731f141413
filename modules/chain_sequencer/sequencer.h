// The chainable 16-step sequencer on the older entry.
#pragma once

#include "mv_sdk2/mv_boundary.h"

namespace chain {

// Constructs one sequencer for the host and returns its record, or null without memory.
MVModStructV1* create_sequencer(MVHostCallback callback);

}  // namespace chain
