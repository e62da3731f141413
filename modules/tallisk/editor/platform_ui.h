// The editor's and the oscillator's way to the person: message boxes and file choosers of the
// platform stand-ins (MessageBoxA, GetOpenFileNameA, GetSaveFileNameA), whose installed user
// answers them.
#pragma once

#include "editor_ui.h"

namespace tallisk {

EditorUi& platform_ui();

}  // namespace tallisk
