// alias_sweep: how much of tallisk's output folds back, measured through the plug-in in the
// reference host. A full-scale sawtooth (waveform 1 of examples/tallisk_sweep.wbf) plays
// - static: at pitches from 0 to 9 V in 0.05 V steps, each analysed over about 1.5 s;
// - streaming: a slow ramp from 0 to 10 V (an LFO's rising triangle into "Pitch"), so slow that
//   each of the 16384 increment-table entries plays for at least two windows of about 0.19 s;
//   the windows inside which the entry does not change are analysed. (A step of the pitch law
//   moves every harmonic within the window, and the spread of that step cannot be told apart from
//   aliasing: at 7 kHz the 0.04 % step alone measures about -45 dB.)
// under both laws at 44.1, 48 and 96 kHz. For each law, path and rate it prints the worst
// non-harmonic level (power outside the harmonics of the frequency played, over the harmonics'
// power) and the lowest share of half the rate that the top harmonic present reaches between 2 and
// 7 V. The frequency played comes from the oscillator core's own increment tables.
//
// build/bench/alias_sweep [--plugin PATH] [--seconds S] [--rates 44100,48000,96000]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "alias_analysis.h"
#include "mvhost/host.h"
#include "oscillator.h"

namespace {

struct Options {
    std::string plugin = std::string(MV_PLUGIN_DIR) + "/tallisk.so";
    std::string lfo = std::string(MV_BINARY_DIR) + "/lib/builtin/lfo.so";
    std::string bank = std::string(MV_SOURCE_DIR) + "/examples/tallisk_sweep.wbf";
    double ramp_seconds = 0.0;  // 0: long enough for two windows per table entry
    std::vector<float> rates{44100.0f, 48000.0f, 96000.0f};
};

// The worst and the lowest figures of one law, path and rate, with the voltage where they occur.
struct Result {
    double worst_db = -300.0, worst_at = 0.0;
    double lowest_share = 2.0, lowest_at = 0.0;

    void add(const alias::WindowCheck& c, double volts) {
        if (c.nonharmonic_db > worst_db) {
            worst_db = c.nonharmonic_db;
            worst_at = volts;
        }
        if (volts >= 2.0 && volts <= 7.0 && c.top_share < lowest_share) {
            lowest_share = c.top_share;
            lowest_at = volts;
        }
    }
};

const char* law_name(int law) { return law == 0 ? "Volt/Octave" : "Volt/KHz"; }

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "alias_sweep: %s\n", what.c_str());
    std::exit(2);
}

int window_length(float rate) {
    int n = 1024;
    while (n < rate * 1.4) n *= 2;  // bins well below the lowest fundamental's 13.75 Hz
    return n;
}

// The frequency an oscillator of the core plays for pitch p (1.0 = 10 V).
class Played {
public:
    Played(float rate, int law) : m_rate(rate) {
        m_osc->build_increment_tables(rate);
        m_osc->set_law(law == 0 ? tallisk::PitchLaw::VoltPerOctave : tallisk::PitchLaw::VoltPerKilohertz);
    }
    double hertz(float p, bool limit) {
        if (limit) m_osc->static_pitch_update(p);
        else m_osc->pitch_update(p);
        return m_osc->increment() / 4294967296.0 * m_rate;
    }
    int index(float p) {
        m_osc->pitch_update(p);
        return m_osc->table_index();
    }

private:
    float m_rate;
    std::unique_ptr<tallisk::Oscillator> m_osc = std::make_unique<tallisk::Oscillator>();
};

mvh::HostConfig config(float rate) {
    mvh::HostConfig c;
    c.sample_rate = rate;
    c.block_size = 64;
    return c;
}

mvh::Instance* add_tallisk(mvh::Host& host, const Options& o, int law) {
    std::string error;
    mvh::Instance* osc = host.add(o.plugin, "osc", {}, &error);
    if (!osc) fail(error);
    osc->set_text(osc->find_pin("wbf_path"), o.bank);
    osc->set_int(osc->find_pin("Freq Scale"), law);
    osc->set_int(osc->find_pin("Waveform"), 0);
    return osc;
}

// The analyser lives inside the host's lifetime: unloading the plug-in may clean up FFTW, which
// ends every plan of the process.
Result static_sweep(const Options& o, float rate, int law) {
    mvh::Host host(config(rate));
    mvh::Instance* osc = add_tallisk(host, o, law);
    alias::Analyser an;
    const int out_pin = osc->find_pin("Output");
    std::vector<float> captured;
    host.after_block = [&](mvh::Host&, int, int n) {
        const float* out = osc->buffer(out_pin);
        captured.insert(captured.end(), out, out + n);
    };
    const int n = window_length(rate);
    Played played(rate, law);
    Result r;
    host.open();
    host.run(64);
    for (int step = 0; step <= 180; ++step) {
        const float p = static_cast<float>(step) * 0.005f;
        osc->set_float(osc->find_pin("Pitch"), p);
        host.run(256);
        captured.clear();
        host.run(n);
        const double f = played.hertz(p, true);
        if (f <= 0.0) continue;
        r.add(an.analyse(captured.data(), n, f, f, rate), p * 10.0);
    }
    return r;
}

Result streaming_sweep(const Options& o, float rate, int law) {
    mvh::Host host(config(rate));
    mvh::Instance* osc = add_tallisk(host, o, law);
    alias::Analyser an;
    std::string error;
    mvh::Instance* lfo = host.add(o.lfo, "ramp", {}, &error);
    if (!lfo) fail(error);
    // A rising triangle reaches its peak (10 V) after a quarter period.
    lfo->set_int(lfo->find_pin("Shape"), 1);
    lfo->set_float(lfo->find_pin("Amplitude"), 1.0f);
    const int n = window_length(rate) / 8;
    const double seconds = o.ramp_seconds > 0.0 ? o.ramp_seconds : 2.0 * n * tallisk::Oscillator::kTableSize / rate;
    lfo->set_float(lfo->find_pin("Rate"), static_cast<float>(0.1 / (4.0 * seconds)));
    if (!host.connect(lfo, lfo->find_pin("Out"), osc, osc->find_pin("Pitch"), &error)) fail(error);
    const int out_pin = osc->find_pin("Output"), pitch_pin = lfo->find_pin("Out");
    std::vector<float> out, pitch;
    host.after_block = [&](mvh::Host&, int, int n) {
        out.insert(out.end(), osc->buffer(out_pin), osc->buffer(out_pin) + n);
        pitch.insert(pitch.end(), lfo->buffer(pitch_pin), lfo->buffer(pitch_pin) + n);
    };
    host.open();
    const int64_t total = static_cast<int64_t>(seconds * rate);
    Played played(rate, law);
    Result r;
    for (int64_t start = 0; start + n <= total; start += n) {
        out.clear();
        pitch.clear();
        host.run(n);
        // The ramp rises: one entry from the first sample to the last means one all through.
        if (played.index(pitch.front()) != played.index(pitch.back())) continue;
        const double fmin = played.hertz(pitch.front(), false), fmax = fmin;
        if (fmin <= 0.0) continue;
        const alias::WindowCheck c = an.analyse(out.data(), n, fmin, fmax, rate);
        if (std::getenv("ALIAS_SWEEP_TRACE") && c.nonharmonic_db > -60.0)
            std::fprintf(stderr, "  %.0f %s streaming %.4f V: %.1f dB, f %.2f..%.2f\n", rate, law_name(law),
                         10.0 * pitch[static_cast<size_t>(n / 2)], c.nonharmonic_db, fmin, fmax);
        r.add(c, 10.0 * pitch[static_cast<size_t>(n / 2)]);
    }
    return r;
}

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool has_value = i + 1 < argc;
        if (a == "--plugin" && has_value) o.plugin = argv[++i];
        else if (a == "--bank" && has_value) o.bank = argv[++i];
        else if (a == "--seconds" && has_value) o.ramp_seconds = std::atof(argv[++i]);
        else if (a == "--rates" && has_value) {
            o.rates.clear();
            for (char* s = std::strtok(argv[++i], ","); s; s = std::strtok(nullptr, ",")) o.rates.push_back(std::strtof(s, nullptr));
        } else
            fail("usage: alias_sweep [--plugin PATH] [--bank PATH] [--seconds RAMP] [--rates R1,R2,...]");
    }
    if (!(o.ramp_seconds >= 0.0)) fail("--seconds must be positive (0: the default)");
    for (float r : o.rates)
        if (!(r >= 8000.0f && r <= 384000.0f)) fail("rates must lie within 8000..384000");
    return o;
}

}  // namespace

int main(int argc, char** argv) {
    const Options o = parse(argc, argv);
    std::printf("alias_sweep: %s, sawtooth\n", o.plugin.c_str());
    std::printf("%-7s %-12s %-10s %-28s %s\n", "rate", "law", "path", "worst non-harmonic", "lowest top-harmonic share, 2-7 V");
    bool met = true;
    for (float rate : o.rates) {
        for (int law = 0; law < 2; ++law) {
            for (int streaming = 0; streaming < 2; ++streaming) {
                const Result r = streaming ? streaming_sweep(o, rate, law) : static_sweep(o, rate, law);
                std::printf("%-7.0f %-12s %-10s %6.1f dB at %5.2f V          %.3f at %.2f V\n", rate, law_name(law),
                            streaming ? "streaming" : "static", r.worst_db, r.worst_at, r.lowest_share, r.lowest_at);
                std::fflush(stdout);
                met = met && r.worst_db <= -60.0 && r.lowest_share >= 0.45;
            }
        }
    }
    std::printf("goal (<= -60 dB everywhere, top harmonic >= 0.45 of half the rate from 2 to 7 V): %s\n",
                met ? "met" : "missed");
    return 0;
}
