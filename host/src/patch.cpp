// Patch files: checking a JSON patch, building the host from it, running its events, and writing it
// back with the values the modules store.
#include "mvhost/patch.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "mvhost/commands.h"

#ifdef MV_HAVE_PLATFORM
#include "mvp/scripted_user.h"
#endif

namespace fs = std::filesystem;
using nlohmann::json;

namespace mvh {

namespace {

std::string trim(const std::string& s) {
    const size_t a = s.find_first_not_of(" \t");
    if (a == std::string::npos) return "";
    const size_t b = s.find_last_not_of(" \t");
    return s.substr(a, b - a + 1);
}

std::string type_name(const json& v) {
    if (v.is_null()) return "null";
    if (v.is_boolean()) return "a truth value";
    if (v.is_number()) return "a number";
    if (v.is_string()) return "a text";
    if (v.is_array()) return "a list";
    return "an object";
}

// "name[2]" names the third pin of that name (duplicates); plain "name" the first.
std::pair<std::string, int> split_nth(const std::string& pin) {
    if (pin.size() > 3 && pin.back() == ']') {
        const size_t open = pin.rfind('[');
        if (open != std::string::npos) {
            const std::string num = pin.substr(open + 1, pin.size() - open - 2);
            // Longer numbers cannot name a pin; reading them would overflow, so they stay part of
            // the name and are refused as an unknown pin.
            if (!num.empty() && num.size() <= 6 && std::all_of(num.begin(), num.end(), ::isdigit))
                return {pin.substr(0, open), std::stoi(num)};
        }
    }
    return {pin, 0};
}

const std::vector<std::string> kTopLevel = {"sample_rate", "block_size", "duration", "samples", "tempo", "host",
                                            "search_path", "instances", "wires", "events", "user", "output",
                                            "comment", "description"};
const std::vector<std::string> kInstanceKeys = {"name", "module", "gui", "restored", "duplicates", "panel",
                                                "null_callback", "pins", "comment"};
const std::vector<std::string> kHostKeys = {"version", "folder", "mode", "time_info"};
const std::vector<std::string> kOutputKeys = {"channels", "format"};
const std::vector<std::string> kFormats = {"float", "pcm16", "pcm24"};

bool has(const std::vector<std::string>& list, const std::string& key) {
    return std::find(list.begin(), list.end(), key) != list.end();
}

std::string quoted_list(const std::vector<std::string>& list) {
    std::string out;
    for (const std::string& k : list) out += (out.empty() ? "\"" : ", \"") + k + "\"";
    return out;
}

// The fields each kind of event may have besides its time.
const std::vector<std::pair<std::string, std::vector<std::string>>> kEventKinds = {
    {"pin", {"pin", "value"}},
    {"midi", {"midi", "message"}},
    {"midi_file", {"midi_file", "to"}},
    {"pointer", {"pointer", "action", "x", "y"}},
};

// A path as the patch writes it, relative to `base` unless absolute; normalised.
fs::path absolute_in(const std::string& base, const std::string& path) {
    fs::path p(path);
    if (!p.is_absolute()) p = fs::absolute(fs::path(base.empty() ? "." : base) / p);
    return p.lexically_normal();
}

// How a patch saved into `dir` names a file: relative to that folder where one can be written,
// else absolute. Both sides are resolved through symbolic links first, so that ".." means what
// the file system will make of it.
std::string relative_to(const fs::path& file, const std::string& dir) {
    std::error_code ec;
    const fs::path target = fs::weakly_canonical(file, ec);
    const fs::path from = fs::weakly_canonical(fs::absolute(dir.empty() ? "." : dir), ec);
    const fs::path rel = target.lexically_relative(from);
    if (rel.empty()) return target.string();
    return rel.string();
}

bool is_path_pin(const PinInfo& p) { return p.datatype == DT_TEXT && p.extra == "path"; }

}  // namespace

// The scripted user of the patch, installed for the platform stand-in while the patch lives.
struct PatchRun::UserScript {
#ifdef MV_HAVE_PLATFORM
    mvp::ScriptedUser user;
    mvp::User* previous = nullptr;
    UserScript() { previous = mvp::set_user(&user); }
    ~UserScript() { mvp::set_user(previous); }
#endif
};

PatchRun::~PatchRun() { close(); }

void PatchRun::close() {
    // Modules close (and may still ask the user) before the script goes away.
    m_host.close();
}

json PatchRun::user_log() const {
#ifdef MV_HAVE_PLATFORM
    if (m_user) return m_user->user.log_json();
#endif
    return json::array();
}

mvp::ScriptedUser* PatchRun::scripted_user() {
#ifdef MV_HAVE_PLATFORM
    if (m_user) return &m_user->user;
#endif
    return nullptr;
}

std::vector<std::string> PatchRun::user_problems() const {
#ifdef MV_HAVE_PLATFORM
    if (m_user) return m_user->user.problems();
#endif
    return {};
}

std::vector<Choice> parse_choices(const std::string& list) {
    std::vector<Choice> out;
    if (trim(list).empty()) return out;
    int next = 0;
    std::stringstream ss(list);
    std::string item;
    while (std::getline(ss, item, ',')) {
        const size_t eq = item.find('=');
        Choice c;
        if (eq != std::string::npos) {
            c.label = trim(item.substr(0, eq));
            c.value = std::atoi(trim(item.substr(eq + 1)).c_str());
        } else {
            c.label = trim(item);
            c.value = next;
        }
        next = c.value + 1;
        out.push_back(c);
    }
    return out;
}

PatchRun::PatchRun(const std::string& path, const std::vector<std::string>& plugin_dirs, const PatchOverrides& overrides,
                   UserReport report)
    : m_name(path), m_report(std::move(report)), m_base_dir(fs::path(path).parent_path().string()), m_plugin_dirs(plugin_dirs) {
    std::ifstream in(path);
    if (!in) throw PatchError(path + ": cannot open the patch file");
    std::stringstream text;
    text << in.rdbuf();
    try {
        m_doc = json::parse(text.str());
    } catch (const json::parse_error& e) {
        std::string what = e.what();
        const size_t skip = what.find("] ");
        if (skip != std::string::npos) what = what.substr(skip + 2);
        throw PatchError(path + ": invalid JSON: " + what);
    }
    apply_overrides(overrides);
    build();
}

PatchRun::PatchRun(const json& doc, const std::string& name_for_errors, const std::string& base_dir,
                   const std::vector<std::string>& plugin_dirs)
    : m_name(name_for_errors), m_base_dir(base_dir), m_plugin_dirs(plugin_dirs), m_doc(doc) {
    build();
}

// Places on the command line ("--set ...") are named without the patch file.
std::string PatchRun::where(const std::string& place) const {
    if (place.rfind("--", 0) == 0) return place + ": ";
    return m_name + ": " + place + ": ";
}

void PatchRun::apply_overrides(const PatchOverrides& o) {
    if (!m_doc.is_object()) return;  // refused by build()
    if (o.sample_rate > 0) m_doc["sample_rate"] = o.sample_rate;
    if (o.block_size > 0) m_doc["block_size"] = o.block_size;
    if (o.seconds >= 0) {
        m_doc["duration"] = o.seconds;
        m_doc.erase("samples");
    }
    m_set = o.set;
    for (const std::string& arg : o.midi) {
        const std::string place = "--midi " + arg;
        const size_t eq = arg.find('=');
        std::string target, file = arg;
        if (eq != std::string::npos) {
            target = arg.substr(0, eq);
            file = arg.substr(eq + 1);
        }
        if (file.empty()) throw PatchError(where(place) + "expected FILE.mid or INSTANCE=FILE.mid");
        const json* insts = m_doc.contains("instances") && m_doc["instances"].is_array() ? &m_doc["instances"] : nullptr;
        if (!insts) throw PatchError(where(place) + "the patch has no instances");
        bool found = false;
        for (const json& in : *insts) {
            if (!in.is_object() || !in.contains("name") || !in["name"].is_string()) continue;
            const std::string module = in.value("module", "");
            if (target.empty() ? (module == "midi_source" || module == "builtin:midi_source") : in["name"] == target) {
                target = in["name"];
                found = true;
                break;
            }
        }
        if (!found)
            throw PatchError(where(place) + (target.empty() ? "the patch has no midi_source instance; name one with --midi INSTANCE=FILE"
                                                            : "unknown instance \"" + target + "\""));
        // The file replaces what the patch played into that instance; it is named from where the
        // command runs.
        json events = json::array();
        if (m_doc.contains("events") && m_doc["events"].is_array())
            for (const json& ev : m_doc["events"]) {
                const bool same = ev.is_object() && ev.contains("midi_file") && ev.contains("to") &&
                                  (ev["to"] == target || ev["to"] == target + ".MIDI In");
                if (!same) events.push_back(ev);
            }
        events.push_back({{"time", 0}, {"midi_file", fs::absolute(file).lexically_normal().string()}, {"to", target}});
        m_doc["events"] = events;
    }
}

std::string PatchRun::resolve_module(const std::string& module, const std::string& place) const {
    std::vector<std::string> dirs;
    if (m_doc.contains("search_path"))
        for (const auto& d : m_doc["search_path"]) {
            fs::path p(d.get<std::string>());
            dirs.push_back(p.is_absolute() ? p.string() : (fs::path(m_base_dir) / p).string());
        }
    dirs.insert(dirs.end(), m_plugin_dirs.begin(), m_plugin_dirs.end());
    std::string name = module;
    if (name.rfind("builtin:", 0) == 0) name = name.substr(8);
    if (name.find('/') != std::string::npos || (name.size() > 3 && name.substr(name.size() - 3) == ".so")) {
        fs::path p(name);
        if (!p.is_absolute()) p = fs::path(m_base_dir) / p;
        if (fs::exists(p)) return p.string();
        throw PatchError(where(place) + "module file \"" + module + "\" not found");
    }
    for (const std::string& d : dirs) {
        fs::path p = fs::path(d) / (name + ".so");
        if (fs::exists(p)) return p.string();
    }
    std::string searched;
    for (const std::string& d : dirs) searched += (searched.empty() ? "" : ", ") + d;
    throw PatchError(where(place) + "unknown module \"" + module + "\" (searched " + searched + ")");
}

std::pair<Instance*, int> PatchRun::resolve_pin(const std::string& ref, const std::string& place) const {
    const size_t dot = ref.find('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == ref.size())
        throw PatchError(where(place) + "\"" + ref + "\" is not of the form INSTANCE.PIN");
    const std::string iname = ref.substr(0, dot);
    Instance* inst = m_host.find(iname);
    if (!inst) throw PatchError(where(place) + "unknown instance \"" + iname + "\"");
    auto [pname, nth] = split_nth(ref.substr(dot + 1));
    int pin = inst->find_pin(pname, nth);
    if (pin < 0 && nth == 0 && !pname.empty() && pname.size() <= 6 &&
        std::all_of(pname.begin(), pname.end(), ::isdigit)) {
        const int idx = std::stoi(pname);
        if (idx < static_cast<int>(inst->pins().size())) pin = idx;
    }
    if (pin < 0) {
        std::string names;
        for (const PinInfo& p : inst->pins())
            if (!p.duplicate) names += (names.empty() ? "\"" : ", \"") + p.name + "\"";
        throw PatchError(where(place) + "instance \"" + iname + "\" has no pin \"" + ref.substr(dot + 1) +
                         "\" (pins: " + names + ")");
    }
    return {inst, pin};
}

PinValue PatchRun::parse_value(const Instance* inst, int pin, const json& v, const std::string& place) const {
    const PinInfo& info = inst->pins()[pin];
    auto bad = [&](const std::string& expected) -> PatchError {
        return PatchError(where(place) + "pin \"" + info.name + "\" (" + datatype_name(info.datatype) + ") expects " +
                          expected + ", got " + type_name(v));
    };
    PinValue out;
    switch (info.datatype) {
    case DT_FSAMPLE: {
        if (!v.is_number()) throw bad("a number of volts");
        const double volts = v.get<double>();
        if (!std::isfinite(volts)) throw bad("a finite number of volts");
        out.f = static_cast<float>(volts * 0.1);
        break;
    }
    case DT_FLOAT:
        if (!v.is_number()) throw bad("a number");
        out.f = v.get<float>();
        out.i = static_cast<int32_t>(out.f);
        break;
    case DT_INT:
        if (v.is_boolean()) out.i = v.get<bool>();
        else if (v.is_number_integer()) {
            const int64_t x = v.get<int64_t>();
            if (x < INT32_MIN || x > INT32_MAX) throw bad("an integer that fits 32 bits");
            out.i = static_cast<int32_t>(x);
        } else throw bad("an integer");
        out.f = static_cast<float>(out.i);
        break;
    case DT_BOOL:
        if (v.is_boolean()) out.i = v.get<bool>();
        else if (v.is_number_integer() && (v.get<int64_t>() == 0 || v.get<int64_t>() == 1)) out.i = v.get<int>();
        else throw bad("true or false");
        out.f = static_cast<float>(out.i);
        break;
    case DT_ENUM: {
        const auto choices = parse_choices(info.extra);
        if (v.is_string()) {
            const std::string label = trim(v.get<std::string>());
            auto it = std::find_if(choices.begin(), choices.end(), [&](const Choice& c) { return c.label == label; });
            if (it == choices.end()) {
                std::string labels;
                for (const Choice& c : choices) labels += (labels.empty() ? "\"" : ", \"") + c.label + "\"";
                throw PatchError(where(place) + "pin \"" + info.name + "\" has no choice \"" + label + "\" (choices: " +
                                 labels + ")");
            }
            out.i = it->value;
        } else if (v.is_number_integer()) {
            const int64_t x = v.get<int64_t>();
            if (x < INT16_MIN || x > INT16_MAX) throw bad("a choice value that fits 16 bits");
            out.i = static_cast<int32_t>(x);
            if (!choices.empty()) {
                std::string list;
                for (const Choice& c : choices) list += (list.empty() ? "\"" : ", \"") + c.label + "\"=" + std::to_string(c.value);
                auto by_value = std::find_if(choices.begin(), choices.end(), [&](const Choice& c) { return c.value == x; });
                auto by_label = std::find_if(choices.begin(), choices.end(),
                                             [&](const Choice& c) { return c.label == std::to_string(x); });
                if (by_value == choices.end())
                    throw PatchError(where(place) + "pin \"" + info.name + "\" has no choice with the value " + std::to_string(x) +
                                     (by_label != choices.end() ? "; for the label write \"" + by_label->label + "\"" : std::string()) +
                                     " (choices: " + list + ")");
                // A number that is also another choice's label could mean either; it is never
                // guessed.
                if (by_label != choices.end() && by_label->value != x)
                    throw PatchError(where(place) + "pin \"" + info.name + "\": " + std::to_string(x) +
                                     " is the label of the value " + std::to_string(by_label->value) + " and the value of the label \"" +
                                     by_value->label + "\"; write the label as a text (choices: " + list + ")");
            }
        } else {
            throw bad("a choice label or value");
        }
        out.f = static_cast<float>(out.i);
        break;
    }
    case DT_TEXT:
        if (!v.is_string()) throw bad("a text");
        out.text = v.get<std::string>();
        // File pins of the host's built-ins name files relative to the patch, as the patch's own
        // paths do.
        if (is_path_pin(info) && !out.text.empty()) {
            out.text = absolute_in(m_base_dir, out.text).string();
            std::error_code ec;
            if (!fs::is_regular_file(out.text, ec))
                throw PatchError(where(place) + "pin \"" + info.name + "\": no such file " + out.text);
        }
        break;
    default: throw PatchError(where(place) + "pin \"" + info.name + "\" (" + datatype_name(info.datatype) + ") takes no value");
    }
    return out;
}

json PatchRun::user_value(const Instance* inst, int pin) const {
    const PinInfo& info = inst->pins()[pin];
    PinValue v = inst->value(pin);
    if (!info.gui_only() && info.direction == DR_OUT && info.datatype != DT_FSAMPLE) v = inst->read_variable(pin);
    switch (info.datatype) {
    case DT_FSAMPLE: return static_cast<double>(v.f) * 10.0;
    case DT_FLOAT: return v.f;
    case DT_BOOL: return v.i != 0;
    case DT_TEXT: return v.text;
    case DT_ENUM: {
        for (const Choice& c : parse_choices(info.extra))
            if (c.value == v.i) return c.label;
        return v.i;
    }
    default: return v.i;
    }
}

int PatchRun::parse_time(const json& ev, const std::string& place) const {
    const double rate = m_host.config().sample_rate;
    if (ev.contains("sample")) {
        if (!ev["sample"].is_number_integer() || ev["sample"].get<int64_t>() < 0 || ev["sample"].get<int64_t>() > INT32_MAX)
            throw PatchError(where(place + ".sample") + "expected a sample number of 0 or more");
        return static_cast<int>(ev["sample"].get<int64_t>());
    }
    if (!ev.contains("time")) return 0;
    if (!ev["time"].is_number() || !(ev["time"].get<double>() >= 0.0))
        throw PatchError(where(place + ".time") + "expected a time in seconds of 0 or more");
    const double t = ev["time"].get<double>() * rate;
    if (t > INT32_MAX) throw PatchError(where(place + ".time") + "time too large");
    return static_cast<int>(std::llround(t));
}

json value_from_text(const PinInfo& pin, const std::string& text) {
    const std::string t = trim(text);
    auto number = [&](json* out) {
        if (t.empty()) return false;
        char* end = nullptr;
        const double d = std::strtod(t.c_str(), &end);
        if (*end != '\0') return false;
        const bool whole = t.find_first_of(".eE") == std::string::npos;
        *out = whole && std::fabs(d) < 9e15 ? json(static_cast<int64_t>(d)) : json(d);
        return true;
    };
    json v;
    switch (pin.datatype) {
    case DT_FSAMPLE:
    case DT_FLOAT:
    case DT_INT:
        if (number(&v)) return v;
        if (pin.datatype == DT_INT && (t == "true" || t == "false")) return t == "true";
        return text;
    case DT_BOOL:
        if (t == "true" || t == "1") return true;
        if (t == "false" || t == "0") return false;
        return text;
    case DT_ENUM:
        for (const Choice& c : parse_choices(pin.extra))
            if (c.label == t) return c.label;
        if (number(&v) && v.is_number_integer()) return v;
        return text;
    default: return text;
    }
}

void PatchRun::apply_set(const std::string& arg) {
    const std::string place = "--set " + arg;
    const size_t eq = arg.find('=');
    if (eq == std::string::npos) throw PatchError(where(place) + "expected INSTANCE.PIN=VALUE");
    const std::string ref = arg.substr(0, eq);
    auto [inst, pin] = resolve_pin(ref, place);
    const json value = value_from_text(inst->pins()[pin], arg.substr(eq + 1));
    inst->set_value(pin, parse_value(inst, pin, value, place));
    // The saved patch keeps what the command line set.
    for (json& in : m_doc["instances"])
        if (in["name"] == inst->name()) in["pins"][ref.substr(ref.find('.') + 1)] = value;
}

void PatchRun::build() {
    const json& doc = m_doc;
    if (!doc.is_object()) throw PatchError(m_name + ": the patch must be a JSON object");
    for (auto it = doc.begin(); it != doc.end(); ++it)
        if (std::find(kTopLevel.begin(), kTopLevel.end(), it.key()) == kTopLevel.end())
            throw PatchError(where(it.key()) + "unknown field");

    auto number = [&](const char* key, double lo, double hi, double dflt) {
        if (!doc.contains(key)) return dflt;
        const json& v = doc[key];
        if (!v.is_number() || v.get<double>() < lo || v.get<double>() > hi)
            throw PatchError(where(key) + "expected a number from " + std::to_string(static_cast<long>(lo)) + " to " +
                             std::to_string(static_cast<long>(hi)) + ", got " + (v.is_number() ? v.dump() : type_name(v)));
        return v.get<double>();
    };
    HostConfig& cfg = m_host.config();
    cfg.sample_rate = static_cast<float>(number("sample_rate", 1000, 768000, 44100));
    const double bs = number("block_size", 1, 8192, 256);
    if (bs != std::floor(bs)) throw PatchError(where("block_size") + "expected a whole number");
    cfg.block_size = static_cast<int>(bs);
    const double seconds = number("duration", 0, 3600, 1.0);
    // Counted in 64 bits: 3600 s at 768 kHz is more than a 32-bit count holds.
    int64_t total = std::llround(seconds * cfg.sample_rate);
    if (doc.contains("samples")) total = static_cast<int64_t>(number("samples", 0, 1e9, 0));
    if (total > INT32_MAX) {
        char limit[64];
        std::snprintf(limit, sizeof limit, "%.1f s", INT32_MAX / static_cast<double>(cfg.sample_rate));
        throw PatchError(where(doc.contains("samples") ? "samples" : "duration") + std::to_string(total) +
                         " samples is longer than the host's 32-bit sample clock counts (" + std::to_string(INT32_MAX) +
                         " samples, " + limit + " at " + std::to_string(static_cast<long>(cfg.sample_rate)) + " Hz)");
    }
    m_total = static_cast<int>(total);

    if (doc.contains("search_path")) {
        if (!doc["search_path"].is_array()) throw PatchError(where("search_path") + "expected a list of folders");
        for (size_t i = 0; i < doc["search_path"].size(); ++i)
            if (!doc["search_path"][i].is_string())
                throw PatchError(where("search_path[" + std::to_string(i) + "]") + "expected a folder name");
    }

    m_user = std::make_unique<UserScript>();
#ifdef MV_HAVE_PLATFORM
    if (m_report) m_user->user.set_reporter(m_report);
#endif
    if (doc.contains("user")) {
#ifdef MV_HAVE_PLATFORM
        // Files the scripted user chooses are named relative to the patch, as every other path.
        json script = doc["user"];
        if (script.is_array())
            for (json& entry : script)
                for (const char* key : {"open_file", "save_file"})
                    if (entry.is_object() && entry.contains(key) && entry[key].is_string() &&
                        !entry[key].get<std::string>().empty())
                        entry[key] = absolute_in(m_base_dir, entry[key]).string();
        std::string error;
        if (!m_user->user.load(script, &error)) throw PatchError(where("user") + error);
#else
        throw PatchError(where("user") + "this host was built without the platform stand-in");
#endif
    }

    // Tempo: a constant or a list of changes.
    m_tempo.clear();
    if (doc.contains("tempo")) {
        const json& t = doc["tempo"];
        if (t.is_number()) {
            m_tempo.push_back({0, t.get<double>()});
        } else if (t.is_array()) {
            for (size_t i = 0; i < t.size(); ++i) {
                const std::string place = "tempo[" + std::to_string(i) + "]";
                if (!t[i].is_object() || !t[i].contains("bpm") || !t[i]["bpm"].is_number())
                    throw PatchError(where(place) + "expected {\"time\": seconds, \"bpm\": number}");
                for (auto it = t[i].begin(); it != t[i].end(); ++it)
                    if (!has({"time", "sample", "bpm"}, it.key()))
                        throw PatchError(where(place + "." + it.key()) + "unknown field (fields: \"time\", \"sample\", \"bpm\")");
                m_tempo.push_back({parse_time(t[i], place), t[i]["bpm"].get<double>()});
            }
            std::stable_sort(m_tempo.begin(), m_tempo.end(), [](auto& a, auto& b) { return a.clock < b.clock; });
        } else {
            throw PatchError(where("tempo") + "expected a number of beats per minute or a list of changes");
        }
        for (const TempoPoint& p : m_tempo)
            if (!(p.bpm >= 0.0 && p.bpm <= 10000.0)) throw PatchError(where("tempo") + "beats per minute out of range");
    }
    if (!m_tempo.empty()) m_host.set_tempo(m_tempo.front().bpm);
    else m_host.set_tempo(120.0);

    if (doc.contains("host")) {
        const json& h = doc["host"];
        if (!h.is_object()) throw PatchError(where("host") + "expected an object");
        for (auto it = h.begin(); it != h.end(); ++it)
            if (!has(kHostKeys, it.key()))
                throw PatchError(where("host." + it.key()) + "unknown field (fields: " + quoted_list(kHostKeys) + ")");
        if (h.contains("version")) {
            if (!h["version"].is_number_integer()) throw PatchError(where("host.version") + "expected an integer");
            cfg.host_version = h["version"].get<int32_t>();
        }
        if (h.contains("mode")) {
            if (!h["mode"].is_number_integer()) throw PatchError(where("host.mode") + "expected an integer");
            cfg.host_mode = h["mode"].get<int32_t>();
        }
        if (h.contains("time_info")) {
            if (!h["time_info"].is_boolean()) throw PatchError(where("host.time_info") + "expected true or false");
            cfg.time_info = h["time_info"].get<bool>();
        }
        if (h.contains("folder")) {
            if (!h["folder"].is_string()) throw PatchError(where("host.folder") + "expected a folder name");
            fs::path p(h["folder"].get<std::string>());
            cfg.host_folder = p.is_absolute() ? p.string() : (fs::path(m_base_dir) / p).string();
        }
    }

    // Instances.
    if (!doc.contains("instances") || !doc["instances"].is_array())
        throw PatchError(where("instances") + "expected a list of instances");
    const json& insts = doc["instances"];
    for (size_t i = 0; i < insts.size(); ++i) {
        const std::string place = "instances[" + std::to_string(i) + "]";
        const json& in = insts[i];
        if (!in.is_object()) throw PatchError(where(place) + "expected an object");
        for (auto it = in.begin(); it != in.end(); ++it)
            if (std::find(kInstanceKeys.begin(), kInstanceKeys.end(), it.key()) == kInstanceKeys.end())
                throw PatchError(where(place + "." + it.key()) + "unknown field");
        if (!in.contains("name") || !in["name"].is_string() || in["name"].get<std::string>().empty())
            throw PatchError(where(place + ".name") + "expected a name");
        const std::string name = in["name"];
        if (name.find('.') != std::string::npos) throw PatchError(where(place + ".name") + "a name may not contain '.'");
        if (m_host.find(name)) throw PatchError(where(place + ".name") + "instance \"" + name + "\" is defined twice");
        if (!in.contains("module") || !in["module"].is_string())
            throw PatchError(where(place + ".module") + "expected a module name");
        const std::string path = resolve_module(in["module"], place + ".module");
        InstanceOptions o;
        auto flag = [&](const char* key, bool dflt) {
            if (!in.contains(key)) return dflt;
            if (!in[key].is_boolean()) throw PatchError(where(place + "." + key) + "expected true or false");
            return in[key].get<bool>();
        };
        o.with_gui = flag("gui", true);
        o.null_callback = flag("null_callback", false);
        o.restored = flag("restored", false);
        if (in.contains("duplicates")) {
            if (!in["duplicates"].is_number_integer() || in["duplicates"].get<int>() < 0 || in["duplicates"].get<int>() > 256)
                throw PatchError(where(place + ".duplicates") + "expected a count from 0 to 256");
            o.extra_duplicates = in["duplicates"];
        }
        if (in.contains("panel")) {
            const json& p = in["panel"];
            if (!p.is_array() || p.size() != 2 || !p[0].is_number_integer() || !p[1].is_number_integer())
                throw PatchError(where(place + ".panel") + "expected [x, y]");
            o.panel_x = p[0];
            o.panel_y = p[1];
        }
        std::string error;
        Instance* inst = m_host.add(path, name, o, &error);
        if (!inst || !error.empty()) throw PatchError(where(place + ".module") + error);
    }

    // Wires (before values: wiring creates duplicate pins that values may name).
    if (doc.contains("wires")) {
        if (!doc["wires"].is_array()) throw PatchError(where("wires") + "expected a list of wires");
        for (size_t i = 0; i < doc["wires"].size(); ++i) {
            const std::string place = "wires[" + std::to_string(i) + "]";
            const json& w = doc["wires"][i];
            std::string from, to;
            if (w.is_array() && w.size() == 2 && w[0].is_string() && w[1].is_string()) {
                from = w[0];
                to = w[1];
            } else if (w.is_object() && w.size() == 2 && w.contains("from") && w.contains("to") && w["from"].is_string() &&
                       w["to"].is_string()) {
                from = w["from"];
                to = w["to"];
            } else {
                throw PatchError(where(place) + "expected [\"INSTANCE.OUTPUT\", \"INSTANCE.INPUT\"] or {\"from\": ..., \"to\": ...}");
            }
            auto [a, ap] = resolve_pin(from, place);
            // A wire into a duplicating list takes its spare pin when the plain name is given.
            auto [bname, bnth] = split_nth(to.substr(to.find('.') + 1));
            auto [b, bp] = resolve_pin(to, place);
            if (bnth == 0 && (b->pins()[bp].flags & IO_DUPLICATES) && m_host.connected(b, bp)) {
                bp = static_cast<int>(b->pins().size()) - 1;
            }
            if ((a->pins()[ap].flags & IO_DUPLICATES) && m_host.connected(a, ap) &&
                split_nth(from.substr(from.find('.') + 1)).second == 0)
                ap = static_cast<int>(a->pins().size()) - 1;
            std::string error;
            if (!m_host.connect(a, ap, b, bp, &error)) throw PatchError(where(place) + from + " -> " + to + ": " + error);
        }
    }

    // Pin values.
    for (size_t i = 0; i < insts.size(); ++i) {
        const json& in = insts[i];
        if (!in.contains("pins")) continue;
        const std::string place = "instances[" + std::to_string(i) + "].pins";
        if (!in["pins"].is_object()) throw PatchError(where(place) + "expected an object of pin values");
        Instance* inst = m_host.find(in["name"]);
        for (auto it = in["pins"].begin(); it != in["pins"].end(); ++it) {
            auto [inst2, pin] = resolve_pin(inst->name() + "." + it.key(), place + ".\"" + it.key() + "\"");
            inst->set_value(pin, parse_value(inst2, pin, it.value(), place + ".\"" + it.key() + "\""));
        }
    }
    for (const std::string& arg : m_set) apply_set(arg);

    // Events.
    long order = 0;
    if (doc.contains("events")) {
        if (!doc["events"].is_array()) throw PatchError(where("events") + "expected a list of events");
        for (size_t i = 0; i < doc["events"].size(); ++i) {
            const std::string place = "events[" + std::to_string(i) + "]";
            const json& ev = doc["events"][i];
            if (!ev.is_object()) throw PatchError(where(place) + "expected an object");
            auto kind = std::find_if(kEventKinds.begin(), kEventKinds.end(),
                                     [&](const auto& k) { return ev.contains(k.first); });
            if (kind != kEventKinds.end())
                for (auto it = ev.begin(); it != ev.end(); ++it)
                    if (!has(kind->second, it.key()) && !has({"time", "sample", "comment"}, it.key()))
                        throw PatchError(where(place + "." + it.key()) + "unknown field in a \"" + kind->first +
                                         "\" event (fields: " + quoted_list(kind->second) + ", \"time\" or \"sample\")");
            ScheduledEvent se;
            se.clock = parse_time(ev, place);
            se.order = order++;
            if (ev.contains("pin")) {
                if (!ev["pin"].is_string()) throw PatchError(where(place + ".pin") + "expected INSTANCE.PIN");
                auto [inst, pin] = resolve_pin(ev["pin"], place + ".pin");
                if (!ev.contains("value")) throw PatchError(where(place + ".value") + "missing");
                se.kind = ScheduledEvent::PinValue;
                se.inst = inst;
                se.pin = pin;
                se.value = parse_value(inst, pin, ev["value"], place + ".value");
                m_events.push_back(se);
            } else if (ev.contains("midi")) {
                if (!ev["midi"].is_string()) throw PatchError(where(place + ".midi") + "expected an instance or INSTANCE.PIN");
                std::string ref = ev["midi"];
                if (ref.find('.') == std::string::npos) ref += ".MIDI In";
                auto [inst, pin] = resolve_pin(ref, place + ".midi");
                if (inst->pins()[pin].datatype != DT_MIDI || !inst->pins()[pin].is_input())
                    throw PatchError(where(place + ".midi") + ref + " is not a MIDI input");
                const json& m = ev.contains("message") ? ev["message"] : json();
                if (!m.is_array() || m.empty() || m.size() > 3)
                    throw PatchError(where(place + ".message") + "expected [status, data1, data2]");
                int32_t word = 0;
                for (size_t k = 0; k < m.size(); ++k) {
                    if (!m[k].is_number_integer() || m[k].get<int>() < 0 || m[k].get<int>() > 255)
                        throw PatchError(where(place + ".message[" + std::to_string(k) + "]") + "expected a byte 0-255");
                    word |= m[k].get<int32_t>() << (8 * k);
                }
                se.kind = ScheduledEvent::Midi;
                se.inst = inst;
                se.pin = pin;
                se.midi = word;
                m_events.push_back(se);
            } else if (ev.contains("midi_file")) {
                if (!ev["midi_file"].is_string()) throw PatchError(where(place + ".midi_file") + "expected a file name");
                if (!ev.contains("to") || !ev["to"].is_string())
                    throw PatchError(where(place + ".to") + "expected the MIDI source instance");
                std::string ref = ev["to"];
                if (ref.find('.') == std::string::npos) ref += ".MIDI In";
                auto [inst, pin] = resolve_pin(ref, place + ".to");
                if (inst->pins()[pin].datatype != DT_MIDI) throw PatchError(where(place + ".to") + ref + " is not a MIDI input");
                fs::path file(ev["midi_file"].get<std::string>());
                if (!file.is_absolute()) file = fs::path(m_base_dir) / file;
                std::vector<MidiFileEvent> midi;
                try {
                    midi = read_midi_file(file.string());
                } catch (const PatchError& e) {
                    throw PatchError(where(place + ".midi_file") + e.what());
                }
                for (const MidiFileEvent& me : midi) {
                    // In 64 bits: a late start plus a long file passes the 32-bit clock, and what
                    // lies beyond it can never play.
                    const int64_t clock = se.clock + std::llround(me.seconds * cfg.sample_rate);
                    if (clock > INT32_MAX) break;
                    ScheduledEvent m = se;
                    m.kind = ScheduledEvent::Midi;
                    m.inst = inst;
                    m.pin = pin;
                    m.midi = me.word;
                    m.clock = static_cast<int>(clock);
                    m.order = order++;
                    m_events.push_back(m);
                }
            } else if (ev.contains("pointer")) {
                if (!ev["pointer"].is_string()) throw PatchError(where(place + ".pointer") + "expected an instance");
                Instance* inst = m_host.find(ev["pointer"]);
                if (!inst) throw PatchError(where(place + ".pointer") + "unknown instance \"" + ev["pointer"].dump() + "\"");
                const std::string action = ev.value("action", "");
                if (action == "down") se.pointer_opcode = GD_POINTER_DOWN;
                else if (action == "up") se.pointer_opcode = GD_POINTER_UP;
                else if (action == "move") se.pointer_opcode = GD_POINTER_MOVE;
                else throw PatchError(where(place + ".action") + "expected \"down\", \"move\" or \"up\"");
                if (!ev.contains("x") || !ev.contains("y") || !ev["x"].is_number_integer() || !ev["y"].is_number_integer())
                    throw PatchError(where(place) + "expected integer \"x\" and \"y\" panel pixels");
                se.kind = ScheduledEvent::Pointer;
                se.inst = inst;
                se.x = ev["x"];
                se.y = ev["y"];
                m_events.push_back(se);
            } else {
                throw PatchError(where(place) + "expected one of \"pin\", \"midi\", \"midi_file\", \"pointer\"");
            }
        }
    }
    std::stable_sort(m_events.begin(), m_events.end(), [](const ScheduledEvent& a, const ScheduledEvent& b) {
        return a.clock < b.clock || (a.clock == b.clock && a.order < b.order);
    });

    // Outputs to the WAV file.
    if (doc.contains("output")) {
        const json& out = doc["output"];
        if (!out.is_object()) throw PatchError(where("output") + "expected an object");
        for (auto it = out.begin(); it != out.end(); ++it)
            if (!has(kOutputKeys, it.key()))
                throw PatchError(where("output." + it.key()) + "unknown field (fields: " + quoted_list(kOutputKeys) + ")");
        if (out.contains("format")) {
            if (!out["format"].is_string() || !has(kFormats, out["format"].get<std::string>()))
                throw PatchError(where("output.format") + "expected one of " + quoted_list(kFormats));
            m_format = out["format"];
        }
        if (!out.contains("channels") || !out["channels"].is_array() || out["channels"].empty() || out["channels"].size() > 2)
            throw PatchError(where("output.channels") + "expected one or two INSTANCE.PIN names");
        for (size_t i = 0; i < out["channels"].size(); ++i) {
            const std::string place = "output.channels[" + std::to_string(i) + "]";
            if (!out["channels"][i].is_string()) throw PatchError(where(place) + "expected INSTANCE.PIN");
            auto [inst, pin] = resolve_pin(out["channels"][i], place);
            if (inst->pins()[pin].datatype != DT_FSAMPLE || inst->pins()[pin].gui_only())
                throw PatchError(where(place) + out["channels"][i].get<std::string>() + " is not an audio pin");
            m_outputs.push_back({inst, pin, out["channels"][i]});
        }
    }
    m_host.open();
    m_sounded.assign(m_host.instances().size(), 0);
}

void PatchRun::apply_due(int block_start, int block_end) {
    for (const TempoPoint& p : m_tempo)
        if (p.clock <= block_start) m_host.set_tempo(p.bpm);
    while (m_next_event < m_events.size() && m_events[m_next_event].clock < block_end) {
        const ScheduledEvent& e = m_events[m_next_event++];
        switch (e.kind) {
        case ScheduledEvent::PinValue: e.inst->set_value(e.pin, e.value, std::max(e.clock, block_start)); break;
        case ScheduledEvent::Midi: m_host.queue_midi(e.inst, e.pin, std::max(e.clock, block_start), e.midi); break;
        case ScheduledEvent::Pointer: e.inst->pointer(e.pointer_opcode, e.x, e.y); break;
        }
    }
}

void PatchRun::run_until(int clock, const std::function<void(const std::vector<const float*>&, int)>& sink) {
    std::vector<const float*> bufs(m_outputs.size());
    while (m_host.sample_clock() < clock) {
        const int start = m_host.sample_clock();
        const int n = std::min(m_host.config().block_size, clock - start);
        apply_due(start, start + n);
        m_host.run_block(n);
        note_sound(n);
        if (sink) {
            for (size_t i = 0; i < m_outputs.size(); ++i) bufs[i] = m_outputs[i].inst->buffer(m_outputs[i].pin);
            sink(bufs, n);
        }
    }
}

// A wavetable oscillator (an instance with a "wbf_path" pin) is the one module that is silent by
// default: its bank starts empty. Only those are watched, and only until they first sound.
static bool watched_for_silence(const Instance& inst) { return inst.find_pin("wbf_path") >= 0; }

void PatchRun::note_sound(int n) {
    const auto& insts = m_host.instances();
    for (size_t i = 0; i < insts.size() && i < m_sounded.size(); ++i) {
        if (m_sounded[i] || !watched_for_silence(*insts[i])) continue;
        for (const PinInfo& p : insts[i]->pins()) {
            if (p.datatype != DT_FSAMPLE || p.direction != DR_OUT || p.gui_only()) continue;
            const float* b = insts[i]->buffer(p.index);
            if (b && std::any_of(b, b + n, [](float x) { return x != 0.0f; })) m_sounded[i] = 1;
        }
    }
}

std::vector<std::string> PatchRun::silence_notes() const {
    std::vector<std::string> notes;
    const auto& insts = m_host.instances();
    for (size_t i = 0; i < insts.size() && i < m_sounded.size(); ++i) {
        const Instance& inst = *insts[i];
        if (m_sounded[i] || !watched_for_silence(inst) || m_host.sample_clock() == 0) continue;
        if (!inst.value(inst.find_pin("wbf_path")).text.empty()) continue;
        notes.push_back("instance \"" + inst.name() +
                        "\" was silent: it has no bank (\"wbf_path\" is empty and its editor made no waveform); "
                        "set \"wbf_path\" to a bank file or build one from its menu in the patch's \"user\" section");
    }
    return notes;
}

json PatchRun::stored_patch(const std::string& saved_dir) const {
    json doc = m_doc;
    json& insts = doc["instances"];
    for (json& in : insts) {
        Instance* inst = m_host.find(in["name"]);
        if (!inst) continue;
        json pins = in.contains("pins") ? in["pins"] : json::object();
        bool any = false;
        std::map<std::string, int> seen;
        for (const PinInfo& p : inst->pins()) {
            const int nth = seen[p.name]++;
            const std::string key = nth == 0 ? p.name : p.name + "[" + std::to_string(nth) + "]";
            if (!(p.flags & IO_PATCH_STORE)) {
                // File pins are written as the patch gave them, rebased below.
                continue;
            }
            pins[key] = user_value(inst, p.index);
            any = true;
        }
        if (any || !pins.empty()) in["pins"] = pins;
        if (any) in["restored"] = true;
    }
    if (saved_dir.empty()) return doc;

    // Every path the patch names relative to its own folder, rewritten for the new folder.
    auto rebase = [&](json& v) {
        if (v.is_string() && !v.get<std::string>().empty())
            v = relative_to(absolute_in(m_base_dir, v.get<std::string>()), saved_dir);
    };
    if (doc.contains("search_path"))
        for (json& d : doc["search_path"]) rebase(d);
    if (doc.contains("host") && doc["host"].contains("folder")) rebase(doc["host"]["folder"]);
    for (json& in : insts) {
        if (in.contains("module") && in["module"].is_string() && names_module_file(in["module"])) rebase(in["module"]);
        Instance* inst = m_host.find(in["name"]);
        if (!inst || !in.contains("pins")) continue;
        for (auto it = in["pins"].begin(); it != in["pins"].end(); ++it) {
            auto [name, nth] = split_nth(it.key());
            const int pin = inst->find_pin(name, nth);
            if (pin >= 0 && is_path_pin(inst->pins()[pin])) rebase(it.value());
        }
    }
    if (doc.contains("events"))
        for (json& ev : doc["events"])
            if (ev.contains("midi_file")) rebase(ev["midi_file"]);
    if (doc.contains("user"))
        for (json& entry : doc["user"])
            for (const char* key : {"open_file", "save_file"})
                if (entry.is_object() && entry.contains(key)) rebase(entry[key]);
    return doc;
}

}  // namespace mvh
