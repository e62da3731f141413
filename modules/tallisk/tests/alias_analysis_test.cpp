// The aliasing measurement of bench/alias_sweep on signals whose answer is known.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "alias_analysis.h"

namespace {

// Harmonics 1..top of f with amplitudes 1/h, plus a tone at g of the given power relative to them.
std::vector<float> signal(double f, int top, double g, double relative_db, double rate, int n) {
    double harmonic_power = 0.0;
    for (int h = 1; h <= top; ++h) harmonic_power += 0.5 / (double(h) * h);
    const double a = std::sqrt(2.0 * harmonic_power * std::pow(10.0, relative_db / 10.0));
    std::vector<float> x(n);
    for (int i = 0; i < n; ++i) {
        double v = a * std::sin(2 * M_PI * g * i / rate + 0.3);
        for (int h = 1; h <= top; ++h) v += std::sin(2 * M_PI * h * f * i / rate + 0.1 * h) / h;
        x[i] = static_cast<float>(0.2 * v);
    }
    return x;
}

}  // namespace

TEST(AliasAnalysis, MeasuresANonHarmonicToneAndTheTopHarmonic) {
    alias::Analyser an;
    const double rate = 44100.0, f = 1000.3;
    const struct {
        int top;
        double relative_db;
    } cases[] = {{22, -40.0}, {22, -95.0}, {10, -105.0}};
    const int n = 32768;
    for (const auto& c : cases) {
        const std::vector<float> x = signal(f, c.top, 5432.1, c.relative_db, rate, n);
        const alias::WindowCheck r = an.analyse(x.data(), n, f, f, rate);
        EXPECT_NEAR(r.nonharmonic_db, c.relative_db, 1.0) << c.top;
        EXPECT_EQ(r.top_harmonic, c.top);
        EXPECT_NEAR(r.top_share, c.top * f / (rate / 2), 1e-9);
    }
    // Without the tone what remains is the rounding of the float signal and FFT, far below the
    // -90 dB that the oscillator's goal needs to see.
    const std::vector<float> clean = signal(f, 22, 5432.1, -300.0, rate, n);
    EXPECT_LT(an.analyse(clean.data(), n, f, f, rate).nonharmonic_db, -115.0);
}
