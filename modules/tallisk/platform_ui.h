// The editor's and the oscillator's way to the person: message boxes and file choosers of the
// platform stand-ins. Until the platform's user-interface calls are wired in, boxes answer their
// default button and choosers cancel, as an unattended platform does.
#pragma once

#include "editor_ui.h"

namespace tallisk {

EditorUi& platform_ui();

}  // namespace tallisk
