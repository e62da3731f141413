// The high-quality build's oscillator: the pitch law, level choice, fades, morph and playback
// paths of OscillatorPaths, with every table read through the 8-tap sinc reader instead of linear
// interpolation.
#pragma once

#include <cstdint>

#include "oscillator.h"
#include "sinc_kernel.h"

namespace tallisk {

class HqOscillator : public OscillatorPaths<HqOscillator> {
public:
    HqOscillator();

    // plain = true keeps this oscillator on the plain sinc loops (for the tests).
    void use_plain_loops(bool plain) { m_sinc_loops = plain ? &kSincPlainLoops : &best_sinc_loops(); }

private:
    friend class OscillatorPaths<HqOscillator>;
    const SincKernel& m_kernel;
    const SincLoops* m_sinc_loops;
};

}  // namespace tallisk
