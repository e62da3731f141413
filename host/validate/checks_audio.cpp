// Checks that run the audio object: sample rates, block sizes, random pin changes and MIDI, time
// information, and a dedicated real-time run. The harness checks every call as it goes.
#include "checks.h"
#include "rt_probe.h"

namespace mvh::validate {

namespace {

bool open_harness(Harness& h) {
    if (!h.create()) return false;
    h.open();
    return true;
}

}  // namespace

void check_sample_rates(CheckContext& ctx) {
    ctx.watch_realtime();
    auto plugin = load_plugin(ctx);
    if (!plugin) return;
    const float kRates[] = {8000, 11025, 22050, 32000, 44100, 48000, 88200, 96000, 176400, 192000, 384000};
    const int kSizes[] = {1, 7, 64, 441, 4096};
    for (float rate : kRates) {
        for (int size : kSizes) {
            if (ctx.strictness() < 5 && size != 64 && size != 4096) continue;
            HarnessConfig c;
            c.sample_rate = rate;
            c.block_size = size;
            Harness h(plugin, c, ctx);
            if (!open_harness(h)) return;
            FuzzPlan plan;
            plan.blocks = std::max(2, std::min(ctx.strictness() * 2, 8192 * 4 / size));
            plan.pin_change = 0.2;
            plan.midi = 0.3;
            run_fuzz(h, ctx, plan);
            h.run_block(0);
        }
    }
}

void check_block_sizes(CheckContext& ctx) {
    ctx.watch_realtime();
    auto plugin = load_plugin(ctx);
    if (!plugin) return;
    HarnessConfig c;
    c.block_size = 4096;
    Harness h(plugin, c, ctx);
    if (!open_harness(h)) return;
    FuzzPlan plan;
    plan.blocks = scaled(ctx, 30);
    plan.random_sizes = true;
    plan.zero_calls = true;
    plan.pin_change = 0.3;
    plan.midi = 0.3;
    run_fuzz(h, ctx, plan);
    // Odd sizes in a row, each smaller than the announced block size.
    for (int n : {1, 2, 3, 5, 17, 127, 1000, 4095, 4096, 0, 1})
        h.run_block(n);
}

void check_pin_fuzz(CheckContext& ctx) {
    ctx.watch_realtime();
    auto plugin = load_plugin(ctx);
    if (!plugin) return;
    for (int round = 0; round < 3; ++round) {
        HarnessConfig c;
        c.block_size = round == 0 ? 64 : 512;
        c.extra_duplicates = round;
        Harness h(plugin, c, ctx);
        if (!open_harness(h)) return;
        h.set_connected(round != 1);
        h.set_input_signal(round == 2 && ctx.strictness() >= 6 ? Harness::InputSignal::Wild : Harness::InputSignal::Noise);
        FuzzPlan plan;
        plan.blocks = scaled(ctx, 40);
        plan.random_sizes = round == 2;
        plan.pin_change = 0.8;
        plan.wild = ctx.strictness() >= 4 ? 0.3 : 0.0;
        plan.odd_events = true;
        run_fuzz(h, ctx, plan);
    }
}

void check_midi_fuzz(CheckContext& ctx) {
    ctx.watch_realtime();
    auto plugin = load_plugin(ctx);
    if (!plugin) return;
    HarnessConfig c;
    c.block_size = 256;
    Harness h(plugin, c, ctx);
    if (!open_harness(h)) return;
    FuzzPlan plan;
    plan.blocks = scaled(ctx, 60);
    plan.midi = 0.9;
    plan.midi_flood = 64 * ctx.strictness();
    plan.pin_change = 0.2;
    plan.random_sizes = true;
    run_fuzz(h, ctx, plan);
    // Notes left hanging, then a long stretch without input.
    FuzzPlan quiet;
    quiet.blocks = 20;
    run_fuzz(h, ctx, quiet);
}

void check_time_info(CheckContext& ctx) {
    ctx.watch_realtime();
    auto plugin = load_plugin(ctx);
    if (!plugin) return;
    struct Case {
        bool info;
        double tempo;
    };
    const Case kCases[] = {{false, 120.0}, {true, 0.0}, {true, 1.0}, {true, 999.0}, {true, -120.0}};
    for (const Case& k : kCases) {
        HarnessConfig c;
        c.block_size = 256;
        c.time_info = k.info;
        c.tempo = k.tempo;
        Harness h(plugin, c, ctx);
        if (!open_harness(h)) return;
        FuzzPlan plan;
        plan.blocks = scaled(ctx, 4);
        plan.pin_change = 0.3;
        plan.midi = 0.5;
        run_fuzz(h, ctx, plan);
        // The tempo changes while running, and the time information goes away.
        h.set_tempo(k.tempo * 2 + 1);
        run_fuzz(h, ctx, plan);
        h.set_time_info(false);
        run_fuzz(h, ctx, plan);
    }
}

void check_realtime(CheckContext& ctx) {
    ctx.watch_realtime();
    if (!rt_available()) {
        ctx.skip("the real-time shim is not loaded (sanitizer build or shim not found)");
        return;
    }
    auto plugin = load_plugin(ctx);
    if (!plugin) return;
    HarnessConfig c;
    c.block_size = 1024;
    c.extra_duplicates = 2;
    Harness h(plugin, c, ctx);
    if (!open_harness(h)) return;
    FuzzPlan plan;
    plan.blocks = scaled(ctx, 40);
    plan.random_sizes = true;
    plan.pin_change = 0.7;
    plan.midi = 0.7;
    plan.midi_flood = 32;
    plan.odd_events = true;
    run_fuzz(h, ctx, plan);
    ctx.note(std::to_string(h.process_calls) + " process and " + std::to_string(h.event_calls) + " event calls watched");
}

}  // namespace mvh::validate
