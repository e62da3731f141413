// The older entry's single export in the Windows DLL. C++ reserves ::main and MinGW's assembler
// labels cannot name the export, so the library's .def file gives `mv_v1_main` the name `main`.
#include "sequencer.h"

// A sequencer that cannot be made is reported as null; no exception reaches the host.
extern "C" MVModStructV1* MV_CDECL mv_v1_main(MVHostCallback callback) {
    try {
        return chain::create_sequencer(callback);
    } catch (...) {
        return nullptr;
    }
}
