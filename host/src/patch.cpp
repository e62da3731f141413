// Patch files: checking a JSON patch, building the host from it, running its events, and writing it
// back with the values the modules store.
#include "mvhost/patch.h"

#include <algorithm>
#include <cfloat>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>

#include "mvhost/commands.h"
#include "mvhost/pin_reference.h"
#include "bounded_read.h"
#include "patch_document.h"

#ifdef MV_HAVE_PLATFORM
#include "mvp/scripted_user.h"
#endif

namespace fs = std::filesystem;
using nlohmann::json;

namespace mvh {

namespace {

using patch_text::absolute_in;
using patch_text::split_nth;
using patch_text::trim;
using patch_text::type_name;

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

std::vector<std::string> PatchRun::user_saves() const {
    std::vector<std::string> lines;
    std::set<std::string> named;
    for (const json& e : user_log()) {
        if (!e.is_object() || e.value("kind", "") != "save_file" || !e.value("scripted", false) || e.contains("refused") ||
            !e.contains("answer") || !e["answer"].is_string())
            continue;
        const std::string path = e["answer"];
        if (!named.insert(path).second) continue;
        const std::string chooser = e.contains("title") && e["title"].is_string() && !e["title"].get<std::string>().empty()
                                        ? " (\"" + e["title"].get<std::string>() + "\")"
                                        : "";
        // Written in this run when it changed since the patch was built; file systems that keep
        // times in whole seconds (or two) are given that much.
        std::error_code ec;
        const bool exists = fs::is_regular_file(path, ec);
        const auto changed = exists ? fs::last_write_time(path, ec) : fs::file_time_type::min();
        if (exists && !ec && changed >= m_started - std::chrono::seconds(2))
            lines.push_back("user script: saved " + path + chooser);
        else
            lines.push_back("user script: chose " + path + chooser + " to save, but the module " +
                            (exists ? "did not change it" : "wrote no file there"));
    }
    return lines;
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
    : m_name(path == "-" ? "standard input" : path),
      m_report(std::move(report)),
      m_base_dir(path == "-" ? "." : fs::path(path).parent_path().string()),
      m_plugin_dirs(plugin_dirs) {
    m_doc = read_patch_file(path);
    apply_overrides(overrides);
    build();
}

PatchRun::PatchRun(const json& doc, const std::string& name_for_errors, const std::string& base_dir,
                   const std::vector<std::string>& plugin_dirs, const PatchOverrides& overrides, UserReport report)
    : m_name(name_for_errors), m_report(std::move(report)), m_base_dir(base_dir), m_plugin_dirs(plugin_dirs), m_doc(doc) {
    apply_overrides(overrides);
    build();
}

// Places on the command line ("--set ...") are named without the patch file.
std::string PatchRun::where(const std::string& place) const { return patch_text::where(m_name, place); }

void PatchRun::apply_overrides(const PatchOverrides& o) {
    if (!m_doc.is_object()) return;  // refused by build()
    if (o.sample_rate > 0) m_doc["sample_rate"] = o.sample_rate;
    if (o.block_size > 0) m_doc["block_size"] = o.block_size;
    if (o.auto_duration) {
        m_doc["duration"] = "auto";
        m_doc.erase("samples");
    } else if (o.seconds >= 0) {
        m_doc["duration"] = o.seconds;
        m_doc.erase("samples");
    }
    if (std::isnan(o.seconds)) throw PatchError("--seconds nan: expected a number of seconds from 0 to 3600");
    if (std::isnan(o.sample_rate)) throw PatchError("--rate nan: expected a sample rate from 1000 to 768000");
    m_set = o.set;
    m_user_saves_anywhere = o.user_saves_anywhere;
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
            const std::string module = in.contains("module") && in["module"].is_string() ? in["module"].get<std::string>() : "";
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
        const std::string absolute = fs::absolute(file).lexically_normal().string();
        events.push_back({{"time", 0}, {"midi_file", absolute}, {"to", target}});
        if (o.loop_midi) m_looped_files.push_back(absolute);
        m_doc["events"] = events;
    }
}

std::pair<Instance*, int> PatchRun::resolve_pin(const std::string& ref, const std::string& place) const {
    const size_t dot = ref.find('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == ref.size())
        throw PatchError(where(place) + "\"" + ref + "\" is not of the form INSTANCE.PIN");
    const std::string iname = ref.substr(0, dot);
    Instance* inst = m_host.find(iname);
    if (!inst) throw PatchError(where(place) + m_host.unknown_instance(iname));
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
    // What a module keeps to itself (an address between its two halves, say) is no patch's to set
    // or wire; the stored state a saved patch restores is.
    const PinInfo& info = inst->pins()[pin];
    // (A MIDI input the host itself feeds, as midi_source's, is private and takes the patch's MIDI.)
    if ((info.flags & IO_PRIVATE) && !(info.flags & IO_PATCH_STORE) && info.datatype != DT_MIDI)
        throw PatchError(where(place) + "pin \"" + info.name + "\" of instance \"" + iname +
                         "\" is private to the module; a patch cannot set, wire or play it");
    return {inst, pin};
}

PinValue PatchRun::parse_value(const Instance* inst, int pin, const json& v, const std::string& place) const {
    const PinInfo& info = inst->pins()[pin];
    if (info.direction == DR_OUT && !(info.flags & IO_PATCH_STORE))
        throw PatchError(where(place) + "pin \"" + info.name + "\" is an output; its value comes from the module");
    auto bad = [&](const std::string& expected) -> PatchError {
        return PatchError(where(place) + "pin \"" + info.name + "\" (" + datatype_name(info.datatype) + ") expects " +
                          expected + ", got " + type_name(v));
    };
    PinValue out;
    switch (info.datatype) {
    case DT_FSAMPLE: {
        double volts = 0;
        if (v.is_string()) {
            // A value with a unit ("50 ms", "A4", "waveform 12") in the pin's own terms; the laws
            // it depends on (tallisk's Freq Scale, the chorus's Pre_Dly Mode) as the patch set them.
            Instance* self = m_host.find(inst->name());
            const PinMeaning* meaning = self ? pin_meaning(self->plugin().name(), info.name) : nullptr;
            const LawPin law = [self](const std::string& name) {
                const int p = self ? self->find_pin(name) : -1;
                return p < 0 ? 0 : self->value(p).i;
            };
            try {
                volts = volts_from_text(meaning ? meaning->unit : PinUnit::Volts, v.get<std::string>(), law);
            } catch (const UnitError& e) {
                throw PatchError(where(place) + "pin \"" + info.name + "\": " + e.what());
            }
        } else if (v.is_number()) {
            volts = v.get<double>();
        } else {
            throw bad("a number of volts, or a value with a unit");
        }
        if (!std::isfinite(volts) || std::fabs(volts * 0.1) > FLT_MAX) throw bad("a finite number of volts");
        out.f = static_cast<float>(volts * 0.1);
        break;
    }
    case DT_FLOAT:
        if (!v.is_number()) throw bad("a number");
        // A float pin holds finite floats: NaN, infinity and 1e40 would reach the module as such.
        if (!std::isfinite(v.get<double>()) || std::fabs(v.get<double>()) > FLT_MAX)
            throw bad("a finite number within the float range (" + std::to_string(FLT_MAX) + ")");
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
            const fs::file_status st = fs::status(out.text, ec);
            if (!fs::exists(st))
                throw PatchError(where(place) + "pin \"" + info.name + "\": no such file " + out.text);
            if (!fs::is_regular_file(st))
                throw PatchError(where(place) + "pin \"" + info.name + "\": " + out.text + " is " +
                                 (fs::is_directory(st) ? "a folder" : fs::is_fifo(st) ? "a FIFO" : "a device or other special file") +
                                 ", not a regular file");
        }
        break;
    default: throw PatchError(where(place) + "pin \"" + info.name + "\" (" + datatype_name(info.datatype) + ") takes no value");
    }
    return out;
}

json PatchRun::user_value(const Instance* inst, int pin, bool gui_copy) const {
    const PinInfo& info = inst->pins()[pin];
    PinValue v = inst->value(pin);
    if (!gui_copy && !info.gui_only() && info.direction == DR_OUT && info.datatype != DT_FSAMPLE) v = inst->read_variable(pin);
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

json read_patch_file(const std::string& path) {
    std::vector<unsigned char> text;
    if (path == "-") {
        // Standard input, held to the same limit as a file.
        char buffer[1 << 16];
        while (std::cin.read(buffer, sizeof buffer) || std::cin.gcount() > 0) {
            text.insert(text.end(), buffer, buffer + std::cin.gcount());
            if (text.size() > kMaxPatchBytes)
                throw PatchError("standard input: is larger than the " + std::to_string(kMaxPatchBytes >> 20) +
                                 " MiB a patch file may hold");
        }
    } else {
        read_bounded_file(path, kMaxPatchBytes, "patch file", &text);
    }
    return parse_patch_text(text, path == "-" ? "standard input" : path);
}

json parse_patch_text(const std::vector<unsigned char>& text, const std::string& name) {
    // A key given twice in one object would silently keep the last; the patch says two things.
    // The library's document builder, told of every object and key on the way (its reader with a
    // callback walks each finished object's parent again: a list of many objects took a time
    // growing with the square of its length).
    struct DuplicateKeyRefuser : nlohmann::detail::json_sax_dom_parser<json> {
        DuplicateKeyRefuser(json& root, const std::string& file) : json_sax_dom_parser(root), file(file) {}
        bool start_object(std::size_t size) {
            keys.emplace_back();
            return json_sax_dom_parser::start_object(size);
        }
        bool end_object() {
            if (!keys.empty()) keys.pop_back();
            return json_sax_dom_parser::end_object();
        }
        bool key(string_t& key) {
            if (!keys.empty() && !keys.back().insert(key).second)
                throw PatchError(file + ": invalid JSON: the key \"" + key + "\" appears twice in one object");
            return json_sax_dom_parser::key(key);
        }
        const std::string& file;
        std::vector<std::set<std::string>> keys;
    };
    try {
        json doc;
        DuplicateKeyRefuser reader(doc, name);
        json::sax_parse(text.begin(), text.end(), &reader);
        return doc;
    } catch (const json::exception& e) {
        // nlohmann's "[json.exception.parse_error.101] " prefix says nothing to a person; numbers
        // past a double (1e400) are its out_of_range.
        std::string what = e.what();
        const size_t skip = what.find("] ");
        if (skip != std::string::npos) what = what.substr(skip + 2);
        throw PatchError(name + ": invalid JSON: " + what);
    }
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
    // A wired input takes its signal from the wire, so a value set on it would never be heard.
    for (const Wire& w : m_host.wires())
        if (w.to == inst && w.to_pin == pin)
            throw PatchError(where(place) + "\"" + ref + "\" is driven by the wire from \"" + w.from->name() + "." +
                             w.from->pins()[w.from_pin].name + "\"; remove the wire to set its value");
    const json value = value_from_text(inst->pins()[pin], arg.substr(eq + 1));
    inst->set_value(pin, parse_value(inst, pin, value, place));
    // The saved patch keeps what the command line set.
    for (json& in : m_doc["instances"])
        if (in["name"] == inst->name()) in["pins"][ref.substr(ref.find('.') + 1)] = value;
}

void PatchRun::build() {
    m_started = fs::file_time_type::clock::now();
    const CheckedPatch patch = read_patch_document(m_doc, m_name, m_base_dir, m_plugin_dirs, m_user_saves_anywhere);
    m_total = patch.total;
    m_auto_duration = patch.auto_duration;
    m_format = patch.format;
    m_tempo = patch.tempo;
    m_host.config() = patch.config;
    install_user(patch);
    m_host.set_tempo(m_tempo.empty() ? 120.0 : m_tempo.front().bpm);
    add_instances(patch);
    connect_wires(patch);
    set_pin_values(patch);
    queue_events(patch);
    find_outputs(patch);
    m_host.open();
    m_sounded.assign(m_host.instances().size(), 0);
}

void PatchRun::install_user(const CheckedPatch& patch) {
    m_user = std::make_unique<UserScript>();
#ifdef MV_HAVE_PLATFORM
    if (m_report) m_user->user.set_reporter(m_report);
    std::string error;
    if (patch.user && !m_user->user.load(*patch.user, &error)) throw PatchError(where("user") + error);
#else
    if (patch.user) throw PatchError(where("user") + "this host was built without the platform stand-in");
#endif
}

void PatchRun::add_instances(const CheckedPatch& patch) {
    for (const CheckedPatch::InstanceSpec& decl : patch.instances) {
        std::string error;
        Instance* inst = m_host.add(decl.module_path, decl.name, decl.options, &error);
        if (!inst || !error.empty()) throw PatchError(where(decl.place + ".module") + error);
        if (decl.options.extra_duplicates > 0 &&
            std::none_of(inst->pins().begin(), inst->pins().end(), [](const PinInfo& p) { return p.flags & IO_DUPLICATES; }))
            throw PatchError(where(decl.place + ".duplicates") + "the module has no pins that duplicate");
    }
}

// Before values: wiring creates duplicate pins that values may name.
void PatchRun::connect_wires(const CheckedPatch& patch) {
    for (const CheckedPatch::WireSpec& w : patch.wires) {
        auto [a, ap] = resolve_pin(w.from, w.place);
        // A wire into a duplicating list takes its spare pin when the plain name is given.
        auto [bname, bnth] = split_nth(w.to.substr(w.to.find('.') + 1));
        auto [b, bp] = resolve_pin(w.to, w.place);
        if (bnth == 0 && (b->pins()[bp].flags & IO_DUPLICATES) && m_host.connected(b, bp)) {
            bp = static_cast<int>(b->pins().size()) - 1;
        }
        if ((a->pins()[ap].flags & IO_DUPLICATES) && m_host.connected(a, ap) &&
            split_nth(w.from.substr(w.from.find('.') + 1)).second == 0)
            ap = static_cast<int>(a->pins().size()) - 1;
        std::string error;
        if (!m_host.connect(a, ap, b, bp, &error)) throw PatchError(where(w.place) + w.from + " -> " + w.to + ": " + error);
    }
}

// The patch's values, then the command line's.
void PatchRun::set_pin_values(const CheckedPatch& patch) {
    for (const CheckedPatch::InstanceSpec& decl : patch.instances) {
        Instance* inst = m_host.find(decl.name);
        for (const auto& [key, value] : decl.pins) {
            const std::string place = decl.place + ".pins.\"" + key + "\"";
            auto [inst2, pin] = resolve_pin(inst->name() + "." + key, place);
            inst->set_value(pin, parse_value(inst2, pin, value, place));
        }
    }
    for (const std::string& arg : m_set) apply_set(arg);
}

void PatchRun::queue_events(const CheckedPatch& patch) {
    long order = 0;
    for (const CheckedPatch::EventSpec& ev : patch.events) {
        const std::string field = ev.place + ev.target_field;
        ScheduledEvent se;
        se.kind = ev.kind;
        se.clock = ev.clock;
        se.order = order++;
        if (ev.kind == ScheduledEvent::Pointer) {
            se.inst = m_host.find(ev.target);
            if (!se.inst) throw PatchError(where(field) + "unknown instance \"" + json(ev.target).dump() + "\"");
            se.pointer_opcode = ev.pointer_opcode;
            se.x = ev.x;
            se.y = ev.y;
            m_events.push_back(se);
            continue;
        }
        auto [inst, pin] = resolve_pin(ev.target, field);
        se.inst = inst;
        se.pin = pin;
        if (ev.kind == ScheduledEvent::PinValue) {
            se.value = parse_value(inst, pin, ev.value, ev.place + ".value");
            m_events.push_back(se);
            continue;
        }
        const PinInfo& info = inst->pins()[pin];
        if (info.datatype != DT_MIDI || (!ev.from_file && !info.is_input()))
            throw PatchError(where(field) + ev.target + " is not a MIDI input");
        if (!ev.from_file) {
            se.midi = ev.midi;
            m_events.push_back(se);
            continue;
        }
        m_midi_files.emplace_back(ev.file_path, ev.place);
        se.looped = std::find(m_looped_files.begin(), m_looped_files.end(), ev.file_path) != m_looped_files.end();
        for (const auto& [clock, word] : ev.file) {
            ScheduledEvent m = se;
            m.midi = word;
            m.clock = clock;
            m.order = order++;
            m_events.push_back(m);
        }
    }
    std::stable_sort(m_events.begin(), m_events.end(), [](const ScheduledEvent& a, const ScheduledEvent& b) {
        return a.clock < b.clock || (a.clock == b.clock && a.order < b.order);
    });
    // An automatic length runs through the last event (a MIDI file's last note-off included); the
    // renderer then plays the tail.
    if (m_auto_duration && !m_events.empty()) m_total = std::max(m_total, m_events.back().clock + 1);
}

// The channels of the WAV file.
void PatchRun::find_outputs(const CheckedPatch& patch) {
    for (const auto& [place, ref] : patch.outputs) {
        auto [inst, pin] = resolve_pin(ref, place);
        if (inst->pins()[pin].datatype != DT_FSAMPLE || inst->pins()[pin].gui_only())
            throw PatchError(where(place) + ref + " is not an audio pin");
        m_outputs.push_back({inst, pin, ref});
    }
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
        const int offset = m_host.block_offset();
        const int n = std::min(m_host.config().block_size - offset, clock - start);
        run_scheduled_block(n);
        if (sink) {
            for (size_t i = 0; i < m_outputs.size(); ++i) {
                const float* b = m_outputs[i].inst->buffer(m_outputs[i].pin);
                bufs[i] = b ? b + offset : nullptr;
            }
            sink(bufs, n);
        }
    }
}

void PatchRun::run_scheduled_block(int n) {
    const int start = m_host.sample_clock();
    const int offset = m_host.block_offset();
    n = std::min(n, m_host.config().block_size - offset);
    apply_due(start, start + n);
    m_host.run_block(n);
    note_sound(offset, n);
}

// A wavetable oscillator (an instance with a "wbf_path" pin) is the one module that is silent by
// default: its bank starts empty. Only those are watched, and only until they first sound.
static bool watched_for_silence(const Instance& inst) { return inst.find_pin("wbf_path") >= 0; }

void PatchRun::note_sound(int offset, int n) {
    const auto& insts = m_host.instances();
    for (size_t i = 0; i < insts.size() && i < m_sounded.size(); ++i) {
        if (m_sounded[i] || !watched_for_silence(*insts[i])) continue;
        for (const PinInfo& p : insts[i]->pins()) {
            if (p.datatype != DT_FSAMPLE || p.direction != DR_OUT || p.gui_only()) continue;
            const float* b = insts[i]->buffer(p.index);
            if (b && std::any_of(b + offset, b + offset + n, [](float x) { return x != 0.0f; })) m_sounded[i] = 1;
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

std::vector<std::string> PatchRun::bank_problems() const {
    std::vector<std::string> lines;
    for (const auto& inst : m_host.instances()) {
        const int pin = inst->find_pin("wbf_path");
        const std::string text = pin < 0 ? std::string() : inst->value(pin).text;
        if (text.empty()) continue;
        // Where the oscillator finds it (see files_read); a missing bank it reports itself.
        std::error_code ec;
        std::vector<fs::path> places = {fs::path(text), absolute_in(m_base_dir, text)};
        if (!m_host.config().host_folder.empty()) places.push_back(absolute_in(m_host.config().host_folder, text));
        for (const fs::path& place : places) {
            if (!fs::exists(place, ec)) continue;
            if (fs::is_regular_file(place, ec) && fs::file_size(place, ec) < 4)
                lines.push_back("instance \"" + inst->name() + "\": its bank " + place.string() +
                                " holds fewer than 4 bytes; nothing was loaded from it");
            break;
        }
    }
    return lines;
}

std::vector<std::pair<std::string, std::string>> PatchRun::files_read() const {
    std::vector<std::pair<std::string, std::string>> files = {{m_name, "the patch"}};
    for (const auto& [path, place] : m_midi_files) files.emplace_back(path, "the MIDI file of " + place);
    for (const auto& inst : m_host.instances()) {
        const std::string of = " of instance \"" + inst->name() + "\"";
        files.emplace_back(inst->plugin().path(), "the module file" + of);
        for (const PinInfo& p : inst->pins()) {
            if (p.datatype != DT_TEXT || p.direction != DR_IN) continue;
            const std::string text = inst->value(p.index).text;
            if (text.empty()) continue;
            if (is_path_pin(p)) files.emplace_back(text, "the file" + of);
            // The oscillator opens its bank as the path is written: from where the host runs, or
            // (as the examples name them) beside the patch.
            if (p.name == "wbf_path") {
                files.emplace_back(text, "the bank" + of);
                files.emplace_back(absolute_in(m_base_dir, text).string(), "the bank" + of);
                if (!m_host.config().host_folder.empty())
                    files.emplace_back(absolute_in(m_host.config().host_folder, text).string(), "the bank" + of);
            }
        }
    }
    if (m_doc.contains("user") && m_doc["user"].is_array())
        for (const json& entry : m_doc["user"])
            if (entry.is_object() && entry.contains("open_file") && entry["open_file"].is_string())
                files.emplace_back(absolute_in(m_base_dir, entry["open_file"]).string(), "a file the user script opens");
    return files;
}

json PatchRun::stored_patch(const std::string& saved_dir, const std::set<std::pair<const Instance*, int>>& also,
                             bool gui_copy) const {
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
            if (!(p.flags & IO_PATCH_STORE) && !also.count({inst, p.index})) {
                // File pins are written as the patch gave them, rebased below.
                continue;
            }
            pins[key] = user_value(inst, p.index, gui_copy);
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
