// alias_sweep: how much of tallisk's output folds back, measured through the plug-ins in the
// reference host. Two waveforms of a bank the program writes: a full-scale sawtooth and a
// one-sample pulse (every harmonic equal, so the images of every harmonic count alike). Each plays
// - static: at pitches from 0 to 9 V in 0.05 V steps;
// - streaming: at the same steps up to 9.95 V, the Pitch input a constant summed with a 5 kHz sine
//   of a quarter of one increment-table entry, so that the pitch changes at every sample (the
//   oscillator's streaming path) while the increment stays that of one entry and the frequency
//   played is known exactly;
// under both laws at 44.1, 48 and 96 kHz, each analysed over 32768 samples (Kaiser window, beta
// 24). For each plug-in, waveform, rate, law and path it prints the worst non-harmonic level
// (power outside the harmonics of the frequency played, over the harmonics' power) and the lowest
// share of half the rate that the top harmonic present reaches between 2 and 7 V. The frequency
// played comes from the oscillator core's own increment tables.
//
// --ramp replaces the streaming steps by the slow 0-10 V ramp of an LFO, every table entry in turn
// (about 100 minutes of audio per rate and law): the windows inside which the entry does not
// change are analysed.
//
// build/bench/alias_sweep [--plugin NAME|PATH]... [--wave saw|pulse]... [--rates 44100,48000,96000]
//                         [--ramp [--seconds S]]
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "alias_analysis.h"
#include "bank_file.h"
#include "mvhost/host.h"
#include "oscillator.h"

namespace {

struct Options {
    std::vector<std::string> plugins;
    std::vector<int> waves;  // waveform numbers of the written bank: 0 sawtooth, 1 pulse
    std::string lfo = std::string(MV_BINARY_DIR) + "/lib/builtin/lfo.so";
    std::string constant = std::string(MV_BINARY_DIR) + "/lib/builtin/constant.so";
    std::string bank;  // written by main
    bool ramp = false;
    double ramp_seconds = 0.0;  // 0: long enough for two windows per table entry
    std::vector<float> rates{44100.0f, 48000.0f, 96000.0f};
};

constexpr int kWindow = 32768;
const char* const kWaveNames[] = {"sawtooth", "pulse"};

// The worst and the lowest figures of one run, with the voltage where they occur.
struct Result {
    double worst_db = -300.0, worst_at = 0.0;
    double lowest_share = 2.0, lowest_at = 0.0;
    int skipped = 0;  // streaming windows whose pitch left its table entry

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

mvh::Instance* add(mvh::Host& host, const std::string& path, const char* name) {
    std::string error;
    mvh::Instance* i = host.add(path, name, {}, &error);
    if (!i) fail(error);
    return i;
}

mvh::Instance* add_tallisk(mvh::Host& host, const Options& o, const std::string& plugin, int law, int wave) {
    mvh::Instance* osc = add(host, plugin, "osc");
    osc->set_text(osc->find_pin("wbf_path"), o.bank);
    osc->set_int(osc->find_pin("Freq Scale"), law);
    osc->set_int(osc->find_pin("Waveform"), wave);
    return osc;
}

void wire(mvh::Host& host, mvh::Instance* from, const char* out, mvh::Instance* to, const char* in) {
    std::string error;
    if (!host.connect(from, from->find_pin(out), to, to->find_pin(in), &error)) fail(error);
}

// The analyser lives inside the host's lifetime: unloading the plug-in may clean up FFTW, which
// ends every plan of the process.
Result step_sweep(const Options& o, const std::string& plugin, int wave, float rate, int law, bool streaming) {
    mvh::Host host(config(rate));
    mvh::Instance* osc = add_tallisk(host, o, plugin, law, wave);
    mvh::Instance* level = nullptr;
    if (streaming) {
        level = add(host, o.constant, "level");
        mvh::Instance* dither = add(host, o.lfo, "dither");
        dither->set_float(dither->find_pin("Rate"), 500.0f);  // 5 kHz
        dither->set_float(dither->find_pin("Amplitude"), 0.25f / tallisk::Oscillator::kTableSize);
        wire(host, level, "Out", osc, "Pitch");
        wire(host, dither, "Out", osc, "Pitch");
    }
    alias::Analyser an;
    const int out_pin = osc->find_pin("Output"), pitch_pin = osc->find_pin("Pitch");
    std::vector<float> out, pitch;
    host.after_block = [&](mvh::Host&, int, int n) {
        out.insert(out.end(), osc->buffer(out_pin), osc->buffer(out_pin) + n);
        pitch.insert(pitch.end(), osc->buffer(pitch_pin), osc->buffer(pitch_pin) + n);
    };
    Played played(rate, law);
    Result r;
    host.open();
    host.run(64);
    const int steps = streaming ? 199 : 180;
    for (int step = 0; step <= steps; ++step) {
        float p = static_cast<float>(step) * 0.005f;
        if (streaming) {
            // The middle of the entry the step's voltage plays.
            p = static_cast<float>(played.index(p)) / tallisk::Oscillator::kTableSize;
            level->set_float(level->find_pin("Value"), p);
        } else {
            osc->set_float(pitch_pin, p);
        }
        host.run(256);
        out.clear();
        pitch.clear();
        host.run(kWindow);
        if (streaming) {
            // Every sample in the step's entry, and the pitch moving nearly every sample.
            const int entry = played.index(p);
            bool one_entry = true;
            int moves = 0;
            for (size_t i = 0; i < pitch.size(); ++i) {
                one_entry = one_entry && played.index(pitch[i]) == entry;
                if (i > 0 && pitch[i] != pitch[i - 1]) ++moves;
            }
            if (!one_entry || moves < kWindow / 2) {
                ++r.skipped;
                continue;
            }
        }
        const double f = played.hertz(p, !streaming);
        if (f <= 0.0) continue;
        r.add(an.analyse(out.data(), kWindow, f, f, rate), p * 10.0);
    }
    return r;
}

Result ramp_sweep(const Options& o, const std::string& plugin, int wave, float rate, int law) {
    mvh::Host host(config(rate));
    mvh::Instance* osc = add_tallisk(host, o, plugin, law, wave);
    alias::Analyser an;
    mvh::Instance* lfo = add(host, o.lfo, "ramp");
    // A rising triangle reaches its peak (10 V) after a quarter period.
    lfo->set_int(lfo->find_pin("Shape"), 1);
    lfo->set_float(lfo->find_pin("Amplitude"), 1.0f);
    int n = 1024;
    while (n < rate * 1.4 / 8) n *= 2;
    const double seconds = o.ramp_seconds > 0.0 ? o.ramp_seconds : 2.0 * n * tallisk::Oscillator::kTableSize / rate;
    lfo->set_float(lfo->find_pin("Rate"), static_cast<float>(0.1 / (4.0 * seconds)));
    wire(host, lfo, "Out", osc, "Pitch");
    const int out_pin = osc->find_pin("Output"), pitch_pin = lfo->find_pin("Out");
    std::vector<float> out, pitch;
    host.after_block = [&](mvh::Host&, int, int count) {
        out.insert(out.end(), osc->buffer(out_pin), osc->buffer(out_pin) + count);
        pitch.insert(pitch.end(), lfo->buffer(pitch_pin), lfo->buffer(pitch_pin) + count);
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
        const double f = played.hertz(pitch.front(), false);
        if (f <= 0.0) continue;
        r.add(an.analyse(out.data(), n, f, f, rate), 10.0 * pitch[static_cast<size_t>(n / 2)]);
    }
    return r;
}

std::string plugin_path(const std::string& name) {
    if (name.find('/') != std::string::npos) return name;
    return std::string(MV_PLUGIN_DIR) + "/" + name + ".so";
}

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool has_value = i + 1 < argc;
        if (a == "--plugin" && has_value) o.plugins.push_back(plugin_path(argv[++i]));
        else if (a == "--wave" && has_value) {
            const std::string w = argv[++i];
            if (w == "saw") o.waves.push_back(0);
            else if (w == "pulse") o.waves.push_back(1);
            else fail("--wave takes saw or pulse");
        } else if (a == "--ramp") o.ramp = true;
        else if (a == "--seconds" && has_value) o.ramp_seconds = std::atof(argv[++i]);
        else if (a == "--rates" && has_value) {
            o.rates.clear();
            for (char* s = std::strtok(argv[++i], ","); s; s = std::strtok(nullptr, ",")) o.rates.push_back(std::strtof(s, nullptr));
        } else
            fail("usage: alias_sweep [--plugin NAME|PATH]... [--wave saw|pulse]... [--rates R1,R2,...] [--ramp [--seconds S]]");
    }
    if (!(o.ramp_seconds >= 0.0)) fail("--seconds must be positive (0: the default)");
    for (float r : o.rates)
        if (!(r >= 8000.0f && r <= 384000.0f)) fail("rates must lie within 8000..384000");
    if (o.plugins.empty()) {
        o.plugins.push_back(plugin_path("tallisk"));
        if (access(plugin_path("tallisk_hq").c_str(), F_OK) == 0) o.plugins.push_back(plugin_path("tallisk_hq"));
    }
    if (o.waves.empty()) o.waves = {0, 1};
    return o;
}

// The measured bank: waveform 1 the editor's sawtooth (i / 512 - 1), waveform 2 a one-sample
// pulse; written into a folder of its own, removed at the end.
std::string write_bank(std::string* folder) {
    char dir[] = "/tmp/alias_sweep.XXXXXX";
    if (!mkdtemp(dir)) fail("cannot make a temporary folder");
    *folder = dir;
    std::vector<float> waves(size_t{tallisk::kWaveCount} * tallisk::kWaveLength, 0.0f);
    for (int i = 0; i < tallisk::kWaveLength; ++i) waves[static_cast<size_t>(i)] = i / 512.0f - 1.0f;
    waves[tallisk::kWaveLength] = 1.0f;
    std::vector<char> names(size_t{tallisk::kWaveCount} * tallisk::kNameSize, '\0');
    std::strcpy(names.data(), "Sawtooth");
    std::strcpy(names.data() + tallisk::kNameSize, "Pulse");
    const std::string path = *folder + "/alias_sweep.wb1";
    if (tallisk::write_file_atomically(path, tallisk::encode_wb1(waves.data(), names.data())) != tallisk::SaveError::None)
        fail("cannot write " + path);
    return path;
}

}  // namespace

int main(int argc, char** argv) {
    Options o = parse(argc, argv);
    std::string folder;
    o.bank = write_bank(&folder);
    std::printf("alias_sweep: Kaiser window (beta %.0f) over %d samples; %s\n", alias::Analyser::kBeta, kWindow,
                o.ramp ? "streaming: the slow ramp" : "streaming: each step with a pitch that moves every sample");
    bool all_met = true;
    for (const std::string& plugin : o.plugins) {
        const bool hq = plugin.find("tallisk_hq") != std::string::npos;
        const double goal_db = hq ? -90.0 : -60.0;
        bool met = true;
        for (int wave : o.waves) {
            std::printf("\n%s, %s\n", plugin.c_str(), kWaveNames[wave]);
            std::printf("%-7s %-12s %-10s %-28s %s\n", "rate", "law", "path", "worst non-harmonic",
                        "lowest top-harmonic share, 2-7 V");
            for (float rate : o.rates) {
                for (int law = 0; law < 2; ++law) {
                    for (int streaming = 0; streaming < 2; ++streaming) {
                        const Result r = !streaming ? step_sweep(o, plugin, wave, rate, law, false)
                                         : o.ramp   ? ramp_sweep(o, plugin, wave, rate, law)
                                                    : step_sweep(o, plugin, wave, rate, law, true);
                        std::printf("%-7.0f %-12s %-10s %6.1f dB at %5.2f V          %.3f at %.2f V", rate, law_name(law),
                                    streaming ? "streaming" : "static", r.worst_db, r.worst_at, r.lowest_share, r.lowest_at);
                        if (r.skipped) std::printf("  (%d steps left their entry)", r.skipped);
                        std::printf("\n");
                        std::fflush(stdout);
                        // The linear reader's goal is the sawtooth's; the high-quality one's both waveforms'.
                        if (hq || wave == 0) met = met && r.worst_db <= goal_db;
                        met = met && r.lowest_share >= 0.45;
                    }
                }
            }
        }
        std::printf("goal for %s (<= %.0f dB%s, top harmonic >= 0.45 of half the rate from 2 to 7 V): %s\n",
                    plugin.c_str(), goal_db, hq ? " for both waveforms" : " for the sawtooth", met ? "met" : "missed");
        all_met = all_met && met;
    }
    std::remove(o.bank.c_str());
    rmdir(folder.c_str());
    std::printf("\nall goals: %s\n", all_met ? "met" : "missed");
    return 0;
}
