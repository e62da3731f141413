// Aliasing of a rendered window: the power outside the harmonics of the frequency played against
// the harmonics' power, and the highest harmonic present. Kaiser window with beta 24: its side lobes
// lie near -190 dB, so what remains on a clean signal is single-precision FFTW's rounding (about
// -125 dB over the non-harmonic bins), well under the -90 dB to be seen.
#pragma once

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <vector>

namespace alias {

struct WindowCheck {
    double nonharmonic_db = -300.0;  // non-harmonic power over harmonic power
    int top_harmonic = 0;            // highest harmonic within 70 dB of the fundamental
    double top_share = 0.0;          // its frequency (at the lowest fundamental) over half the rate
};

// One plan and buffers per window length; not thread-safe.
class Analyser {
public:
    Analyser() = default;
    Analyser(const Analyser&) = delete;
    Analyser& operator=(const Analyser&) = delete;
    ~Analyser() {
        for (auto& [n, p] : m_plans) {
            fftwf_destroy_plan(p.plan);
            fftwf_free(p.in);
            fftwf_free(p.out);
        }
    }

    // x holds n samples (n even) during which the fundamental stayed within fmin..fmax Hz.
    WindowCheck analyse(const float* x, int n, double fmin, double fmax, double rate) {
        Plan& p = plan(n);
        for (int i = 0; i < n; ++i) p.in[i] = static_cast<float>(x[i] * p.window[i]);
        fftwf_execute(p.plan);
        const int bins = n / 2 + 1;
        std::vector<double> power(bins);
        for (int k = 0; k < bins; ++k)
            power[k] = double(p.out[k][0]) * p.out[k][0] + double(p.out[k][1]) * p.out[k][1];

        // Harmonic h owns the bins from h x fmin to h x fmax, widened by the window's main lobe
        // (its first zero lies sqrt(1 + (beta / pi)^2) = 7.7 bins out); the DC lobe belongs to nobody.
        const double df = rate / n;
        const int lobe = kLobeBins;
        std::vector<char> owner(bins, 0);  // 0 none, 1 harmonic, 2 DC
        for (int k = 0; k <= lobe && k < bins; ++k) owner[k] = 2;
        std::vector<double> band;  // power per harmonic
        for (int h = 1; h * fmin < rate / 2; ++h) {
            const int lo = std::max(0, int(std::floor(h * fmin / df)) - lobe);
            const int hi = std::min(bins - 1, int(std::ceil(h * fmax / df)) + lobe);
            double sum = 0.0;
            for (int k = lo; k <= hi; ++k) {
                if (owner[k] != 2) owner[k] = 1;
                sum += power[k];
            }
            band.push_back(sum);
        }
        double harmonic = 0.0, other = 0.0;
        for (int k = 0; k < bins; ++k) {
            if (owner[k] == 1) harmonic += power[k];
            else if (owner[k] == 0) other += power[k];
        }
        WindowCheck c;
        if (harmonic <= 0.0) return c;
        c.nonharmonic_db = other > 0.0 ? 10.0 * std::log10(other / harmonic) : -300.0;
        for (size_t h = band.size(); h-- > 0;) {
            if (band[h] >= band[0] * 1e-7) {
                c.top_harmonic = int(h) + 1;
                break;
            }
        }
        c.top_share = c.top_harmonic * fmin / (rate / 2);
        return c;
    }

    static constexpr double kBeta = 24.0;
    static constexpr int kLobeBins = 8;

private:
    static double bessel_i0(double x) {
        double sum = 1.0, term = 1.0;
        for (int k = 1; k < 200 && term > sum * 1e-18; ++k) {
            const double r = x / (2.0 * k);
            term *= r * r;
            sum += term;
        }
        return sum;
    }

    struct Plan {
        float* in = nullptr;
        fftwf_complex* out = nullptr;
        fftwf_plan plan = nullptr;
        std::vector<double> window;
    };

    Plan& plan(int n) {
        auto it = m_plans.find(n);
        if (it != m_plans.end()) return it->second;
        Plan p;
        p.in = fftwf_alloc_real(n);
        p.out = fftwf_alloc_complex(n / 2 + 1);
        p.plan = fftwf_plan_dft_r2c_1d(n, p.in, p.out, FFTW_ESTIMATE);
        p.window.resize(n);
        const double norm = bessel_i0(kBeta);
        for (int i = 0; i < n; ++i) {
            const double r = 2.0 * i / n - 1.0;  // periodic: one zero end, as the FFT's period wants
            p.window[i] = bessel_i0(kBeta * std::sqrt(std::max(0.0, 1.0 - r * r))) / norm;
        }
        return m_plans.emplace(n, std::move(p)).first->second;
    }

    std::map<int, Plan> m_plans;
};

}  // namespace alias
