// Reading a patch document: every field's shape, range and file checked, one function per part of
// the document, into the CheckedPatch that PatchRun builds the host from.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <set>

#include "library.h"
#include "patch_document.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace mvh {

namespace patch_text {

std::string where(const std::string& name, const std::string& place) {
    if (place.rfind("--", 0) == 0) return place + ": ";
    return name + ": " + place + ": ";
}

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

fs::path absolute_in(const std::string& base, const std::string& path) {
    fs::path p(path);
    if (!p.is_absolute()) p = fs::absolute(fs::path(base.empty() ? "." : base) / p);
    return p.lexically_normal();
}

}  // namespace patch_text

namespace {

using patch_text::absolute_in;
using patch_text::type_name;

constexpr size_t kMaxInstanceName = 200;  // with ".png", well inside a file name's 255 bytes

const std::vector<std::string> kTopLevel = {"sample_rate", "block_size", "duration", "samples", "tempo", "host",
                                            "search_path", "instances", "wires", "events", "user", "output",
                                            "comment", "description", "plugin"};
const std::vector<std::string> kInstanceKeys = {"name", "module", "gui", "restored", "duplicates", "panel",
                                                "null_callback", "pins", "comment"};
const std::vector<std::string> kHostKeys = {"version", "folder", "mode", "time_info"};
const std::vector<std::string> kOutputKeys = {"channels", "format"};
const std::vector<std::string> kFormats = {"float", "pcm16", "pcm24"};

// The fields each kind of event may have besides its time.
const std::vector<std::pair<std::string, std::vector<std::string>>> kEventKinds = {
    {"pin", {"pin", "value"}},
    {"midi", {"midi", "message"}},
    {"midi_file", {"midi_file", "to"}},
    {"pointer", {"pointer", "action", "x", "y"}},
};

bool has(const std::vector<std::string>& list, const std::string& key) {
    return std::find(list.begin(), list.end(), key) != list.end();
}

std::string quoted_list(const std::vector<std::string>& list) {
    std::string out;
    for (const std::string& k : list) out += (out.empty() ? "\"" : ", \"") + k + "\"";
    return out;
}

class PatchReader {
public:
    PatchReader(const json& doc, const std::string& name, const std::string& base_dir,
                const std::vector<std::string>& plugin_dirs, bool user_saves_anywhere)
        : m_doc(doc), m_name(name), m_base_dir(base_dir), m_plugin_dirs(plugin_dirs), m_saves_anywhere(user_saves_anywhere) {}

    CheckedPatch read() {
        if (!m_doc.is_object()) throw PatchError(m_name + ": the patch must be a JSON object");
        for (auto it = m_doc.begin(); it != m_doc.end(); ++it)
            if (!has(kTopLevel, it.key())) throw PatchError(where(it.key()) + "unknown field");
        read_timing();
        read_search_path();
        read_user();
        read_tempo();
        read_host();
        read_instances();
        read_wires();
        read_events();
        read_output();
        return std::move(m_out);
    }

private:
    std::string where(const std::string& place) const { return patch_text::where(m_name, place); }

    double read_number(const char* key, double lo, double hi, double dflt) const {
        if (!m_doc.contains(key)) return dflt;
        const json& v = m_doc[key];
        if (!v.is_number() || v.get<double>() < lo || v.get<double>() > hi)
            throw PatchError(where(key) + "expected a number from " + std::to_string(static_cast<long>(lo)) + " to " +
                             std::to_string(static_cast<long>(hi)) + ", got " + (v.is_number() ? v.dump() : type_name(v)));
        return v.get<double>();
    }

    // "sample_rate", "block_size", "duration" or "samples".
    void read_timing() {
        HostConfig& cfg = m_out.config;
        cfg.sample_rate = static_cast<float>(read_number("sample_rate", 1000, 768000, 44100));
        const double bs = read_number("block_size", 1, 8192, 256);
        if (bs != std::floor(bs)) throw PatchError(where("block_size") + "expected a whole number");
        cfg.block_size = static_cast<int>(bs);
        m_out.auto_duration = m_doc.contains("duration") && m_doc["duration"] == "auto";
        const double seconds = m_out.auto_duration ? 0.0 : read_number("duration", 0, 3600, 1.0);
        // Counted in 64 bits: 3600 s at 768 kHz is more than a 32-bit count holds.
        int64_t total = std::llround(seconds * cfg.sample_rate);
        if (m_doc.contains("samples")) total = static_cast<int64_t>(read_number("samples", 0, 1e9, 0));
        if (total > INT32_MAX) {
            char limit[64];
            std::snprintf(limit, sizeof limit, "%.1f s", INT32_MAX / static_cast<double>(cfg.sample_rate));
            throw PatchError(where(m_doc.contains("samples") ? "samples" : "duration") + std::to_string(total) +
                             " samples is longer than the host's 32-bit sample clock counts (" + std::to_string(INT32_MAX) +
                             " samples, " + limit + " at " + std::to_string(static_cast<long>(cfg.sample_rate)) + " Hz)");
        }
        m_out.total = static_cast<int>(total);
    }

    void read_search_path() {
        if (!m_doc.contains("search_path")) return;
        const json& list = m_doc["search_path"];
        if (!list.is_array()) throw PatchError(where("search_path") + "expected a list of folders");
        for (size_t i = 0; i < list.size(); ++i) {
            if (!list[i].is_string()) throw PatchError(where("search_path[" + std::to_string(i) + "]") + "expected a folder name");
            m_out.search_path.push_back(list[i]);
        }
    }

    // The scripted user's entries are checked as the script is installed; here its files are
    // named relative to the patch, as every other path.
    void read_user() {
        if (!m_doc.contains("user")) return;
        json script = m_doc["user"];
        if (script.is_array())
            for (json& entry : script)
                for (const char* key : {"open_file", "save_file"})
                    if (entry.is_object() && entry.contains(key) && entry[key].is_string() &&
                        !entry[key].get<std::string>().empty())
                        entry[key] = absolute_in(m_base_dir, entry[key]).string();
        // A file the script chooses for writing stays in the patch's folder or below: a patch
        // from elsewhere must not overwrite what it names with "../" or an absolute path.
        if (script.is_array() && !m_saves_anywhere)
            for (size_t i = 0; i < script.size(); ++i) {
                const json& entry = script[i];
                if (!entry.is_object() || !entry.contains("save_file") || !entry["save_file"].is_string() ||
                    entry["save_file"].get<std::string>().empty())
                    continue;
                std::error_code ec;
                const fs::path folder = fs::weakly_canonical(fs::absolute(m_base_dir.empty() ? "." : m_base_dir), ec);
                const fs::path file = fs::weakly_canonical(entry["save_file"].get<std::string>(), ec);
                const fs::path rel = file.lexically_relative(folder);
                if (rel.empty() || *rel.begin() == "..")
                    throw PatchError(where("user[" + std::to_string(i) + "].save_file") + m_doc["user"][i]["save_file"].get<std::string>() +
                                     " is outside the patch's folder; a script may save only there and below (unless --user-saves-anywhere)");
            }
        m_out.user = std::move(script);
    }

    int read_time(const json& ev, const std::string& place) const {
        const double rate = m_out.config.sample_rate;
        if (ev.contains("sample") && ev.contains("time"))
            throw PatchError(where(place) + "give either \"time\" or \"sample\", not both");
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

    // A constant or a list of changes.
    void read_tempo() {
        if (!m_doc.contains("tempo")) return;
        std::vector<TempoPoint>& tempo = m_out.tempo;
        const json& t = m_doc["tempo"];
        if (t.is_number()) {
            tempo.push_back({0, t.get<double>()});
        } else if (t.is_array()) {
            for (size_t i = 0; i < t.size(); ++i) {
                const std::string place = "tempo[" + std::to_string(i) + "]";
                if (!t[i].is_object() || !t[i].contains("bpm") || !t[i]["bpm"].is_number())
                    throw PatchError(where(place) + "expected {\"time\": seconds, \"bpm\": number}");
                for (auto it = t[i].begin(); it != t[i].end(); ++it)
                    if (!has({"time", "sample", "bpm"}, it.key()))
                        throw PatchError(where(place + "." + it.key()) + "unknown field (fields: \"time\", \"sample\", \"bpm\")");
                tempo.push_back({read_time(t[i], place), t[i]["bpm"].get<double>()});
            }
            std::stable_sort(tempo.begin(), tempo.end(), [](auto& a, auto& b) { return a.clock < b.clock; });
        } else {
            throw PatchError(where("tempo") + "expected a number of beats per minute or a list of changes");
        }
        for (const TempoPoint& p : tempo)
            if (!(p.bpm >= 0.0 && p.bpm <= 10000.0)) throw PatchError(where("tempo") + "beats per minute out of range");
    }

    // What the host answers the modules that ask about it.
    void read_host() {
        if (!m_doc.contains("host")) return;
        HostConfig& cfg = m_out.config;
        const json& h = m_doc["host"];
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

    std::string resolve_module(const std::string& module, const std::string& place) const {
        std::vector<std::string> dirs;
        for (const std::string& d : m_out.search_path) {
            fs::path p(d);
            dirs.push_back(p.is_absolute() ? p.string() : (fs::path(m_base_dir) / p).string());
        }
        dirs.insert(dirs.end(), m_plugin_dirs.begin(), m_plugin_dirs.end());
        std::string name = module;
        if (name.rfind("builtin:", 0) == 0) name = name.substr(8);
        if (name.find('/') != std::string::npos || has_library_suffix(name)) {
            fs::path p(name);
            if (!p.is_absolute()) p = fs::path(m_base_dir) / p;
            std::error_code ec;
            if (fs::exists(p, ec)) return p.string();
            throw PatchError(where(place) + "module file \"" + module + "\" not found" + (ec ? " (" + ec.message() + ")" : ""));
        }
        for (const std::string& d : dirs) {
            fs::path p = fs::path(d) / (name + kLibrarySuffix);
            std::error_code ec;
            if (fs::exists(p, ec)) return p.string();
        }
        std::string searched;
        for (const std::string& d : dirs) searched += (searched.empty() ? "" : ", ") + d;
        throw PatchError(where(place) + "unknown module \"" + module + "\" (searched " + searched + ")");
    }

    void read_instances() {
        if (!m_doc.contains("instances") || !m_doc["instances"].is_array())
            throw PatchError(where("instances") + "expected a list of instances");
        const json& insts = m_doc["instances"];
        std::set<std::string> names;
        for (size_t i = 0; i < insts.size(); ++i) m_out.instances.push_back(read_instance(insts[i], i, names));
    }

    CheckedPatch::InstanceSpec read_instance(const json& in, size_t i, std::set<std::string>& names) const {
        CheckedPatch::InstanceSpec decl;
        const std::string place = "instances[" + std::to_string(i) + "]";
        decl.place = place;
        if (!in.is_object()) throw PatchError(where(place) + "expected an object");
        for (auto it = in.begin(); it != in.end(); ++it)
            if (!has(kInstanceKeys, it.key())) throw PatchError(where(place + "." + it.key()) + "unknown field");
        if (!in.contains("name") || !in["name"].is_string() || in["name"].get<std::string>().empty())
            throw PatchError(where(place + ".name") + "expected a name");
        decl.name = in["name"];
        if (decl.name.find('.') != std::string::npos) throw PatchError(where(place + ".name") + "a name may not contain '.'");
        // Names become file names (--panels DIR/NAME.png): nothing that leaves the folder or that a
        // file name cannot hold.
        if (decl.name.size() > kMaxInstanceName)
            throw PatchError(where(place + ".name") + "a name may hold at most " + std::to_string(kMaxInstanceName) + " bytes");
        for (const char c : decl.name)
            if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
                throw PatchError(where(place + ".name") + "a name may not contain '/', '\\' or control characters");
        if (!names.insert(decl.name).second)
            throw PatchError(where(place + ".name") + "instance \"" + decl.name + "\" is defined twice");
        if (!in.contains("module") || !in["module"].is_string())
            throw PatchError(where(place + ".module") + "expected a module name");
        decl.module_path = resolve_module(in["module"], place + ".module");
        InstanceOptions& o = decl.options;
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
        if (in.contains("pins")) {
            if (!in["pins"].is_object()) throw PatchError(where(place + ".pins") + "expected an object of pin values");
            for (auto it = in["pins"].begin(); it != in["pins"].end(); ++it) decl.pins.emplace_back(it.key(), it.value());
        }
        return decl;
    }

    void read_wires() {
        if (!m_doc.contains("wires")) return;
        const json& wires = m_doc["wires"];
        if (!wires.is_array()) throw PatchError(where("wires") + "expected a list of wires");
        for (size_t i = 0; i < wires.size(); ++i) {
            const std::string place = "wires[" + std::to_string(i) + "]";
            const json& w = wires[i];
            CheckedPatch::WireSpec decl{place, "", ""};
            if (w.is_array() && w.size() == 2 && w[0].is_string() && w[1].is_string()) {
                decl.from = w[0];
                decl.to = w[1];
            } else if (w.is_object() && w.size() == 2 && w.contains("from") && w.contains("to") && w["from"].is_string() &&
                       w["to"].is_string()) {
                decl.from = w["from"];
                decl.to = w["to"];
            } else {
                throw PatchError(where(place) + "expected [\"INSTANCE.OUTPUT\", \"INSTANCE.INPUT\"] or {\"from\": ..., \"to\": ...}");
            }
            m_out.wires.push_back(std::move(decl));
        }
    }

    void read_events() {
        if (!m_doc.contains("events")) return;
        const json& events = m_doc["events"];
        if (!events.is_array()) throw PatchError(where("events") + "expected a list of events");
        for (size_t i = 0; i < events.size(); ++i) {
            const std::string place = "events[" + std::to_string(i) + "]";
            const json& ev = events[i];
            if (!ev.is_object()) throw PatchError(where(place) + "expected an object");
            auto kind = std::find_if(kEventKinds.begin(), kEventKinds.end(), [&](const auto& k) { return ev.contains(k.first); });
            if (kind != kEventKinds.end())
                for (auto it = ev.begin(); it != ev.end(); ++it)
                    if (!has(kind->second, it.key()) && !has({"time", "sample", "comment"}, it.key()))
                        throw PatchError(where(place + "." + it.key()) + "unknown field in a \"" + kind->first +
                                         "\" event (fields: " + quoted_list(kind->second) + ", \"time\" or \"sample\")");
            CheckedPatch::EventSpec se;
            se.place = place;
            se.clock = read_time(ev, place);
            if (ev.contains("pin")) read_pin_event(ev, se);
            else if (ev.contains("midi")) read_midi_event(ev, se);
            else if (ev.contains("midi_file")) read_midi_file_event(ev, se);
            else if (ev.contains("pointer")) read_pointer_event(ev, se);
            else throw PatchError(where(place) + "expected one of \"pin\", \"midi\", \"midi_file\", \"pointer\"");
            m_out.events.push_back(std::move(se));
        }
    }

    void read_pin_event(const json& ev, CheckedPatch::EventSpec& se) const {
        if (!ev["pin"].is_string()) throw PatchError(where(se.place + ".pin") + "expected INSTANCE.PIN");
        if (!ev.contains("value")) throw PatchError(where(se.place + ".value") + "missing");
        se.kind = ScheduledEvent::PinValue;
        se.target = ev["pin"];
        se.target_field = ".pin";
        se.value = ev["value"];
    }

    void read_midi_event(const json& ev, CheckedPatch::EventSpec& se) const {
        if (!ev["midi"].is_string()) throw PatchError(where(se.place + ".midi") + "expected an instance or INSTANCE.PIN");
        se.kind = ScheduledEvent::Midi;
        se.target = ev["midi"];
        if (se.target.find('.') == std::string::npos) se.target += ".MIDI In";
        se.target_field = ".midi";
        const json& m = ev.contains("message") ? ev["message"] : json();
        if (!m.is_array() || m.empty() || m.size() > 3) throw PatchError(where(se.place + ".message") + "expected [status, data1, data2]");
        for (size_t k = 0; k < m.size(); ++k) {
            if (!m[k].is_number_integer() || m[k].get<int>() < 0 || m[k].get<int>() > 255)
                throw PatchError(where(se.place + ".message[" + std::to_string(k) + "]") + "expected a byte 0-255");
            se.midi |= m[k].get<int32_t>() << (8 * k);
        }
    }

    void read_midi_file_event(const json& ev, CheckedPatch::EventSpec& se) const {
        if (!ev["midi_file"].is_string()) throw PatchError(where(se.place + ".midi_file") + "expected a file name");
        if (!ev.contains("to") || !ev["to"].is_string()) throw PatchError(where(se.place + ".to") + "expected the MIDI source instance");
        se.kind = ScheduledEvent::Midi;
        se.from_file = true;
        se.target = ev["to"];
        if (se.target.find('.') == std::string::npos) se.target += ".MIDI In";
        se.target_field = ".to";
        fs::path file(ev["midi_file"].get<std::string>());
        if (!file.is_absolute()) file = fs::path(m_base_dir) / file;
        se.file_path = file.string();
        std::vector<MidiFileEvent> midi;
        try {
            midi = read_midi_file(file.string());
        } catch (const PatchError& e) {
            throw PatchError(where(se.place + ".midi_file") + e.what());
        }
        for (const MidiFileEvent& me : midi) {
            // A late start plus a long file passes the 32-bit clock, and what lies beyond it can
            // never play: it is dropped, never wrapped.
            // Computed in double first: a file's seconds can lie past what llround can return.
            const double clock = se.clock + std::round(me.seconds * m_out.config.sample_rate);
            if (!(clock <= INT32_MAX)) break;
            se.file.emplace_back(static_cast<int>(clock), me.word);
        }
    }

    void read_pointer_event(const json& ev, CheckedPatch::EventSpec& se) const {
        if (!ev["pointer"].is_string()) throw PatchError(where(se.place + ".pointer") + "expected an instance");
        se.kind = ScheduledEvent::Pointer;
        se.target = ev["pointer"];
        se.target_field = ".pointer";
        const std::string action = ev.value("action", "");
        if (action == "down") se.pointer_opcode = GD_POINTER_DOWN;
        else if (action == "up") se.pointer_opcode = GD_POINTER_UP;
        else if (action == "move") se.pointer_opcode = GD_POINTER_MOVE;
        else throw PatchError(where(se.place + ".action") + "expected \"down\", \"move\" or \"up\"");
        if (!ev.contains("x") || !ev.contains("y") || !ev["x"].is_number_integer() || !ev["y"].is_number_integer())
            throw PatchError(where(se.place) + "expected integer \"x\" and \"y\" panel pixels");
        se.x = ev["x"];
        se.y = ev["y"];
    }

    // The channels of the WAV file and its sample format.
    void read_output() {
        if (!m_doc.contains("output")) return;
        const json& out = m_doc["output"];
        if (!out.is_object()) throw PatchError(where("output") + "expected an object");
        for (auto it = out.begin(); it != out.end(); ++it)
            if (!has(kOutputKeys, it.key()))
                throw PatchError(where("output." + it.key()) + "unknown field (fields: " + quoted_list(kOutputKeys) + ")");
        if (out.contains("format")) {
            if (!out["format"].is_string() || !has(kFormats, out["format"].get<std::string>()))
                throw PatchError(where("output.format") + "expected one of " + quoted_list(kFormats));
            m_out.format = out["format"];
        }
        if (!out.contains("channels") || !out["channels"].is_array() || out["channels"].empty() || out["channels"].size() > 2)
            throw PatchError(where("output.channels") + "expected one or two INSTANCE.PIN names");
        for (size_t i = 0; i < out["channels"].size(); ++i) {
            const std::string place = "output.channels[" + std::to_string(i) + "]";
            if (!out["channels"][i].is_string()) throw PatchError(where(place) + "expected INSTANCE.PIN");
            m_out.outputs.emplace_back(place, out["channels"][i]);
        }
    }

    const json& m_doc;
    const std::string& m_name;
    const std::string& m_base_dir;
    const std::vector<std::string>& m_plugin_dirs;
    const bool m_saves_anywhere;
    CheckedPatch m_out;
};

}  // namespace

CheckedPatch read_patch_document(const json& doc, const std::string& name, const std::string& base_dir,
                                 const std::vector<std::string>& plugin_dirs, bool user_saves_anywhere) {
    return PatchReader(doc, name, base_dir, plugin_dirs, user_saves_anywhere).read();
}

}  // namespace mvh
