// FFTW plans shared by the process and the packing between FFTW's complex bins and the bank layout.
#include "real_fft.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "bank_layout.h"
#include "fft_wisdom.h"

namespace tallisk {

namespace {
// Up to this peak a 1024-point transform cannot come near the float limit (2^64 x 2^10 << 2^128).
constexpr float kLargestPlainPeak = 18446744073709551616.0f;  // 2^64
}  // namespace

const FftPlans& FftPlans::instance() {
    static const FftPlans plans;
    return plans;
}

FftPlans::FftPlans() {
    float* real = fftwf_alloc_real(kMaxFftSize);
    fftwf_complex* bins = fftwf_alloc_complex(kMaxFftSize / 2 + 1);
    // Plans measured here would be fastest, but the measurement may pick a different algorithm in
    // each run, and the tables would round differently from run to run. So the plans come from
    // wisdom measured once and kept with the sources (about a third faster than estimated plans on
    // the machine it was measured on); where it does not fit this processor or this FFTW, from
    // FFTW's estimate. Either choice is the same in every run.
    fftwf_import_wisdom_from_string(kFftWisdom);
    const auto choose = [this](fftwf_plan wise, auto estimate) -> void* {
        if (wise) {
            ++m_from_wisdom;
            return wise;
        }
        return estimate();
    };
    for (size_t i = 0; i < kSizes.size(); ++i) {
        const int n = kSizes[i];
        m_forward[i] = choose(fftwf_plan_dft_r2c_1d(n, real, bins, FFTW_WISDOM_ONLY | FFTW_PATIENT),
                              [&] { return fftwf_plan_dft_r2c_1d(n, real, bins, FFTW_ESTIMATE); });
        m_inverse[i] = choose(fftwf_plan_dft_c2r_1d(n, bins, real, FFTW_WISDOM_ONLY | FFTW_PATIENT),
                              [&] { return fftwf_plan_dft_c2r_1d(n, bins, real, FFTW_ESTIMATE); });
    }
    fftwf_free(bins);
    fftwf_free(real);
}

FftPlans::~FftPlans() {
    for (size_t i = 0; i < kSizes.size(); ++i) {
        fftwf_destroy_plan(static_cast<fftwf_plan>(m_forward[i]));
        fftwf_destroy_plan(static_cast<fftwf_plan>(m_inverse[i]));
    }
    // The planner keeps its own tables until cleanup. These plans live until the plug-in is
    // unloaded, and the library may be unloaded with it, so without this those tables are lost.
    // Nothing else in the process plans with FFTW, so no other plan is invalidated.
    fftwf_cleanup();
}

int FftPlans::slot(int size) {
    for (size_t i = 0; i < kSizes.size(); ++i)
        if (kSizes[i] == size) return static_cast<int>(i);
    return -1;
}

void* FftPlans::forward(int size) const {
    const int s = slot(size);
    return s < 0 ? nullptr : m_forward[s];
}

void* FftPlans::inverse(int size) const {
    const int s = slot(size);
    return s < 0 ? nullptr : m_inverse[s];
}

RealFft::RealFft() : m_plans(FftPlans::instance()) {
    m_real = fftwf_alloc_real(kMaxFftSize);
    m_complex = reinterpret_cast<std::complex<float>*>(fftwf_alloc_complex(kMaxFftSize / 2 + 1));
}

RealFft::~RealFft() {
    fftwf_free(m_complex);
    fftwf_free(m_real);
}

void RealFft::forward(int size, const float* samples, float* spectrum) {
    auto plan = static_cast<fftwf_plan>(m_plans.forward(size));
    if (!plan) return;
    std::memcpy(m_real, samples, sizeof(float) * size);
    // Samples near the float limit (3.4e38 is a valid float) would overflow the transform's sums
    // into infinities and NaN. The levels built from a spectrum are normalised, so such a waveform
    // is brought down by a power of two (exact: the shape is kept) to a peak below 2.
    float peak = 0.0f;
    for (int i = 0; i < size; ++i) peak = std::max(peak, std::fabs(m_real[i]));
    if (peak > kLargestPlainPeak && std::isfinite(peak)) {
        const float scale = std::ldexp(1.0f, -std::ilogb(peak));
        for (int i = 0; i < size; ++i) m_real[i] *= scale;
    }
    fftwf_execute_dft_r2c(plan, m_real, reinterpret_cast<fftwf_complex*>(m_complex));
    const int half = size / 2;
    for (int k = 0; k <= half; ++k) spectrum[k] = m_complex[k].real();
    for (int k = 1; k < half; ++k) spectrum[half + k] = m_complex[k].imag();
}

void RealFft::inverse(int size, const float* spectrum, float* samples) {
    const int half = size / 2;
    m_complex[0] = {spectrum[0], 0.0f};
    for (int k = 1; k < half; ++k) m_complex[k] = {spectrum[k], spectrum[half + k]};
    m_complex[half] = {spectrum[half], 0.0f};
    std::memcpy(samples, inverse_packed(size), sizeof(float) * size);
}

const float* RealFft::inverse_packed(int size) {
    auto plan = static_cast<fftwf_plan>(m_plans.inverse(size));
    if (!plan) return m_real;
    fftwf_execute_dft_c2r(plan, reinterpret_cast<fftwf_complex*>(m_complex), m_real);
    return m_real;
}

}  // namespace tallisk
