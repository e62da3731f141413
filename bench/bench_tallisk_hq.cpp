// tallisk_hq: the sinc reader's oscillator beside the linear one, in the same run, per sample at
// block 64 (the goal is a ratio: the high-quality static loop within 4x the linear static loop).
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

#include "editor_core.h"
#include "hq_oscillator.h"

using namespace tallisk;

namespace {

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
std::unique_ptr<BenchEditor> filled_editor() {
    auto e = std::make_unique<BenchEditor>();
    for (int w = 0; w < kWaveCount; ++w) generate(static_cast<Shape>(1 + w % 6), e->bank().waveform(w));
    e->select_waveform(0);
    e->rebuild_all();
    return e;
}

void per_sample(benchmark::State& state) {
    const double samples = static_cast<double>(state.iterations()) * kBlock;
    state.counters["per_sample"] =
        benchmark::Counter(samples, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["voices_per_core"] = benchmark::Counter(samples / 44100.0, benchmark::Counter::kIsRate);
}

template <class Osc>
std::unique_ptr<Osc> make_osc(const BenchEditor& e, bool plain) {
    auto osc = std::make_unique<Osc>();
    osc->build_increment_tables(44100.0f);
    osc->set_store(e.level_store());
    osc->use_plain_loops(plain);
    osc->static_pitch_update(0.5f);
    return osc;
}

// Arg "plain": 1 keeps the oscillator on its plain loops, 0 lets it take the AVX2 ones.
template <class Osc>
void BM_Static(benchmark::State& state) {
    auto e = filled_editor();
    auto osc = make_osc<Osc>(*e, state.range(0) != 0);
    std::vector<float> out(kBlock);
    for (auto _ : state) {
        osc->render_static(out.data(), kBlock);
        benchmark::DoNotOptimize(out.data());
    }
    per_sample(state);
}
BENCHMARK(BM_Static<Oscillator>)->Name("BM_LinearStatic")->Arg(0)->Arg(1)->ArgNames({"plain"});
BENCHMARK(BM_Static<HqOscillator>)->Name("BM_HqStatic")->Arg(0)->Arg(1)->ArgNames({"plain"});

// A morph settled between two waveforms: one cross-fade loop.
template <class Osc>
void BM_MorphSettled(benchmark::State& state) {
    auto e = filled_editor();
    auto osc = make_osc<Osc>(*e, false);
    std::vector<float> morph(kBlock, 0.37f), out(kBlock);
    for (int i = 0; i < 64; ++i) osc->render_morph_static(morph.data(), out.data(), kBlock);
    for (auto _ : state) {
        osc->render_morph_static(morph.data(), out.data(), kBlock);
        benchmark::DoNotOptimize(out.data());
    }
    per_sample(state);
}
BENCHMARK(BM_MorphSettled<Oscillator>)->Name("BM_LinearMorphSettled");
BENCHMARK(BM_MorphSettled<HqOscillator>)->Name("BM_HqMorphSettled");

// Arg "vibrato": 1 is a 5 Hz vibrato of +-0.1 V around 4.5 V (a new pitch every sample, on one
// level); 0 sweeps from 3 to 7 V in 4096 samples, over and over (every level from 2 to 6 and
// their fades), as bench_tallisk's streaming benchmark.
template <class Osc>
void BM_Streaming(benchmark::State& state) {
    auto e = filled_editor();
    auto osc = make_osc<Osc>(*e, false);
    const bool vibrato = state.range(0) != 0;
    std::vector<float> pitch(vibrato ? 8820 * 16 : kBlock * 64);
    for (size_t i = 0; i < pitch.size(); ++i)
        pitch[i] = vibrato ? 0.45f + 0.01f * std::sin(6.2831853f * 5.0f * static_cast<float>(i) / 44100.0f)
                           : 0.3f + 0.4f * static_cast<float>(i) / static_cast<float>(pitch.size());
    std::vector<float> out(kBlock);
    size_t at = 0;
    for (auto _ : state) {
        osc->render_streaming(pitch.data() + at, out.data(), kBlock);
        at = (at + kBlock) % pitch.size();
        benchmark::DoNotOptimize(out.data());
    }
    per_sample(state);
}
BENCHMARK(BM_Streaming<Oscillator>)->Name("BM_LinearStreaming")->Arg(1)->Arg(0)->ArgNames({"vibrato"});
BENCHMARK(BM_Streaming<HqOscillator>)->Name("BM_HqStreaming")->Arg(1)->Arg(0)->ArgNames({"vibrato"});

}  // namespace

BENCHMARK_MAIN();
