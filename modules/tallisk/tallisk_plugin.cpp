// tallisk's exports: the module description and the two object kinds.
#include "mv_sdk2/mv_export.h"
#include "oscillator_module.h"
#include "wavetable_editor.h"

namespace {

// Patches store the identifier; it never changes once released.
const char kId[] = "QB_Tallisk_Wavetable_64";
const char kAbout[] =
    "Tallisk wavetable oscillator\n"
    "64 single-cycle waveforms played band-limited at the Pitch voltage\n"
    "(Volt/Octave: 5 V = 440 Hz; Volt/KHz: 1 V = 1000 Hz),\n"
    "one chosen by Waveform or morphed between neighbours by the Morph voltage.\n"
    "Click the panel to edit the bank: generators, expressions, WAV and BMP import, bank files.\n"
    "Wire a wave view to Wave in/out and FFT in/out to draw on the current waveform.";

}  // namespace

extern "C" MV_EXPORT int32_t MV_CDECL getModuleProperties(int32_t index, MVModuleProperties* p) {
    if (index != 0 || !p) return 0;
    mv::fill_properties(p, "QB_TKMAIN", kId, kAbout, 2230);
    p->module_flags = MF_HAS_GUI | MF_GUI_DRAWS;
    return 1;
}

MV_DEFINE_MAKE_MODULE(tallisk::Module, tallisk::WavetableEditor)
