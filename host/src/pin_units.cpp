// Pin units: how volts read as Hz, notes, waveforms, BPM, milliseconds..., and back from a value a
// musician types. Every number is read with the C locale's decimal point, whatever the process's.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>

#include "mvhost/patch.h"

#include "mvhost/pin_reference.h"

namespace mvh {

namespace {

// tallisk's tables: 0 V is 13.75 Hz under Volt/Octave (so 5 V = 440 Hz); 1 V = 1000 Hz under Volt/KHz.
constexpr double kZeroVoltHz = 13.75;
// Morph: |V| / 10 × 64 is the smoothed position; the pair played is the position + 0.5 (0-based),
// so waveform n (1-based) sounds alone at (n - 1.5) / 6.4 V, and 0 V mixes waveforms 1 and 2.
constexpr double kMorphPerVolt = 6.4;

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string trim(const std::string& s) {
    const size_t a = s.find_first_not_of(" \t");
    if (a == std::string::npos) return "";
    return s.substr(a, s.find_last_not_of(" \t") - a + 1);
}

// "12.5" or "1/4" at the start of `s`; the rest (trimmed, lower case) goes to *unit.
bool split_number(const std::string& s, double* value, std::string* unit) {
    const char* b = s.data();
    const char* e = b + s.size();
    if (b != e && *b == '+') ++b;
    auto r = std::from_chars(b, e, *value);
    if (r.ec != std::errc()) return false;
    const char* p = r.ptr;
    if (p != e && *p == '/') {
        double den = 0;
        auto r2 = std::from_chars(p + 1, e, den);
        if (r2.ec != std::errc() || den == 0) return false;
        *value /= den;
        p = r2.ptr;
    }
    *unit = lower(trim(std::string(p, e)));
    return std::isfinite(*value);
}

std::string num(double v, int decimals = 3) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    std::string s = buf;
    if (s.find('.') != std::string::npos) {
        while (s.back() == '0') s.pop_back();
        if (s.back() == '.') s.pop_back();
    }
    return s == "-0" ? "0" : s;
}

bool is_volt_unit(const std::string& u, double* scale) {
    if (u == "v" || u == "volt" || u == "volts") *scale = 1.0;
    else if (u == "mv") *scale = 0.001;
    else return false;
    return true;
}

// Hz from "440 Hz" / "1.2 kHz"; false for another unit.
bool frequency(double v, const std::string& u, double* hz) {
    if (u == "hz") *hz = v;
    else if (u == "khz") *hz = v * 1000.0;
    else return false;
    return true;
}

// Seconds from "50 ms" / "0.5 s"; false for another unit.
bool seconds(double v, const std::string& u, double* s) {
    if (u == "ms") *s = v / 1000.0;
    else if (u == "s" || u == "sec" || u == "second" || u == "seconds") *s = v;
    else return false;
    return true;
}

double volt_octave(double hz) { return 5.0 + std::log2(hz / 440.0); }

bool volt_per_khz(const LawPin& law) { return law && law("Freq Scale") == 1; }
bool pre_delay_in_ms(const LawPin& law) { return law && law("Pre_Dly Mode") == 1; }

[[noreturn]] void refuse(const std::string& text, const std::string& takes) {
    throw UnitError("\"" + text + "\" is not a value this pin takes: it takes " + takes);
}

}  // namespace

bool note_number(const std::string& text, double* note) {
    const std::string t = trim(text);
    if (t.size() < 2) return false;
    static const int kPitchClass[] = {9, 11, 0, 2, 4, 5, 7};  // A B C D E F G
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(t[0])));
    if (letter < 'A' || letter > 'G') return false;
    int pc = kPitchClass[letter - 'A'];
    size_t i = 1;
    if (t[i] == '#') ++pc, ++i;
    else if (t[i] == 'b' && i + 1 < t.size() && (std::isdigit(static_cast<unsigned char>(t[i + 1])) || t[i + 1] == '-')) --pc, ++i;
    int octave = 0;
    auto r = std::from_chars(t.data() + i, t.data() + t.size(), octave);
    if (r.ec != std::errc() || r.ptr != t.data() + t.size() || octave < -1 || octave > 9) return false;
    *note = 12.0 * (octave + 1) + pc;
    return true;
}

std::string note_name(double midi_note) {
    static const char* kNames[] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
    const long n = std::lround(midi_note);
    const long pc = ((n % 12) + 12) % 12;
    const long octave = (n - pc) / 12 - 1;
    std::string name = std::string(kNames[pc]) + std::to_string(octave);
    const double cents = (midi_note - static_cast<double>(n)) * 100.0;
    if (std::fabs(cents) >= 1.0) name += (cents > 0 ? " +" : " ") + num(cents, 0) + " ct";
    return name;
}

std::string unit_name(PinUnit unit) {
    switch (unit) {
    case PinUnit::None: return "";
    case PinUnit::Volts: return "volts";
    case PinUnit::Pitch: return "Hz or note (Volt/Octave: 1 V an octave, 5 V = A4 = 440 Hz; Volt/KHz: 1 V = 1000 Hz)";
    case PinUnit::VoltOctave: return "note (1 V an octave, 5 V = A4 = 440 Hz)";
    case PinUnit::Morph: return "waveform (0.156 V a waveform)";
    case PinUnit::Bpm: return "BPM (1 V = 1 BPM)";
    case PinUnit::Beats: return "beats a step (1 V = 1 beat)";
    case PinUnit::Percent: return "% (1 V = 1 %)";
    case PinUnit::Level: return "% or dB (10 V = 100 %)";
    case PinUnit::Tenths: return "s (1 V = 0.1 s)";
    case PinUnit::Millis: return "ms (1 V = 1 ms)";
    case PinUnit::PreDelay: return "s or ms (Time(s): 1 V = 1 s; Time(ms): 1 V = 1 ms)";
    case PinUnit::Hertz: return "Hz (1 V = 1 Hz)";
    case PinUnit::Step: return "step (1 V a step)";
    case PinUnit::Index: return "choice (0 V the first, 1 V a choice)";
    case PinUnit::Gate: return "gate (on above 1 V)";
    case PinUnit::Velocity: return "velocity (10 V = 127)";
    }
    return "";
}

std::string musical_reading(PinUnit unit, double v, const LawPin& law) {
    switch (unit) {
    case PinUnit::Pitch:
        if (volt_per_khz(law)) return num(std::fabs(v) * 1000.0, 1) + " Hz";
        [[fallthrough]];
    case PinUnit::VoltOctave: {
        const double volts = unit == PinUnit::Pitch ? std::fabs(v) : v;
        const double hz = kZeroVoltHz * std::exp2(volts);
        return num(hz, hz < 100 ? 2 : 1) + " Hz (" + note_name(69.0 + 12.0 * (volts - 5.0)) + ")";
    }
    case PinUnit::Morph: {
        const double x = std::fabs(v) * kMorphPerVolt + 0.5;  // 0-based pair position
        if (x >= 63.0) return "waveform 64";
        const int k = static_cast<int>(std::floor(x));
        const double f = x - k;
        if (f < 0.005) return "waveform " + std::to_string(k + 1);
        if (f > 0.995) return "waveform " + std::to_string(k + 2);
        return "waveform " + num(x + 1.0, 2) + " (" + num(100.0 * (1.0 - f), 0) + " % of " + std::to_string(k + 1) +
               ", " + num(100.0 * f, 0) + " % of " + std::to_string(k + 2) + ")";
    }
    case PinUnit::Bpm: return num(v, 2) + " BPM";
    case PinUnit::Beats: return num(v, 3) + (v == 1.0 ? " beat" : " beats") + " a step";
    case PinUnit::Percent: return num(v, 2) + " %";
    case PinUnit::Level: {
        const std::string pct = num(v * 10.0, 1) + " %";
        if (v <= 0) return pct;
        return pct + " (" + num(20.0 * std::log10(v / 10.0), 1) + " dB)";
    }
    case PinUnit::Tenths: {
        const double s = v * 0.1;
        return std::fabs(s) < 1.0 ? num(s * 1000.0, 1) + " ms" : num(s, 3) + " s";
    }
    case PinUnit::Millis: return num(v, 3) + " ms";
    case PinUnit::PreDelay:
        if (pre_delay_in_ms(law)) return num(v, 3) + " ms";
        return std::fabs(v) < 1.0 ? num(v * 1000.0, 3) + " ms" : num(v, 3) + " s";
    case PinUnit::Hertz: return num(v, 3) + " Hz";
    case PinUnit::Step: return "step " + num(std::nearbyint(v), 0);
    case PinUnit::Index: return "choice " + num(std::trunc(v) + 1, 0);
    case PinUnit::Gate: return v > 1.0 ? "on" : "off";
    case PinUnit::Velocity: return "velocity " + num(v * 12.7, 0);
    case PinUnit::None:
    case PinUnit::Volts: return "";
    }
    return "";
}

double volts_from_text(PinUnit unit, const std::string& text, const LawPin& law) {
    const std::string t = trim(text);
    double note = 0;
    const bool takes_notes = unit == PinUnit::Pitch || unit == PinUnit::VoltOctave || unit == PinUnit::Volts;
    if (takes_notes && note_number(t, &note)) {
        const double volts = 5.0 + (note - 69.0) / 12.0;
        if (unit == PinUnit::Pitch && volt_per_khz(law)) return 440.0 * std::exp2((note - 69.0) / 12.0) / 1000.0;
        return volts;
    }
    // "waveform 12" and "step 3" put the word first.
    const std::string lt = lower(t);
    for (const char* word : {"waveform ", "wave ", "step ", "choice ", "velocity "}) {
        const std::string w = word;
        if (lt.rfind(w, 0) == 0) {
            double n = 0;
            std::string rest;
            if (!split_number(trim(t.substr(w.size())), &n, &rest) || !rest.empty()) break;
            const std::string kind = trim(w);
            if ((kind == "waveform" || kind == "wave") && unit == PinUnit::Morph) {
                if (n > 64.0) refuse(t, "waveforms 1.5 to 64");
                if (n < 1.5)
                    throw UnitError("\"" + t +
                                    "\": Morph never plays waveform 1 alone (0 V mixes waveforms 1 and 2, \"waveform "
                                    "1.5\"); for waveform 1 set \"Morph Sw.\" to \"Disable\" and \"Waveform\" to "
                                    "\"Waveform 1\"");
                return (n - 1.5) / kMorphPerVolt;
            }
            if (kind == "step" && unit == PinUnit::Step) return n;
            if (kind == "choice" && unit == PinUnit::Index) return n - 1.0;
            if (kind == "velocity" && unit == PinUnit::Velocity) return n / 12.7;
            break;
        }
    }
    if (unit == PinUnit::Gate && (lt == "on" || lt == "off")) return lt == "on" ? 10.0 : 0.0;
    double v = 0;
    std::string u;
    const std::string takes = unit == PinUnit::Volts || unit == PinUnit::None
                                  ? "volts (\"2.5\", \"2.5 V\", \"250 mV\") or a note (\"A4\", \"440 Hz\"; 1 V an octave)"
                                  : unit_name(unit) + ", or volts";
    if (!split_number(t, &v, &u)) refuse(t, takes);
    double scale = 0;
    if (u.empty()) return v;
    if (is_volt_unit(u, &scale)) return v * scale;
    double hz = 0, s = 0;
    switch (unit) {
    case PinUnit::Pitch:
        if (frequency(v, u, &hz) && hz > 0) return volt_per_khz(law) ? hz / 1000.0 : std::log2(hz / kZeroVoltHz);
        break;
    case PinUnit::VoltOctave:
    case PinUnit::Volts:
        if (frequency(v, u, &hz) && hz > 0) return volt_octave(hz);
        break;
    case PinUnit::Bpm:
        if (u == "bpm") return v;
        break;
    case PinUnit::Beats:
        if (u == "beat" || u == "beats") return v;
        break;
    case PinUnit::Percent:
        if (u == "%") return v;
        break;
    case PinUnit::Level:
        if (u == "%") return v / 10.0;
        if (u == "db") return 10.0 * std::pow(10.0, v / 20.0);
        break;
    case PinUnit::Tenths:
        if (seconds(v, u, &s)) return s * 10.0;
        break;
    case PinUnit::Millis:
        if (seconds(v, u, &s)) return s * 1000.0;
        break;
    case PinUnit::PreDelay:
        if (seconds(v, u, &s)) return pre_delay_in_ms(law) ? s * 1000.0 : s;
        break;
    case PinUnit::Hertz:
        if (frequency(v, u, &hz)) return hz;
        break;
    default: break;
    }
    refuse(t, takes);
}

PinReading read_pin(const std::string& module, const PinInfo& pin, const std::vector<PinInfo>& all_pins) {
    PinReading r;
    const PinMeaning* m = pin_meaning(module, pin.name);
    if (m) r.meaning = m->meaning;
    const PinUnit unit = m ? m->unit : PinUnit::None;
    const LawPin law = [&](const std::string& name) {
        for (const PinInfo& p : all_pins)
            if (p.name == name) return std::atoi(p.default_value.c_str());
        return 0;
    };
    auto reading = [&](double volts) {
        const std::string musical = musical_reading(unit, volts, law);
        const std::string v = num(volts, 3) + " V";
        return musical.empty() ? v : musical + " = " + v;
    };
    if (pin.datatype == DT_ENUM) {
        const auto choices = parse_choices(pin.extra);
        std::string labels;
        for (const Choice& c : choices) labels += (labels.empty() ? "" : ", ") + c.label;
        r.range = labels;
        const int dflt = std::atoi(pin.default_value.c_str());
        for (const Choice& c : choices)
            if (c.value == dflt) r.default_value = c.label;
        // The host starts a list without a default at its first value.
        if (r.default_value.empty() && pin.default_value.empty() && !choices.empty()) r.default_value = choices[0].label;
        r.unit = "choice";
        return r;
    }
    if (pin.datatype != DT_FSAMPLE) {
        r.default_value = pin.default_value;
        r.unit = pin.datatype == DT_TEXT   ? (pin.extra == "path" ? "file" : "text")
                 : pin.datatype == DT_MIDI ? "MIDI"
                 : pin.datatype == DT_BOOL ? "true or false"
                                           : "number";
        return r;
    }
    r.unit = unit_name(unit == PinUnit::None ? PinUnit::Volts : unit);
    if (pin.is_input()) {
        char* end = nullptr;
        const double d = std::strtod(pin.default_value.c_str(), &end);
        r.default_value = reading(pin.default_value.empty() || *end ? 0.0 : d);
    }
    double hi = 0, lo = 0;
    if (std::sscanf(pin.extra.c_str(), "%lf,%lf", &hi, &lo) == 2) r.range = reading(lo) + " to " + reading(hi);
    return r;
}

}  // namespace mvh
