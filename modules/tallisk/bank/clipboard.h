// The clipboard shared by every editor of the loaded library, so a waveform copied in one instance
// pastes in another, and the paste state of the menu ("Paste" and "Mix Paste" grayed until the next
// Copy after any editor was created). Used on the user-interface thread only.
#pragma once

#include "bank_layout.h"

namespace tallisk {

struct SharedClipboard {
    float samples[kWaveLength] = {};
    bool paste_grayed = true;
};

SharedClipboard& shared_clipboard();

}  // namespace tallisk
