// Checks of the GUI object: open, paint at random sizes, pointer input inside and outside the
// panel, pin changes, idle calls and close; at high strictness on a second thread beside audio.
#include <thread>

#include "checks.h"

#if MV_HAVE_PLATFORM
#include "mvp/gdi.h"
#endif

namespace mvh::validate {

namespace {

constexpr intptr_t kPanelContext = 100;

void paint_once(Harness& h, CheckContext& ctx, int w, int hgt) {
#if MV_HAVE_PLATFORM
    const mvp::HDC dc = mvp::create_panel_dc(w, hgt, 0x00FFFFFF);
    const mvp::GdiCounts before = mvp::gdi_counts();
    MVPanelRecord panel{w, hgt, kPanelContext};
    h.gui_dispatch(GD_PAINT, dc, 0, &panel);
    const mvp::GdiCounts after = mvp::gdi_counts();
    if (after.total() != before.total())
        ctx.fail("painting at " + std::to_string(w) + " x " + std::to_string(hgt) + " leaves " +
                 std::to_string(after.total() - before.total()) + " drawing objects undeleted");
    mvp::delete_panel_dc(dc);
#else
    (void)ctx;
    MVPanelRecord panel{w, hgt, kPanelContext};
    h.gui_dispatch(GD_PAINT, 0, 0, &panel);
#endif
}

PinValue gui_random_value(const HarnessPin& pin, CheckContext& ctx, bool wild) {
    PinValue v = random_pin_value(pin, ctx, wild);
    // Texts carrying "code,address" hand memory across by address; a made-up address would
    // only test the validator's imagination, so the fuzzed texts never contain a comma.
    if (pin.datatype == DT_TEXT)
        for (char& c : v.text)
            if (c == ',') c = ';';
    return v;
}

void gui_session(Harness& h, CheckContext& ctx, int actions, bool wild = true) {
    MVGuiStruct* g = h.gui();
    for (size_t i = 0; i < h.pins().size(); ++i) {
        MVPinChangedRecord rec{static_cast<int32_t>(i), g->object};
        h.gui_dispatch(GD_PIN_CHANGED, 0, 0, &rec);
    }
    const int pw = h.panel_width > 0 ? h.panel_width : 50;
    const int ph = h.panel_height > 0 ? h.panel_height : 50;
    paint_once(h, ctx, pw, ph);
    const int npins = static_cast<int>(h.pins().size());
    for (int a = 0; a < actions && ctx.failures() < 50; ++a) {
        switch (ctx.uniform(0, 7)) {
        case 0: paint_once(h, ctx, ctx.uniform(1, 640), ctx.uniform(1, 480)); break;
        case 1: paint_once(h, ctx, pw, ph); break;
        case 2:
        case 3: {
            // A press, a drag and a release; positions inside and outside the panel.
            MVPanelRecord panel{pw, ph, kPanelContext};
            auto pos = [&](int size) { return ctx.chance(0.7) ? ctx.uniform(0, size - 1) : ctx.uniform(-200, size + 200); };
            h.gui_dispatch(GD_POINTER_DOWN, pos(pw), pos(ph), &panel);
            for (int m = ctx.uniform(0, 5); m > 0; --m) h.gui_dispatch(GD_POINTER_MOVE, pos(pw), pos(ph), &panel);
            if (ctx.chance(0.9)) h.gui_dispatch(GD_POINTER_UP, pos(pw), pos(ph), &panel);
            break;
        }
        case 4:
            if (npins > 0) {
                const int pin = ctx.uniform(0, npins - 1);
                h.set_gui_value(pin, gui_random_value(h.pins()[pin], ctx, wild && ctx.strictness() >= 4 && ctx.chance(0.3)));
                MVPinChangedRecord rec{pin, g->object};
                h.gui_dispatch(GD_PIN_CHANGED, 0, 0, &rec);
            }
            break;
        case 5:
            for (int k = ctx.uniform(1, 10); k > 0; --k) h.gui_dispatch(GD_IDLE);
            break;
        case 6:
            if (npins > 0) {
                const int pin = ctx.uniform(0, npins - 1);
                h.gui_dispatch(GD_CONNECTED, pin);
                if (ctx.chance(0.5)) h.gui_dispatch(GD_DISCONNECTED, pin);
            }
            break;
        case 7: {
            // A host message the object does not expect: an identifier and a little data.
            char data[16] = {};
            h.gui_dispatch(GD_MESSAGE, static_cast<int>(sizeof data), ctx.uniform(-5, 100), data);
            h.gui_dispatch(GD_9, 0, 0, nullptr);
            break;
        }
        }
    }
}

// The plug-in, or none (and the check skipped) when its entry has no GUI object.
std::shared_ptr<Plugin> load_gui_plugin(CheckContext& ctx) {
    auto plugin = load_plugin(ctx);
    if (plugin && plugin->is_v1()) {
        ctx.skip("the older entry has no GUI object");
        return nullptr;
    }
    return plugin;
}

HarnessConfig gui_config(int block_size) {
    HarnessConfig c;
    c.with_gui = true;
    c.block_size = block_size;
    return c;
}

bool make_gui_harness(Harness& h, CheckContext& ctx) {
    if (!h.create()) return false;
    if (!h.gui()) {
        ctx.skip("the module has no GUI object");
        return false;
    }
    return true;
}

}  // namespace

void check_gui(CheckContext& ctx) {
    auto plugin = load_gui_plugin(ctx);
    if (!plugin) return;
    const HarnessConfig c = gui_config(256);
    Harness h(plugin, c, ctx);
    if (!make_gui_harness(h, ctx)) return;
    h.open();
    for (int round = 0; round < 4; ++round) {
        gui_session(h, ctx, scaled(ctx, 15));
        // The host runs audio between GUI calls in its single-threaded mode.
        FuzzPlan plan;
        plan.blocks = 2;
        plan.pin_change = 0.5;
        run_fuzz(h, ctx, plan);
    }
}

namespace {

bool same_gui_value(const HarnessPin& pin, const PinValue& a, const PinValue& b) {
    switch (pin.datatype) {
    case DT_TEXT: return a.text == b.text;
    case DT_FLOAT:
    case DT_FSAMPLE: return a.f == b.f;
    case DT_MIDI: return true;
    default: return a.i == b.i;
    }
}

std::string show_gui_value(const HarnessPin& pin, const PinValue& v) {
    if (pin.datatype == DT_TEXT) return "\"" + v.text.substr(0, 60) + (v.text.size() > 60 ? "...\"" : "\"");
    if (pin.datatype == DT_FLOAT || pin.datatype == DT_FSAMPLE) return std::to_string(v.f);
    return std::to_string(v.i);
}

}  // namespace

void check_gui_state(CheckContext& ctx) {
    auto plugin = load_gui_plugin(ctx);
    if (!plugin) return;
    HarnessConfig c = gui_config(256);
    Harness a(plugin, c, ctx);
    if (!make_gui_harness(a, ctx)) return;
    a.open();
    gui_session(a, ctx, scaled(ctx, 10), false);
    std::vector<int> stored;
    for (size_t i = 0; i < a.pins().size(); ++i)
        if ((a.pins()[i].flags & IO_PATCH_STORE) && (a.pins()[i].flags & IO_UI_COMMUNICATION)) stored.push_back(static_cast<int>(i));
    if (stored.empty()) {
        ctx.note("no GUI-side stored pins");
        return;
    }
    // The patch is saved, closed and opened again: a fresh instance gets the stored values
    // before it opens and must keep them.
    c.restored = true;
    Harness b(plugin, c, ctx);
    if (!make_gui_harness(b, ctx)) return;
    for (int i : stored) b.set_gui_value(i, a.gui_value(i));
    b.open();
    for (size_t i = 0; i < b.pins().size(); ++i) {
        MVPinChangedRecord rec{static_cast<int32_t>(i), b.gui()->object};
        b.gui_dispatch(GD_PIN_CHANGED, 0, 0, &rec);
    }
    paint_once(b, ctx, b.panel_width > 0 ? b.panel_width : 50, b.panel_height > 0 ? b.panel_height : 50);
    for (int k = 0; k < 5; ++k) b.gui_dispatch(GD_IDLE);
    b.run_block(256);
    for (int i : stored) {
        const HarnessPin& pin = b.pins()[i];
        if (!same_gui_value(pin, a.gui_value(i), b.gui_value(i)))
            ctx.fail("stored pin " + std::to_string(i) + " \"" + pin.name + "\" was " + show_gui_value(pin, a.gui_value(i)) +
                     " but the restored instance made it " + show_gui_value(pin, b.gui_value(i)));
    }
    ctx.note(std::to_string(stored.size()) + " GUI-side stored pins round-tripped");
}

void check_gui_threaded(CheckContext& ctx) {
    ctx.watch_realtime();
    auto plugin = load_gui_plugin(ctx);
    if (!plugin) return;
    const HarnessConfig c = gui_config(128);
    Harness h(plugin, c, ctx);
    if (!make_gui_harness(h, ctx)) return;
    h.open();
    CheckContext gui_ctx(ctx.path(), ctx.strictness(), ctx.seed() ^ 0x9E3779B9u, ctx.out_fd());
    h.set_gui_context(&gui_ctx);
    std::thread gui_thread([&] { gui_session(h, gui_ctx, scaled(ctx, 60)); });
    FuzzPlan plan;
    plan.blocks = scaled(ctx, 60);
    plan.random_sizes = true;
    plan.pin_change = 0.5;
    plan.midi = 0.5;
    run_fuzz(h, ctx, plan);
    gui_thread.join();
    h.set_gui_context(nullptr);
    gui_ctx.finish();
}

}  // namespace mvh::validate
