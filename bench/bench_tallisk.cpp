// tallisk: oscillator cost per sample at block 64, and the editor's table rebuilds on the UI thread.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

#include "editor_core.h"
#include "oscillator.h"
#include "oscillator_loops.h"
#include "real_fft.h"

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
    // Shown as seconds per sample with an SI prefix (e.g. 950ps).
    state.counters["per_sample"] =
        benchmark::Counter(samples, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    // Oscillators one core keeps running at 44.1 kHz: samples per CPU second over 44100.
    state.counters["voices_per_core"] = benchmark::Counter(samples / 44100.0, benchmark::Counter::kIsRate);
}

// Arg "plain": 1 keeps the oscillator on the plain loops, 0 lets it use the AVX2 ones if present.
void BM_OscillatorStaticPitch(benchmark::State& state) {
    auto e = filled_editor();
    auto osc = std::make_unique<Oscillator>();
    osc->build_increment_tables(44100.0f);
    osc->set_store(e->level_store());
    osc->use_plain_loops(state.range(0) != 0);
    osc->static_pitch_update(0.5f);
    std::vector<float> out(kBlock);
    for (auto _ : state) {
        osc->render_static(out.data(), kBlock);
        benchmark::DoNotOptimize(out.data());
    }
    per_sample(state);
}
BENCHMARK(BM_OscillatorStaticPitch)->Arg(0)->Arg(1)->ArgNames({"plain"});

// Arg "vibrato": 0 sweeps from 3 to 7 V in 4096 samples, over and over (every sample a new table
// entry, every level from 2 to 6 and three fades); 1 is a 5 Hz vibrato of +-0.1 V around 4.5 V
// (a new pitch every sample, a new entry every 11 samples or so). "plain": 1 keeps the plain loops.
void BM_OscillatorStreamingPitch(benchmark::State& state) {
    auto e = filled_editor();
    auto osc = std::make_unique<Oscillator>();
    osc->build_increment_tables(44100.0f);
    osc->set_store(e->level_store());
    osc->use_plain_loops(state.range(1) != 0);
    std::vector<float> pitch(state.range(0) ? 8820 * 16 : kBlock * 64);  // whole blocks, whole periods
    for (size_t i = 0; i < pitch.size(); ++i)
        pitch[i] = state.range(0) ? 0.45f + 0.01f * std::sin(6.2831853f * 5.0f * static_cast<float>(i) / 44100.0f)
                                  : 0.3f + 0.4f * static_cast<float>(i) / pitch.size();
    std::vector<float> out(kBlock);
    size_t at = 0;
    for (auto _ : state) {
        osc->render_streaming(pitch.data() + at, out.data(), kBlock);
        at = (at + kBlock) % pitch.size();
        benchmark::DoNotOptimize(out.data());
    }
    per_sample(state);
}
BENCHMARK(BM_OscillatorStreamingPitch)->Args({0, 0})->Args({1, 0})->Args({0, 1})->ArgNames({"vibrato", "plain"});

void BM_OscillatorMorph(benchmark::State& state) {
    const bool gliding = state.range(0) != 0;
    auto e = filled_editor();
    auto osc = std::make_unique<Oscillator>();
    osc->build_increment_tables(44100.0f);
    osc->set_store(e->level_store());
    osc->use_plain_loops(state.range(1) != 0);
    osc->static_pitch_update(0.5f);
    std::vector<float> morph(kBlock, 0.37f), out(kBlock);
    // Settle first; a gliding run alternates its target every block so it never settles.
    for (int i = 0; i < 64; ++i) osc->render_morph_static(morph.data(), out.data(), kBlock);
    float target = 0.37f;
    for (auto _ : state) {
        if (gliding) {
            target = target > 0.5f ? 0.2f : 0.8f;
            std::fill(morph.begin(), morph.end(), target);
        }
        osc->render_morph_static(morph.data(), out.data(), kBlock);
        benchmark::DoNotOptimize(out.data());
    }
    per_sample(state);
}
BENCHMARK(BM_OscillatorMorph)->Args({0, 0})->Args({0, 1})->Args({1, 0})->ArgNames({"gliding", "plain"});

// The morph position's chain alone, over the gliding run's inputs: the floor under the gliding
// morph, whose every step waits for the one before.
void BM_MorphChain(benchmark::State& state) {
    std::vector<float> morph(kBlock), positions(kBlock);
    float target = 0.37f, pos = Oscillator::morph_target(target);
    for (auto _ : state) {
        target = target > 0.5f ? 0.2f : 0.8f;
        std::fill(morph.begin(), morph.end(), target);
        benchmark::DoNotOptimize(morph.data());
        for (int i = 0; i < kBlock; ++i) positions[i] = pos = Oscillator::morph_step(pos, morph[i]);
        benchmark::DoNotOptimize(positions.data());
    }
    per_sample(state);
}
BENCHMARK(BM_MorphChain);

// The bare loops over one level at 5 V (no reader, no checks): what the block path costs without
// the per-block bookkeeping.
void BM_Loop(benchmark::State& state) {
    const OscillatorLoops* loops = state.range(0) != 0 ? &kPlainLoops : avx2_loops();
    if (!loops) {
        state.SkipWithError("no AVX2");
        return;
    }
    const bool crossfade = state.range(1) != 0;
    auto e = filled_editor();
    const float* wa = e->level_store()->published(3) + kLevels[4].offset;
    const float* wb = e->level_store()->published(4) + kLevels[4].offset;
    PhaseWalk w{0, 42852281u, 22u, (1u << 22) - 1u, 1.0f / 4194304.0f};
    std::vector<float> out(kBlock);
    for (auto _ : state) {
        w.phase = crossfade ? loops->crossfade(wa, wb, 0.25f, w, out.data(), kBlock)
                            : loops->single(wa, w, out.data(), kBlock);
        benchmark::DoNotOptimize(out.data());
    }
    per_sample(state);
}
BENCHMARK(BM_Loop)->Args({0, 0})->Args({1, 0})->Args({0, 1})->Args({1, 1})->ArgNames({"plain", "crossfade"});

void BM_BuildLevelsOneWaveform(benchmark::State& state) {
    auto e = filled_editor();
    for (auto _ : state) e->build_levels(0, 0);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BuildLevelsOneWaveform)->Unit(benchmark::kMicrosecond);

void BM_RebuildAll(benchmark::State& state) {
    auto e = filled_editor();
    for (auto _ : state) e->rebuild_all();
    // 12 when every plan came from the kept wisdom, fewer where it does not fit this machine.
    state.counters["plans_from_wisdom"] = FftPlans::instance().from_wisdom();
}
BENCHMARK(BM_RebuildAll)->Unit(benchmark::kMillisecond);

void BM_SelectWaveform(benchmark::State& state) {
    auto e = filled_editor();
    int n = 0;
    for (auto _ : state) {
        n = (n + 1) % kWaveCount;
        e->select_waveform(n);
    }
}
BENCHMARK(BM_SelectWaveform)->Unit(benchmark::kMicrosecond);

void BM_EditorConstruction(benchmark::State& state) {
    auto first = std::make_unique<BenchEditor>();  // the plans exist from here on
    for (auto _ : state) {
        auto e = std::make_unique<BenchEditor>();
        benchmark::DoNotOptimize(e.get());
    }
}
BENCHMARK(BM_EditorConstruction)->Unit(benchmark::kMicrosecond);

// One instance up to its first block: an editor (bank and level store; the process-wide FFT plans
// exist already) and an oscillator with its increment tables (those of the rate exist already, held
// by another instance), rendering one block; and the memory the level store reserves (zero pages
// until tables are written).
void BM_InstanceStartUp(benchmark::State& state) {
    auto first = std::make_unique<BenchEditor>();
    Oscillator first_osc;
    first_osc.build_increment_tables(44100.0f);
    std::vector<float> out(kBlock);
    for (auto _ : state) {
        auto e = std::make_unique<BenchEditor>();
        auto osc = std::make_unique<Oscillator>();
        osc->build_increment_tables(44100.0f);
        osc->set_store(e->level_store());
        osc->static_pitch_update(0.5f);
        osc->render_static(out.data(), kBlock);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["level_store_MiB"] = LevelStore::kBlockCount * (kBlockSamples * 4.0) / 1048576.0;
    state.counters["oscillator_KiB"] = sizeof(Oscillator) / 1024.0;
}
BENCHMARK(BM_InstanceStartUp)->Unit(benchmark::kMicrosecond);

// The increment tables of one sample rate, made by the first oscillator at that rate.
void BM_IncrementTables(benchmark::State& state) {
    float rate = 44100.0f;
    for (auto _ : state) {
        Oscillator osc;
        osc.build_increment_tables(rate);
        rate = rate == 44100.0f ? 48000.0f : 44100.0f;
        benchmark::DoNotOptimize(osc.table(PitchLaw::VoltPerOctave));
    }
}
BENCHMARK(BM_IncrementTables)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
