// The older entry's single export. C++ reserves ::main, so the function carries another name in
// the source and the assembler label gives the library's symbol its name.
#include "sequencer.h"

extern "C" MV_EXPORT MVModStructV1* MV_CDECL mv_v1_main(MVHostCallback callback) __asm__("main");

// A sequencer that cannot be made is reported as null; no exception reaches the host.
extern "C" MVModStructV1* MV_CDECL mv_v1_main(MVHostCallback callback) {
    try {
        return chain::create_sequencer(callback);
    } catch (...) {
        return nullptr;
    }
}
