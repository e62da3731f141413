// What tallisk's benchmarks share: an editor whose levels are built, the per-sample counters, and
// the static, streaming and morph measures, for either oscillator (Oscillator, HqOscillator).
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "editor_core.h"

namespace tallisk::bench {

constexpr int kBlock = 64;

class BenchEditor : public EditorCore {
public:
    BenchEditor() : EditorCore(nullptr) {}

protected:
    void write_pin_text(int, const char*) override {}
    std::string read_pin_text(int) override { return {}; }
    int32_t read_pin_int(int) override { return 0; }
    void write_pin_int(int, int32_t) override {}
    void request_repaint() override {}
    void send_to_audio(int, int, const void*) override {}
    std::string host_folder() override { return {}; }
};

// An editor whose 64 waveforms hold sawtooth, square and sine, levels built.
inline std::unique_ptr<BenchEditor> filled_editor() {
    auto e = std::make_unique<BenchEditor>();
    for (int w = 0; w < kWaveCount; ++w) generate(static_cast<Shape>(1 + w % 6), e->bank().waveform(w));
    e->select_waveform(0);
    e->rebuild_all();
    return e;
}

inline void per_sample(benchmark::State& state) {
    const double samples = static_cast<double>(state.iterations()) * kBlock;
    // Shown as seconds per sample with an SI prefix (e.g. 950ps).
    state.counters["per_sample"] =
        benchmark::Counter(samples, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    // Oscillators one core keeps running at 44.1 kHz: samples per CPU second over 44100.
    state.counters["voices_per_core"] = benchmark::Counter(samples / 44100.0, benchmark::Counter::kIsRate);
}

// An oscillator at 44.1 kHz on the editor's tables at 5 V; plain keeps it on its plain loops.
template <class Osc>
std::unique_ptr<Osc> make_osc(const BenchEditor& e, bool plain) {
    auto osc = std::make_unique<Osc>();
    osc->build_increment_tables(44100.0f);
    osc->set_store(e.level_store());
    osc->use_plain_loops(plain);
    osc->static_pitch_update(0.5f);
    return osc;
}

// Times play(out), one block of kBlock samples into out, per sample.
template <class Play>
void time_blocks(benchmark::State& state, Play&& play) {
    std::vector<float> out(kBlock);
    for (auto _ : state) {
        play(out.data());
        benchmark::DoNotOptimize(out.data());
    }
    per_sample(state);
}

template <class Osc>
void measure_static(benchmark::State& state, bool plain) {
    auto e = filled_editor();
    auto osc = make_osc<Osc>(*e, plain);
    time_blocks(state, [&](float* out) { osc->render_static(out, kBlock); });
}

// vibrato: a 5 Hz vibrato of +-0.1 V around 4.5 V (a new pitch every sample, a new entry every 11
// samples or so, on one level); else a sweep from 3 to 7 V in 4096 samples, over and over (every
// sample a new table entry, every level from 2 to 6 and their fades).
template <class Osc>
void measure_streaming(benchmark::State& state, bool vibrato, bool plain) {
    auto e = filled_editor();
    auto osc = make_osc<Osc>(*e, plain);
    std::vector<float> pitch(vibrato ? 8820 * 16 : kBlock * 64);  // whole blocks, whole periods
    for (size_t i = 0; i < pitch.size(); ++i)
        pitch[i] = vibrato ? 0.45f + 0.01f * std::sin(6.2831853f * 5.0f * static_cast<float>(i) / 44100.0f)
                           : 0.3f + 0.4f * static_cast<float>(i) / static_cast<float>(pitch.size());
    size_t at = 0;
    time_blocks(state, [&](float* out) {
        osc->render_streaming(pitch.data() + at, out, kBlock);
        at = (at + kBlock) % pitch.size();
    });
}

// A morph settled between two waveforms (one cross-fade loop), or gliding: the target alternates
// every block, so the position never settles.
template <class Osc>
void measure_morph(benchmark::State& state, bool gliding, bool plain) {
    auto e = filled_editor();
    auto osc = make_osc<Osc>(*e, plain);
    std::vector<float> morph(kBlock, 0.37f), settling(kBlock);
    for (int i = 0; i < 64; ++i) osc->render_morph_static(morph.data(), settling.data(), kBlock);
    float target = 0.37f;
    time_blocks(state, [&](float* out) {
        if (gliding) {
            target = target > 0.5f ? 0.2f : 0.8f;
            std::fill(morph.begin(), morph.end(), target);
        }
        osc->render_morph_static(morph.data(), out, kBlock);
    });
}

}  // namespace tallisk::bench
