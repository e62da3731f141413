// Aliasing of a rendered window: the power outside the harmonics of the frequency played against
// the harmonics' power, and the highest harmonic present. Blackman-Harris window (sidelobes under
// -92 dB), single-precision FFTW.
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
        for (int i = 0; i < n; ++i) p.in[i] = x[i] * p.window[i];
        fftwf_execute(p.plan);
        const int bins = n / 2 + 1;
        std::vector<double> power(bins);
        for (int k = 0; k < bins; ++k)
            power[k] = double(p.out[k][0]) * p.out[k][0] + double(p.out[k][1]) * p.out[k][1];

        // Harmonic h owns the bins from h x fmin to h x fmax, widened by the window's main lobe
        // (4 bins); the DC lobe belongs to nobody.
        const double df = rate / n;
        const int lobe = 4;
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

private:
    struct Plan {
        float* in = nullptr;
        fftwf_complex* out = nullptr;
        fftwf_plan plan = nullptr;
        std::vector<float> window;
    };

    Plan& plan(int n) {
        auto it = m_plans.find(n);
        if (it != m_plans.end()) return it->second;
        Plan p;
        p.in = fftwf_alloc_real(n);
        p.out = fftwf_alloc_complex(n / 2 + 1);
        p.plan = fftwf_plan_dft_r2c_1d(n, p.in, p.out, FFTW_ESTIMATE);
        p.window.resize(n);
        const double a0 = 0.35875, a1 = 0.48829, a2 = 0.14128, a3 = 0.01168;
        for (int i = 0; i < n; ++i) {
            const double t = 2.0 * M_PI * i / n;
            p.window[i] = float(a0 - a1 * std::cos(t) + a2 * std::cos(2 * t) - a3 * std::cos(3 * t));
        }
        return m_plans.emplace(n, std::move(p)).first->second;
    }

    std::map<int, Plan> m_plans;
};

}  // namespace alias
