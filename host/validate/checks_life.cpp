// Checks of an object's life: creation and close in every order, many at once, a null callback,
// memory that must come back, and patch state that must survive into a fresh instance.
#include <algorithm>
#include <cmath>

#include "checks.h"
#include "rt_probe.h"

namespace mvh::validate {

void check_lifecycle(CheckContext& ctx) {
    auto plugin = load_plugin(ctx);
    if (!plugin) return;
    const bool gui = !plugin->is_v1();
    // Cold (first object of the library) and warm, closed without ever being opened.
    for (int k = 0; k < 2; ++k) {
        HarnessConfig c;
        c.with_gui = gui;
        Harness h(plugin, c, ctx);
        h.create();
    }
    // Opened and closed three times, with a little processing between.
    for (int k = 0; k < 3; ++k) {
        HarnessConfig c;
        c.with_gui = gui;
        c.block_size = 256;
        Harness h(plugin, c, ctx);
        if (!h.create()) return;
        h.open();
        for (int b = 0; b < 3; ++b) h.run_block(256);
    }
    // Many instances alive at once, run interleaved and closed in a random order.
    const int count = 8 + 4 * ctx.strictness();
    std::vector<std::unique_ptr<Harness>> many;
    for (int k = 0; k < count; ++k) {
        HarnessConfig c;
        c.with_gui = gui && (k % 2 == 0);
        c.block_size = 128;
        c.extra_duplicates = k % 3;
        many.push_back(std::make_unique<Harness>(plugin, c, ctx));
        if (!many.back()->create()) return;
        many.back()->open();
    }
    for (int b = 0; b < 4; ++b)
        for (auto& h : many) h->run_block(128);
    std::shuffle(many.begin(), many.end(), ctx.rng());
    many.clear();
    // A null host callback: every host call yields 0, so the object has no pins.
    HarnessConfig c;
    c.null_callback = true;
    c.with_gui = gui;
    Harness h(plugin, c, ctx);
    if (!h.create()) return;
    h.open();
    if (ctx.strictness() >= 8)
        for (int b = 0; b < 4; ++b) h.run_block(h.config().block_size);
}

void check_leaks(CheckContext& ctx) {
    if (!rt_available()) {
        ctx.skip("the real-time shim is not loaded (sanitizer build or shim not found)");
        return;
    }
    auto plugin = load_plugin(ctx);
    if (!plugin) return;
    auto cycle = [&] {
        HarnessConfig c;
        c.with_gui = !plugin->is_v1();
        c.block_size = 512;
        c.extra_duplicates = 2;
        Harness h(plugin, c, ctx);
        if (!h.create()) return;
        h.open();
        FuzzPlan plan;
        plan.blocks = 4;
        plan.pin_change = 0.5;
        plan.midi = 0.5;
        run_fuzz(h, ctx, plan);
    };
    cycle();  // first use may fill caches that live as long as the library
    const int cycles = 2 + ctx.strictness();
    const int64_t before = rt_live_allocations();
    for (int k = 0; k < cycles; ++k) cycle();
    const int64_t grown = rt_live_allocations() - before;
    if (grown >= cycles)
        ctx.fail(std::to_string(grown) + " allocations are not freed after " + std::to_string(cycles) +
                 " create-open-process-close cycles");
}

namespace {

bool same_value(const HarnessPin& pin, const PinValue& a, const PinValue& b) {
    switch (pin.datatype) {
    case DT_TEXT: return a.text == b.text;
    case DT_FLOAT: return a.f == b.f || (std::isnan(a.f) && std::isnan(b.f));
    case DT_BOOL: return (a.i != 0) == (b.i != 0);
    case DT_ENUM: return static_cast<int16_t>(a.i) == static_cast<int16_t>(b.i);
    default: return a.i == b.i;
    }
}

std::string show(const HarnessPin& pin, const PinValue& v) {
    if (pin.datatype == DT_TEXT) return "\"" + v.text.substr(0, 40) + "\"";
    if (pin.datatype == DT_FLOAT) return std::to_string(v.f);
    return std::to_string(v.i);
}

}  // namespace

void check_state(CheckContext& ctx) {
    auto plugin = load_plugin(ctx);
    if (!plugin) return;
    HarnessConfig c;
    c.block_size = 256;
    Harness a(plugin, c, ctx);
    if (!a.create()) return;
    a.open();
    a.run_block(256);
    // The user sets each stored input to a value of its range.
    std::vector<PlannedEvent> changes;
    for (size_t i = 0; i < a.pins().size(); ++i) {
        HarnessPin& p = a.pins()[i];
        if (!(p.flags & IO_PATCH_STORE) || p.audio_index < 0 || !p.variable || !p.is_input()) continue;
        if (p.datatype == DT_FSAMPLE || p.datatype == DT_MIDI) continue;
        PlannedEvent e;
        e.pin = static_cast<int>(i);
        e.clock = a.clock();
        e.state = PIN_CHANGED_ONCE;
        e.value = random_pin_value(p, ctx, false);
        changes.push_back(e);
    }
    a.run_block(256, changes);
    for (int b = 0; b < 4; ++b) a.run_block(256);
    // What the host stores: the module's variables of every stored audio-side pin.
    std::vector<PinValue> stored(a.pins().size());
    int count = 0;
    for (size_t i = 0; i < a.pins().size(); ++i) {
        const HarnessPin& p = a.pins()[i];
        if (!(p.flags & IO_PATCH_STORE) || p.audio_index < 0 || !p.variable || p.datatype == DT_FSAMPLE) continue;
        stored[i] = a.read_variable(p);
        ++count;
    }
    Harness b(plugin, c, ctx);
    if (!b.create()) return;
    if (b.pins().size() != a.pins().size()) {
        ctx.fail("a fresh instance describes a different number of pins");
        return;
    }
    for (size_t i = 0; i < b.pins().size(); ++i) {
        HarnessPin& p = b.pins()[i];
        if (!(p.flags & IO_PATCH_STORE) || p.audio_index < 0 || !p.variable || p.datatype == DT_FSAMPLE) continue;
        b.write_variable(p, stored[i]);
    }
    b.open();
    for (int k = 0; k < 3; ++k) b.run_block(256);
    for (size_t i = 0; i < b.pins().size(); ++i) {
        const HarnessPin& p = b.pins()[i];
        if (!(p.flags & IO_PATCH_STORE) || p.audio_index < 0 || !p.variable || p.datatype == DT_FSAMPLE) continue;
        const PinValue now = b.read_variable(p);
        if (!same_value(p, now, stored[i]))
            ctx.fail("stored pin " + std::to_string(p.index) + " \"" + p.name + "\" was " + show(p, stored[i]) +
                     " but reads " + show(p, now) + " in a fresh instance restored from it");
    }
    ctx.note(std::to_string(count) + " stored audio-side pins round-tripped");
}

}  // namespace mvh::validate
