// Real FFTs of the six sizes the bank uses, on FFTW single precision, in the bank's spectrum layout:
// element k (0 <= k <= N/2) is the real part of bin k, element N/2 + k (0 < k < N/2) its imaginary
// part. Both directions are unscaled, as FFTW's are; callers multiply inverse output by
// kInverseScale, so that a level of any size comes out at the amplitude of its 1024-sample source.
#pragma once

#include <array>
#include <complex>

namespace tallisk {

// The plans of all sizes, made once per process on the first request (FFTW's planner is not
// thread-safe; executing a plan is). Every editor shares them.
class FftPlans {
public:
    static constexpr std::array<int, 6> kSizes{4096, 2048, 1024, 512, 256, 128};

    static const FftPlans& instance();

    void* forward(int size) const;
    void* inverse(int size) const;
    // How many of the twelve plans came from the kept wisdom (the rest are estimated).
    int from_wisdom() const { return m_from_wisdom; }

private:
    FftPlans();
    ~FftPlans();
    FftPlans(const FftPlans&) = delete;
    FftPlans& operator=(const FftPlans&) = delete;
    static int slot(int size);

    std::array<void*, 6> m_forward{};
    std::array<void*, 6> m_inverse{};
    int m_from_wisdom = 0;
};

// Per-editor work buffers for the shared plans (FFTW wants its own aligned arrays).
class RealFft {
public:
    RealFft();
    ~RealFft();
    RealFft(const RealFft&) = delete;
    RealFft& operator=(const RealFft&) = delete;

    // spectrum receives N values in the bank's layout.
    void forward(int size, const float* samples, float* spectrum);
    // samples receives N unscaled values (N times what forward took in).
    void inverse(int size, const float* spectrum, float* samples);
    // Inverse from an already packed complex buffer; complex_work() has N/2 + 1 bins.
    std::complex<float>* complex_work() { return m_complex; }
    const float* inverse_packed(int size);

private:
    const FftPlans& m_plans;
    float* m_real = nullptr;
    std::complex<float>* m_complex = nullptr;
};

}  // namespace tallisk
