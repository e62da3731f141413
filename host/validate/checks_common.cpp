// The list of checks and what they share: loading, choice lists, random pin values, fuzz runs.
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "checks.h"

namespace mvh::validate {

const std::vector<Check>& all_checks() {
    static const std::vector<Check> checks = {
        {"load", 1, check_load},
        {"exports", 1, check_exports},
        {"libraries", 1, check_libraries},
        {"description", 1, check_description},
        {"pin_table", 1, check_pin_table},
        {"lifecycle", 1, check_lifecycle},
        {"realtime", 1, check_realtime},
        {"leaks", 2, check_leaks},
        {"state", 2, check_state},
        {"sample_rates", 2, check_sample_rates},
        {"block_sizes", 2, check_block_sizes},
        {"gui", 2, check_gui},
        {"gui_state", 2, check_gui_state},
        {"pin_fuzz", 3, check_pin_fuzz},
        {"midi_fuzz", 3, check_midi_fuzz},
        {"time_info", 3, check_time_info},
        {"gui_threaded", 7, check_gui_threaded},
    };
    return checks;
}

std::shared_ptr<Plugin> load_plugin(CheckContext& ctx) {
    std::string error;
    auto p = Plugin::load(ctx.path(), &error);
    if (!p) ctx.fail(error);
    return p;
}

int scaled(const CheckContext& ctx, int base) { return base * ctx.strictness(); }

bool parse_choices(const std::string& text, ChoiceList* out, std::string* error) {
    *out = {};
    if (text.empty()) {
        *error = "empty choice list";
        return false;
    }
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        const std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        const size_t eq = item.find('=');
        std::string label = item.substr(0, eq);
        if (label.empty()) {
            *error = "choice " + std::to_string(out->labels.size()) + " has no label";
            return false;
        }
        long value = static_cast<long>(out->labels.size());
        if (eq != std::string::npos) {
            const std::string v = item.substr(eq + 1);
            char* end = nullptr;
            errno = 0;
            value = std::strtol(v.c_str(), &end, 10);
            if (v.empty() || *end != '\0' || errno == ERANGE) {
                *error = "choice \"" + label + "\" has a value \"" + v + "\" that is not an integer";
                return false;
            }
        }
        if (value < std::numeric_limits<int16_t>::min() || value > std::numeric_limits<int16_t>::max()) {
            *error = "choice \"" + label + "\" stands for " + std::to_string(value) + ", which does not fit 16 bits";
            return false;
        }
        out->labels.push_back(label);
        out->values.push_back(value);
        if (comma == std::string::npos) break;
        start = comma + 1;
        // Lists built by appending "label," end with a comma; the host reads no item after it.
        if (start == text.size()) break;
    }
    return true;
}

PinValue random_pin_value(const HarnessPin& pin, CheckContext& ctx, bool wild) {
    PinValue v;
    switch (pin.datatype) {
    case DT_ENUM: {
        ChoiceList list;
        std::string error;
        const int count = parse_choices(pin.extra, &list, &error) ? static_cast<int>(list.labels.size()) : 1;
        if (wild) {
            const int picks[] = {-1, count, 32767, -32768, count + 7};
            v.i = picks[ctx.uniform(0, 4)];
        } else {
            v.i = ctx.uniform(0, count - 1);
            if (!list.values.empty() && ctx.chance(0.5)) v.i = static_cast<int>(list.values[ctx.uniform(0, count - 1)]);
        }
        v.f = static_cast<float>(v.i);
        break;
    }
    case DT_BOOL: v.i = ctx.uniform(0, 1); v.f = static_cast<float>(v.i); break;
    case DT_INT:
        if (wild) {
            const int32_t picks[] = {std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max(), -1,
                                     -1000000, 1 << 30};
            v.i = picks[ctx.uniform(0, 4)];
        } else {
            v.i = ctx.uniform(0, 127);
        }
        v.f = static_cast<float>(v.i);
        break;
    case DT_FLOAT:
    case DT_FSAMPLE:
        if (wild) {
            const float picks[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                                   -std::numeric_limits<float>::infinity(), 1e30f, -1e30f, 1e-40f, 0.0f};
            v.f = picks[ctx.uniform(0, 6)];
        } else {
            v.f = static_cast<float>(ctx.uniform_real(-1.0, 1.0));
        }
        v.i = std::isfinite(v.f) && std::fabs(v.f) < 2e9f ? static_cast<int32_t>(v.f) : 0;
        break;
    case DT_TEXT: {
        static const char* const kTexts[] = {"", "0", "1,0", "3,0", "-1", "12,-5", "abc", "9999999999999999999999",
                                             "1.5", "%s%s%n", "0,0,0,0", ",,,"};
        if (wild && ctx.chance(0.3)) {
            const int len = ctx.uniform(0, 2000);
            for (int k = 0; k < len; ++k) v.text += static_cast<char>(ctx.uniform(1, 255));
        } else if (wild) {
            v.text = kTexts[ctx.uniform(0, 11)];
        } else {
            v.text = pin.default_value;
        }
        break;
    }
    default: break;
    }
    return v;
}

namespace {

int32_t random_midi_word(CheckContext& ctx) {
    static const int kStatus[] = {0x80, 0x90, 0x90, 0x90, 0xA0, 0xB0, 0xC0, 0xD0, 0xE0};
    const int status = kStatus[ctx.uniform(0, 8)] | ctx.uniform(0, 15);
    const int d1 = ctx.uniform(0, 127);
    const int d2 = ctx.chance(0.1) ? 0 : ctx.uniform(0, 127);
    return status | (d1 << 8) | (d2 << 16);
}

}  // namespace

void run_fuzz(Harness& h, CheckContext& ctx, const FuzzPlan& plan) {
    const int max_block = h.config().block_size;
    std::vector<int> changeable;
    int midi_in = -1;
    for (size_t i = 0; i < h.pins().size(); ++i) {
        const HarnessPin& p = h.pins()[i];
        if (p.audio_index < 0 || !p.is_input()) continue;
        if (p.datatype == DT_MIDI) midi_in = static_cast<int>(i);
        else changeable.push_back(static_cast<int>(i));
    }
    for (int b = 0; b < plan.blocks && ctx.failures() < 50; ++b) {
        int n = max_block;
        if (plan.random_sizes) n = ctx.uniform(1, max_block);
        if (plan.zero_calls && ctx.chance(0.1)) n = 0;
        const int start = h.clock();
        auto at = [&] { return start + (n > 0 ? ctx.uniform(0, n - 1) : 0); };
        std::vector<PlannedEvent> events;
        if (!changeable.empty() && ctx.chance(plan.pin_change)) {
            const int count = ctx.uniform(1, 4);
            for (int k = 0; k < count; ++k) {
                PlannedEvent e;
                e.pin = changeable[ctx.uniform(0, static_cast<int>(changeable.size()) - 1)];
                const HarnessPin& p = h.pins()[e.pin];
                e.clock = at();
                e.state = ctx.uniform(PIN_STATIC, PIN_STREAMING);
                if (p.datatype != DT_FSAMPLE) e.state = ctx.chance(0.8) ? PIN_CHANGED_ONCE : PIN_STATIC;
                e.value = p.datatype == DT_FSAMPLE ? p.value : random_pin_value(p, ctx, ctx.chance(plan.wild));
                events.push_back(e);
            }
        }
        if (midi_in >= 0 && ctx.chance(plan.midi)) {
            const int count = plan.midi_flood > 0 && ctx.chance(0.2) ? plan.midi_flood : ctx.uniform(1, 8);
            for (int k = 0; k < count; ++k) {
                PlannedEvent e;
                e.type = EV_MIDI;
                e.clock = at();
                e.word1 = random_midi_word(ctx);
                events.push_back(e);
            }
        }
        if (plan.odd_events && ctx.chance(0.2)) {
            PlannedEvent e;
            e.type = ctx.chance(0.5) ? EV_IGNORED : ctx.uniform(30, 200);
            // The older entry's own deferred call (type 3) frees what it is given; only the
            // SDK's kind takes a function the host owns.
            if (!h.audio_v1() && ctx.chance(0.3)) e.type = EV_DEFERRED_CALL;
            e.clock = at();
            e.word1 = ctx.uniform(-5, 5);
            events.push_back(e);
        }
        h.run_block(n, std::move(events));
    }
}

}  // namespace mvh::validate
