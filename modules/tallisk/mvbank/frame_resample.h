// Changing the length of one period of a waveform in the frequency domain, so that every partial
// below the smaller size's Nyquist frequency keeps its amplitude and phase exactly.
#pragma once

#include <memory>
#include <vector>

namespace mvbank {

class FrameResampler {
public:
    FrameResampler();
    ~FrameResampler();
    FrameResampler(const FrameResampler&) = delete;
    FrameResampler& operator=(const FrameResampler&) = delete;

    // in: one period of n samples; out: the same period in m samples (n, m even, or equal).
    // Going down drops the partials at and above m/2 except the cosine part of m/2 itself, which is
    // what sampling the band-limited period at m points gives; going up adds nothing above n/2.
    void resample(const float* in, int n, float* out, int m);

private:
    struct Plans;
    Plans& plans_for(int size);
    std::vector<std::unique_ptr<Plans>> m_plans;
};

}  // namespace mvbank
