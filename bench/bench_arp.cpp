// Arpeggiator engine: cost of the process call per sample while an arpeggio runs.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "arp_engine.h"

namespace {

class CountingOutput : public arp::ArpOutput {
public:
    void send_midi(uint32_t, int32_t word) override { m_sum += static_cast<uint32_t>(word); ++m_sent; }
    void send_arp_status(uint32_t) override {}
    void request_sleep() override {}
    uint64_t m_sum = 0;
    uint64_t m_sent = 0;
};

// Runs 256-sample blocks of an Up+Down arpeggio over four octaves. `ratio` is as delivered (a
// tenth of the user's number), so 0.0005 asks for the shortest step, 100 samples.
void run_arpeggio(benchmark::State& state, float ratio, std::initializer_list<int> chord) {
    CountingOutput out;
    arp::ArpEngine engine(out);
    engine.open(44100.0);
    const arp::TimingInputs inputs{24.0f, ratio, 5.0f};
    engine.m_arp_mode = 3;
    engine.m_oct_range = 36;
    for (int pin = 0; pin < arp::kPinCount; ++pin) engine.pin_status_changed(pin, 0, 0, inputs);
    for (int n : chord) engine.midi_received(0, 0x90 + n * 256 + 100 * 65536);
    uint32_t clock = 0;
    constexpr int kBlock = 256;
    for (auto _ : state) {
        engine.process(clock, kBlock, inputs);
        clock += kBlock;
    }
    benchmark::DoNotOptimize(out.m_sum);
    state.SetItemsProcessed(state.iterations() * kBlock);
    // Scaling the item count by 1e-9 turns the inverted rate into nanoseconds per sample.
    state.counters["ns/sample"] = benchmark::Counter(static_cast<double>(state.iterations()) * kBlock * 1e-9,
                                                     benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["notes/block"] =
        benchmark::Counter(static_cast<double>(out.m_sent) / 2.0, benchmark::Counter::kAvgIterations);
}

void BM_ArpSixteenthsAt240Bpm(benchmark::State& state) { run_arpeggio(state, 0.025f, {60, 64, 67}); }
void BM_ArpShortestStepWideChord(benchmark::State& state) {
    run_arpeggio(state, 0.0005f, {24, 36, 48, 60, 72, 84, 96});
}
// Two notes at the ends of the table: every turn of the walk examines the whole range.
void BM_ArpShortestStepSparseWalk(benchmark::State& state) { run_arpeggio(state, 0.0005f, {0, 127}); }

}  // namespace

BENCHMARK(BM_ArpSixteenthsAt240Bpm);
BENCHMARK(BM_ArpShortestStepWideChord);
BENCHMARK(BM_ArpShortestStepSparseWalk);
BENCHMARK_MAIN();
