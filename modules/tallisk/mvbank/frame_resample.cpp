// Frequency-domain resampling of periodic frames with FFTW (double precision, so that a round trip
// through another size comes back within float rounding).
#include "frame_resample.h"

#include <fftw3.h>

#include <algorithm>

namespace mvbank {

struct FrameResampler::Plans {
    int size = 0;
    double* real = nullptr;
    fftw_complex* bins = nullptr;
    fftw_plan forward = nullptr;
    fftw_plan inverse = nullptr;

    explicit Plans(int n) : size(n) {
        real = fftw_alloc_real(static_cast<size_t>(n));
        bins = fftw_alloc_complex(static_cast<size_t>(n / 2 + 1));
        // Estimated plans: the same in every run, and the tool transforms too little for measuring
        // to pay.
        forward = fftw_plan_dft_r2c_1d(n, real, bins, FFTW_ESTIMATE);
        inverse = fftw_plan_dft_c2r_1d(n, bins, real, FFTW_ESTIMATE);
    }
    ~Plans() {
        fftw_destroy_plan(forward);
        fftw_destroy_plan(inverse);
        fftw_free(bins);
        fftw_free(real);
    }
};

FrameResampler::FrameResampler() = default;
FrameResampler::~FrameResampler() = default;

FrameResampler::Plans& FrameResampler::plans_for(int size) {
    for (auto& p : m_plans)
        if (p->size == size) return *p;
    m_plans.push_back(std::make_unique<Plans>(size));
    return *m_plans.back();
}

void FrameResampler::resample(const float* in, int n, float* out, int m) {
    if (n == m) {
        std::copy(in, in + n, out);
        return;
    }
    Plans& from = plans_for(n);
    Plans& to = plans_for(m);
    std::copy(in, in + n, from.real);
    fftw_execute(from.forward);
    const int half = std::min(n, m) / 2;
    for (int k = 0; k <= m / 2; ++k) to.bins[k][0] = to.bins[k][1] = 0.0;
    for (int k = 0; k < half; ++k) {
        to.bins[k][0] = from.bins[k][0];
        to.bins[k][1] = from.bins[k][1];
    }
    // The bin at the smaller Nyquist frequency: going up, the old Nyquist term (a pure cosine)
    // splits between the bins at +n/2 and -n/2; going down, those two fold back into one.
    to.bins[half][0] = m > n ? from.bins[half][0] * 0.5 : from.bins[half][0] * 2.0;
    fftw_execute(to.inverse);
    const double scale = 1.0 / n;
    for (int i = 0; i < m; ++i) out[i] = static_cast<float>(to.real[i] * scale);
}

}  // namespace mvbank
