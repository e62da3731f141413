// tallisk_hq: the sinc reader on tables whose continuous signal is known, the high-quality
// oscillator against the linear one's pitch law and level choice, and the plug-in through the host.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "alias_analysis.h"
#include "bank_file.h"
#include "hq_oscillator.h"
#include "mvhost/host.h"

namespace tallisk {
namespace {

// A table of 2^(32 - shift) samples holding harmonics 1..top of equal amplitude (a band-limited
// pulse), and its continuous value at a phase.
struct PulseTable {
    explicit PulseTable(uint32_t shift, int top) : length(1 << (32 - shift)), top(top) {
        samples.resize(static_cast<size_t>(length) + 2);
        for (int i = 0; i < length; ++i) samples[static_cast<size_t>(i)] = static_cast<float>(at(double(i) / length));
        samples[static_cast<size_t>(length)] = samples[0];  // the guard the linear reader reads
    }
    // gain[h - 1]: the factor harmonic h passes with (none: 1).
    double at(double cycle, const std::vector<double>* gain = nullptr) const {
        double v = 0.0;
        for (int h = 1; h <= top; ++h) v += std::cos(2 * M_PI * h * cycle) / top * (gain ? (*gain)[size_t(h - 1)] : 1.0);
        return v;
    }
    int length, top;
    std::vector<float> samples;
};

// The gain of the continuous kernel (linear between its rows) at f cycles per table sample.
double kernel_gain(double f) {
    double sum = 0.0;
    for (int i = 0; i <= kSincTaps * kSincPhases; ++i) {
        const double t = double(i) / kSincPhases - kSincTaps / 2;
        sum += sinc_kernel_at(t) * std::cos(2 * M_PI * f * t);
    }
    const double x = M_PI * f / kSincPhases;
    return sum / kSincPhases * std::pow(std::sin(x) / x, 2);
}

// Every harmonic within its level's band comes out at the kernel's gain for it (within 0.02 dB of
// unity), and what else comes out (the images the reader leaves) stays near -100 dB.
TEST(HqSincReader, ReadsEveryLevelsBandAsTheContinuousSignal) {
    const SincKernel& k = sinc_kernel();
    std::mt19937 rng(7);
    std::uniform_int_distribution<uint32_t> any;
    const SincLoops* avx2 = sinc_avx2_loops();
    for (int level = 0; level < kLevelCount; ++level) {
        const uint32_t shift = static_cast<uint32_t>(level_shift(level));
        const PulseTable t(shift, kLevels[level].bins - 1);
        double error = 0.0, power = 0.0;
        std::vector<uint32_t> phases;
        // Random phases, and the ends of the table where the taps wrap.
        for (int i = 0; i < 1000; ++i) phases.push_back(any(rng));
        for (uint32_t j : {0u, 1u, 2u, 3u, static_cast<uint32_t>(t.length) - 5, static_cast<uint32_t>(t.length) - 1})
            phases.push_back((j << shift) + (any(rng) >> (32 - shift)));
        std::vector<double> gain;
        for (int h = 1; h <= t.top; ++h) gain.push_back(kernel_gain(double(h) / t.length));
        for (double g : gain) EXPECT_NEAR(g, 1.0, 0.0025);
        for (uint32_t p : phases) {
            const double want = t.at(p / 4294967296.0, &gain);
            const double got = sinc_read(k, t.samples.data(), p, shift);
            error += (got - want) * (got - want);
            power += want * want;
        }
        EXPECT_LT(10 * std::log10(error / power), -95.0) << "level " << level;

        // The block loops read what the one-sample read does, through the wrap too.
        const uint32_t start = 0u - (7u << shift), step = 0x01234567u >> (level / 2);
        std::vector<float> plain(203), fast(203), faded(203);
        const uint32_t end = kSincPlainLoops.single(k, t.samples.data(), shift, start, step, plain.data(), 203);
        for (int i = 0; i < 203; ++i)
            ASSERT_EQ(plain[i], sinc_read(k, t.samples.data(), start + uint32_t(i) * step, shift)) << i;
        EXPECT_EQ(end, start + 203u * step);
        if (avx2) {
            EXPECT_EQ(avx2->single(k, t.samples.data(), shift, start, step, fast.data(), 203), end);
            for (int i = 0; i < 203; ++i) ASSERT_NEAR(fast[i], plain[i], 2e-6) << i;
        }
        // A cross-fade of a table with its negative is the table scaled by 1 - 2 fm.
        std::vector<float> negative(t.samples);
        for (float& x : negative) x = -x;
        for (const SincLoops* loops : {&kSincPlainLoops, avx2}) {
            if (!loops) continue;
            loops->crossfade(k, t.samples.data(), negative.data(), 0.25f, shift, start, step, faded.data(), 203);
            for (int i = 0; i < 203; ++i) ASSERT_NEAR(faded[i], 0.5f * plain[i], 2e-6) << i;
        }
    }
}

// A store whose every waveform block holds every level of a band-limited pulse.
std::unique_ptr<LevelStore> pulse_store() {
    auto store = std::make_unique<LevelStore>();
    std::vector<float> block(kBlockSamples, 0.0f);
    for (int level = 0; level < kLevelCount; ++level) {
        const PulseTable t(static_cast<uint32_t>(level_shift(level)), kLevels[level].bins - 1);
        std::copy(t.samples.begin(), t.samples.end(), block.begin() + kLevels[level].offset);
    }
    for (int w = 0; w < kWaveCount; ++w) store->replace(w, block.data());
    return store;
}

TEST(HqOscillator, PlaysTheLinearOscillatorsPitchLevelsAndMorph) {
    auto store = pulse_store();
    auto linear = std::make_unique<Oscillator>();
    HqOscillator hq;
    for (int law = 0; law < 2; ++law) {
        linear->build_increment_tables(48000.0f);
        hq.build_increment_tables(48000.0f);
        linear->set_law(PitchLaw(law));
        hq.set_law(PitchLaw(law));
        linear->set_store(store.get());
        hq.set_store(store.get());
        linear->reset();
        hq.reset();
        std::mt19937 rng(11 + law);
        std::uniform_real_distribution<float> volts(-0.2f, 1.1f), morph(0.0f, 1.0f);
        std::vector<float> pitch(64), m(64), a(64), b(64);
        for (int block = 0; block < 600; ++block) {
            const int kind = block % 4;
            // Glides, holds and jumps of the pitch and of the morph position.
            const float p0 = volts(rng), p1 = block % 3 ? p0 : volts(rng), m0 = morph(rng);
            for (int i = 0; i < 64; ++i) {
                pitch[i] = i < 20 ? p0 : p0 + (p1 - p0) * i / 63.0f;
                m[i] = block % 5 ? m0 : m0 * i / 63.0f;
            }
            if (block % 97 == 0) pitch[5] = NAN;
            if (kind == 0) {
                linear->render_streaming(pitch.data(), a.data(), 64);
                hq.render_streaming(pitch.data(), b.data(), 64);
            } else if (kind == 1) {
                linear->static_pitch_update(p1);
                hq.static_pitch_update(p1);
                linear->render_static(a.data(), 64);
                hq.render_static(b.data(), 64);
            } else if (kind == 2) {
                linear->render_morph_streaming(pitch.data(), m.data(), a.data(), 64);
                hq.render_morph_streaming(pitch.data(), m.data(), b.data(), 64);
            } else {
                linear->render_morph_static(m.data(), a.data(), 64);
                hq.render_morph_static(m.data(), b.data(), 64);
            }
            ASSERT_EQ(hq.phase(), linear->phase()) << "block " << block;
            ASSERT_EQ(hq.increment(), linear->increment()) << "block " << block;
            ASSERT_EQ(hq.level(), linear->level()) << "block " << block;
            ASSERT_EQ(hq.fade(), linear->fade()) << "block " << block;
            ASSERT_EQ(hq.morph_pos(), linear->morph_pos()) << "block " << block;
            // The same waveform, read finer: the linear reading stays within its own error.
            for (int i = 0; i < 64; ++i) ASSERT_NEAR(b[i], a[i], 0.05) << "block " << block << " sample " << i;
        }
    }
    // Without tables, or with a waveform outside the bank, nothing plays.
    HqOscillator quiet;
    quiet.build_increment_tables(44100.0f);
    quiet.static_pitch_update(0.5f);
    std::vector<float> out(64, 1.0f);
    quiet.render_static(out.data(), 64);
    quiet.set_store(store.get());
    quiet.set_waveform(64);
    quiet.render_static(out.data() + 32, 32);
    for (float x : out) EXPECT_EQ(x, 0.0f);
}

// The streaming block loop against the same oscillator fed one sample a call (every sample then
// takes the one-sample paths): glides across levels and fades, vibrato, holds, jumps, NaN and
// pitches beyond the table, both laws. The plain loops read every sample alike, so they agree to
// the bit; the AVX2 loops sum the eight taps in another order.
TEST(HqOscillator, StreamingBlocksPlayAsOneSampleAtATime) {
    auto store = pulse_store();
    std::mt19937 rng(29);
    std::uniform_real_distribution<float> ud(0.0f, 1.0f);
    for (const bool plain : {true, false}) {
        for (int law = 0; law < 2; ++law) {
            HqOscillator blocks, samples;
            for (HqOscillator* o : {&blocks, &samples}) {
                o->build_increment_tables(44100.0f);
                o->set_law(PitchLaw(law));
                o->set_store(store.get());
                o->use_plain_loops(plain);
            }
            float p = ud(rng), rate = 1e-4f;
            for (int block = 0; block < 150; ++block) {
                const int count = 1 + static_cast<int>(rng() % 150);
                std::vector<float> pitch(count), a(count), b(count);
                for (float& x : pitch) {
                    const unsigned r = rng() % 1000;
                    if (r < 5) rate = (ud(rng) - 0.5f) * 2e-3f;
                    else if (r < 8) p = ud(rng);
                    else if (r < 20) rate = 0.0f;
                    p = std::fabs(p + rate + 2e-5f * std::sin(0.05f * static_cast<float>(&x - pitch.data())));
                    x = r == 8 ? std::nanf("") : r == 9 ? 900.0f : p;
                }
                blocks.render_streaming(pitch.data(), a.data(), count);
                for (int i = 0; i < count; ++i) samples.render_streaming(pitch.data() + i, b.data() + i, 1);
                ASSERT_EQ(blocks.phase(), samples.phase()) << "block " << block;
                ASSERT_EQ(blocks.increment(), samples.increment()) << "block " << block;
                for (int i = 0; i < count; ++i)
                    ASSERT_NEAR(a[i], b[i], plain ? 0.0 : 2e-6) << "plain " << plain << " block " << block << " sample " << i;
            }
        }
    }
}

// The plug-in through the host: a one-sample pulse from a bank file, at a pitch where the linear
// reader's images fold back.
double hosted_nonharmonic_db(const std::string& plugin, const std::string& bank, float pitch, std::string* name) {
    mvh::HostConfig config;
    config.sample_rate = 44100.0f;
    mvh::Host host(config);
    std::string error;
    mvh::Instance* osc = host.add(std::string(MV_PLUGIN_DIR) + "/" + plugin + ".so", "osc", {}, &error);
    EXPECT_NE(osc, nullptr) << error;
    if (!osc) return 0.0;
    *name = osc->plugin().name() + " " + osc->plugin().id();
    osc->set_text(osc->find_pin("wbf_path"), bank);
    osc->set_int(osc->find_pin("Waveform"), 1);
    osc->set_float(osc->find_pin("Pitch"), pitch);
    std::vector<float> out;
    host.after_block = [&](mvh::Host&, int, int n) {
        const float* o = osc->buffer(osc->find_pin("Output"));
        out.insert(out.end(), o, o + n);
    };
    alias::Analyser an;
    host.open();
    host.run(512);
    out.clear();
    host.run(32768);
    auto core = std::make_unique<Oscillator>();
    core->build_increment_tables(44100.0f);
    core->static_pitch_update(pitch);
    const double f = core->increment() / 4294967296.0 * 44100.0;
    return an.analyse(out.data(), 32768, f, f, 44100.0).nonharmonic_db;
}

TEST(TalliskHq, LoadsAsItsOwnModuleAndPlaysABankWithoutTheLinearReadersAliasing) {
    char dir[] = "/tmp/tallisk_hq_test.XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string bank = std::string(dir) + "/pulse.wb1";
    std::vector<float> waves(size_t{kWaveCount} * kWaveLength, 0.0f);
    waves[kWaveLength] = 1.0f;  // waveform 2
    std::vector<char> names(size_t{kWaveCount} * kNameSize, '\0');
    ASSERT_EQ(write_file_atomically(bank, encode_wb1(waves.data(), names.data())), SaveError::None);

    std::string name, hq_name;
    const float pitch = 0.335f;  // 3.35 V: level 0, its top harmonic near half the rate
    const double linear_db = hosted_nonharmonic_db("tallisk", bank, pitch, &name);
    const double hq_db = hosted_nonharmonic_db("tallisk_hq", bank, pitch, &hq_name);
    EXPECT_EQ(name, "QB_TKMAIN QB_Tallisk_Wavetable_64");
    EXPECT_EQ(hq_name, "QB_TKMAIN HQ QB_Tallisk_Wavetable_64_HQ");
    EXPECT_GT(linear_db, -60.0);
    EXPECT_LT(hq_db, -90.0);
    std::remove(bank.c_str());
    rmdir(dir);
}

}  // namespace
}  // namespace tallisk
