// Patch files: checking a JSON patch, building the host from it, running its events, and writing it
// back with the values the modules store.
#include "mvhost/patch.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

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

PatchRun::~PatchRun() {
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

PatchRun::PatchRun(const std::string& path, const std::vector<std::string>& plugin_dirs)
    : m_name(path), m_base_dir(fs::path(path).parent_path().string()), m_plugin_dirs(plugin_dirs) {
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
    build(m_doc);
}

PatchRun::PatchRun(const json& doc, const std::string& name_for_errors, const std::string& base_dir,
                   const std::vector<std::string>& plugin_dirs)
    : m_name(name_for_errors), m_base_dir(base_dir), m_plugin_dirs(plugin_dirs), m_doc(doc) {
    build(m_doc);
}

std::string PatchRun::where(const std::string& place) const { return m_name + ": " + place + ": "; }

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
        } else {
            throw bad("a choice label or value");
        }
        out.f = static_cast<float>(out.i);
        break;
    }
    case DT_TEXT:
        if (!v.is_string()) throw bad("a text");
        out.text = v.get<std::string>();
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

void PatchRun::build(const json& doc) {
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
    m_total = static_cast<int>(std::llround(seconds * cfg.sample_rate));
    if (doc.contains("samples")) m_total = static_cast<int>(number("samples", 0, 1e9, 0));

    if (doc.contains("search_path")) {
        if (!doc["search_path"].is_array()) throw PatchError(where("search_path") + "expected a list of folders");
        for (size_t i = 0; i < doc["search_path"].size(); ++i)
            if (!doc["search_path"][i].is_string())
                throw PatchError(where("search_path[" + std::to_string(i) + "]") + "expected a folder name");
    }

    m_user = std::make_unique<UserScript>();
    if (doc.contains("user")) {
#ifdef MV_HAVE_PLATFORM
        std::string error;
        if (!m_user->user.load(doc["user"], &error)) throw PatchError(where("user") + error);
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
            } else if (w.is_object() && w.contains("from") && w.contains("to") && w["from"].is_string() && w["to"].is_string()) {
                from = w["from"];
                to = w["to"];
            } else {
                throw PatchError(where(place) + "expected [\"INSTANCE.OUTPUT\", \"INSTANCE.INPUT\"]");
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

    // Events.
    long order = 0;
    if (doc.contains("events")) {
        if (!doc["events"].is_array()) throw PatchError(where("events") + "expected a list of events");
        for (size_t i = 0; i < doc["events"].size(); ++i) {
            const std::string place = "events[" + std::to_string(i) + "]";
            const json& ev = doc["events"][i];
            if (!ev.is_object()) throw PatchError(where(place) + "expected an object");
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
                    ScheduledEvent m = se;
                    m.kind = ScheduledEvent::Midi;
                    m.inst = inst;
                    m.pin = pin;
                    m.midi = me.word;
                    m.clock = se.clock + static_cast<int>(std::llround(me.seconds * cfg.sample_rate));
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
        if (out.contains("format")) {
            if (!out["format"].is_string() || (out["format"] != "float" && out["format"] != "pcm16"))
                throw PatchError(where("output.format") + "expected \"float\" or \"pcm16\"");
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
        if (sink) {
            for (size_t i = 0; i < m_outputs.size(); ++i) bufs[i] = m_outputs[i].inst->buffer(m_outputs[i].pin);
            sink(bufs, n);
        }
    }
}

json PatchRun::stored_patch() const {
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
            if (!(p.flags & IO_PATCH_STORE)) continue;
            const std::string key = nth == 0 ? p.name : p.name + "[" + std::to_string(nth) + "]";
            pins[key] = user_value(inst, p.index);
            any = true;
        }
        if (any || !pins.empty()) in["pins"] = pins;
        if (any) in["restored"] = true;
    }
    return doc;
}

}  // namespace mvh
