// tallisk's exports: the module description and the two object kinds.
#include "mv_sdk2/mv_export.h"
#include "oscillator_module.h"
#include "wavetable_editor.h"

namespace {

// Patches store the identifier; it never changes once released. The high-quality build is
// another module to the host: its own identifier and name, the same pins and bank files.
#ifdef TALLISK_HQ
const char kName[] = "QB_TKMAIN HQ";
const char kId[] = "QB_Tallisk_Wavetable_64_HQ";
#define TALLISK_ABOUT_TITLE "Tallisk wavetable oscillator, high quality\n"
#define TALLISK_ABOUT_READER "\nTables read through an 8-tap sinc: no audible aliasing, about three times the CPU."
#else
const char kName[] = "QB_TKMAIN";
const char kId[] = "QB_Tallisk_Wavetable_64";
#define TALLISK_ABOUT_TITLE "Tallisk wavetable oscillator\n"
#define TALLISK_ABOUT_READER ""
#endif
const char kAbout[] =
    TALLISK_ABOUT_TITLE
    "64 single-cycle waveforms played band-limited at the Pitch voltage\n"
    "(Volt/Octave: 5 V = 440 Hz; Volt/KHz: 1 V = 1000 Hz),\n"
    "one chosen by Waveform or morphed between neighbours by the Morph voltage.\n"
    "Click the panel to edit the bank: generators, expressions, WAV and BMP import, bank files.\n"
    "Wire a wave view to Wave in/out and FFT in/out to draw on the current waveform." TALLISK_ABOUT_READER;

}  // namespace

extern "C" MV_EXPORT int32_t MV_CDECL getModuleProperties(int32_t index, MVModuleProperties* p) {
    if (index != 0 || !p) return 0;
    mv::fill_properties(p, kName, kId, kAbout, 2230);
    p->module_flags = MF_HAS_GUI | MF_GUI_DRAWS;
    return 1;
}

MV_DEFINE_MAKE_MODULE(tallisk::Module, tallisk::WavetableEditor)
