// `mvhost export-lv2`: a patch, or one module on its own, as a self-contained LV2 bundle: the
// wrapper library, the patch, the module libraries it loads, the files it names, and the .ttl
// files that describe its ports.
#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>

#include "mvhost/commands.h"
#include "mvhost/engine.h"
#include "mvhost/pin_reference.h"
#include "mvhost/render.h"
#include "port_plan.h"
#include "ttl_writer.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace mvlv2 {

namespace {

struct ExportOptions {
    std::string patch, module, output, uri, name;
    std::vector<std::string> plugin_dirs;
};

struct ExportError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

const char* const kBuiltinSources[] = {"MVHOST_AUDIO_IN", "MVHOST_AUDIO_OUT", "MVHOST_MIDI_SOURCE"};

bool is_io_builtin(mvh::Instance& inst) {
    for (const char* id : kBuiltinSources)
        if (inst.plugin().id() == id) return true;
    return false;
}

std::string pin_ref(const mvh::Instance& inst, const mvh::PinInfo& p) {
    int nth = 0;
    for (const mvh::PinInfo& q : inst.pins()) {
        if (q.index == p.index) break;
        if (q.name == p.name) ++nth;
    }
    return inst.name() + "." + p.name + (nth ? "[" + std::to_string(nth) + "]" : "");
}

std::string file_text(const fs::path& p) {
    std::ifstream in(p);
    if (!in) throw ExportError(p.string() + ": cannot open the patch file");
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The folder of the running mvhost's build (bin/..), where the wrapper and the platform library are.
fs::path build_root() {
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::path() : exe.parent_path().parent_path();
}

void run_tool(const std::vector<std::string>& argv, const fs::path& library, const std::string& what) {
    const pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(const_cast<char*>(library.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw ExportError(library.string() + ": " + argv[0] + " could not " + what +
                          (WIFEXITED(status) && WEXITSTATUS(status) == 127 ? " (" + argv[0] + " is not installed)" : ""));
}

// Module libraries carry the RUNPATH of the build they come from; a bundle's copy finds the
// platform library beside the wrapper instead. A bundle is for playing, not debugging: the debug
// information stays in the build (it is most of each library's size).
void set_runpath(const fs::path& library, const std::string& runpath) {
    run_tool({"strip", "--strip-debug"}, library, "strip its debug information");
    run_tool({"patchelf", "--set-rpath", runpath}, library, "set its RUNPATH");
}

// Copies a file the patch names into the bundle's files/ folder under a name of its own; the
// same source file is copied once.
class FileCopier {
public:
    explicit FileCopier(fs::path bundle) : m_bundle(std::move(bundle)) {}
    std::string copy(const fs::path& source, const std::string& what) {
        std::error_code ec;
        const fs::path canon = fs::canonical(source, ec);
        if (ec || !fs::is_regular_file(canon)) throw ExportError(what + ": the file \"" + source.string() + "\" does not exist");
        auto found = m_copied.find(canon.string());
        if (found != m_copied.end()) return found->second;
        std::string name = canon.filename().string();
        for (int k = 2; m_names.count(name); ++k)
            name = canon.stem().string() + "_" + std::to_string(k) + canon.extension().string();
        m_names.insert(name);
        fs::create_directories(m_bundle / "files");
        fs::copy_file(canon, m_bundle / "files" / name);
        return m_copied[canon.string()] = "files/" + name;
    }

private:
    fs::path m_bundle;
    std::map<std::string, std::string> m_copied;
    std::set<std::string> m_names;
};

// The view link's texts pass between a tallisk and its wave view; nobody types them, so they are
// no controls.
bool is_link(mvh::Instance& inst, const mvh::PinInfo& p) {
    const mvh::PinMeaning* meaning = mvh::pin_meaning(inst.plugin().name(), p.name);
    return meaning && meaning->link;
}

// The patch of one module: the instance with every input and parameter reachable, audio-rate
// inputs fed by mono audio_in instances and MIDI inputs by midi_source instances.
json module_patch(const std::string& module, const std::vector<std::string>& dirs, json* plugin) {
    const std::string path = mvh::find_module(module, dirs);
    if (path.empty()) throw ExportError("--module: unknown module \"" + module + "\"");
    std::string error;
    mvh::Host probe;
    mvh::Instance* inst = probe.add(path, module, {}, &error);
    if (!inst) throw ExportError("--module " + module + ": " + error);
    std::string name = fs::path(path).stem().string();
    json instances = json::array({{{"name", name}, {"module", path}}});
    json wires = json::array(), outputs = json::array(), controls = json::array(), midi_out = json::array();
    int audio_ins = 0, midi_ins = 0;
    for (const mvh::PinInfo& p : inst->pins()) {
        if (p.duplicate) continue;
        const std::string ref = name + "." + p.name;
        if (p.datatype == DT_FSAMPLE && !p.gui_only()) {
            if (p.is_input()) {
                const std::string src = "in" + std::to_string(++audio_ins);
                instances.push_back({{"name", src}, {"module", "builtin:audio_in"}, {"pins", {{"Channels", "Mono"}}}});
                wires.push_back({src + ".Left", ref});
            } else if (outputs.size() < 2) {
                outputs.push_back(ref);
            }
        } else if (p.datatype == DT_MIDI) {
            if (p.is_input()) {
                const std::string src = "midi" + std::to_string(++midi_ins);
                instances.push_back({{"name", src}, {"module", "builtin:midi_source"}});
                wires.push_back({src + ".MIDI Out", ref});
            } else {
                midi_out.push_back(ref);
            }
        } else if ((!(p.flags & IO_PRIVATE) || p.name == "wbf_path") && !is_link(*inst, p)) {
            if (p.datatype != DT_TEXT || p.is_input()) controls.push_back(ref);
        }
    }
    *plugin = {{"name", inst->plugin().name()}, {"controls", controls}, {"midi_out", midi_out}};
    json doc = {{"sample_rate", 44100}, {"block_size", 256}, {"host", {{"folder", "."}}}, {"instances", instances},
                {"wires", wires}};
    if (!outputs.empty()) doc["output"] = {{"channels", outputs}};
    return doc;
}

// The bundle's own patch: modules and files inside it, the notes a host plays instead of the
// patch's own MIDI, nothing that names the folders of this machine.
json bundle_patch(const json& source, const fs::path& base_dir, mvh::Engine& engine, const fs::path& bundle) {
    json doc = source;
    doc.erase("plugin");
    doc["search_path"] = json::array({"modules"});
    FileCopier files(bundle);
    mvh::Host& host = engine.host();
    const fs::path host_folder = host.config().host_folder;

    std::map<std::string, std::string> copied_modules;
    std::set<std::string> module_names;
    fs::create_directories(bundle / "modules");
    json& insts = doc["instances"];
    for (json& in : insts) {
        mvh::Instance* inst = host.find(in["name"].get<std::string>());
        if (!inst) continue;
        const std::string lib = inst->plugin().path();
        auto found = copied_modules.find(lib);
        if (found == copied_modules.end()) {
            std::string file = fs::path(lib).filename().string();
            for (int k = 2; module_names.count(file); ++k) file = fs::path(lib).stem().string() + "_" + std::to_string(k) + ".so";
            module_names.insert(file);
            fs::copy_file(lib, bundle / "modules" / file);
            set_runpath(bundle / "modules" / file, "$ORIGIN/..");
            found = copied_modules.emplace(lib, "modules/" + file).first;
        }
        // Modules named stay named (found in the bundle's modules/ folder); files are named by
        // their copy.
        const std::string module = in["module"].get<std::string>();
        if (mvh::names_module_file(module) || found->second != "modules/" + fs::path(lib).filename().string())
            in["module"] = found->second;
        if (!in.contains("pins")) continue;
        for (auto it = in["pins"].begin(); it != in["pins"].end(); ++it) {
            auto [i2, pin] = find_pin(host, inst->name() + "." + it.key());
            if (pin < 0 || !is_file_pin(inst->pins()[pin]) || !it.value().is_string() || it.value().get<std::string>().empty())
                continue;
            // The bank file is found in the host folder; every other file beside the patch.
            const fs::path from = inst->pins()[pin].name == "wbf_path" ? host_folder : base_dir;
            fs::path p = it.value().get<std::string>();
            const std::string copy = files.copy(p.is_absolute() ? p : from / p, inst->name() + "." + it.key());
            // The host folder is the bundle's files/ folder, where the editor looks for its bank.
            it.value() = inst->pins()[pin].name == "wbf_path" ? fs::path(copy).filename().string() : copy;
        }
    }
    doc["host"] = doc.contains("host") ? doc["host"] : json::object();
    doc["host"]["folder"] = "files";
    fs::create_directories(bundle / "files");
    if (doc.contains("user"))
        for (json& entry : doc["user"])
            for (const char* key : {"open_file", "save_file"})
                if (entry.is_object() && entry.contains(key) && entry[key].is_string()) {
                    fs::path p = entry[key].get<std::string>();
                    if (std::string(key) == "open_file") entry[key] = files.copy(p.is_absolute() ? p : base_dir / p, "user");
                    else entry[key] = p.filename().string();
                }
    // In a plug-in host the notes come from the host's track, not from the patch.
    if (doc.contains("events")) {
        json kept = json::array();
        for (const json& ev : doc["events"])
            if (!ev.contains("midi") && !ev.contains("midi_file")) kept.push_back(ev);
        doc["events"] = kept;
    }
    return doc;
}

std::string symbol_of(const std::string& text, std::set<std::string>& used) {
    std::string s;
    for (char c : text) s += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    while (s.find("__") != std::string::npos) s.replace(s.find("__"), 2, "_");
    while (!s.empty() && s.back() == '_') s.pop_back();
    if (s.empty() || std::isdigit(static_cast<unsigned char>(s[0]))) s = "p_" + s;
    std::string out = s;
    for (int k = 2; used.count(out); ++k) out = s + "_" + std::to_string(k);
    used.insert(out);
    return out;
}

// A control's range: the description's where it gives one (volts for audio-rate pins), widened
// to hold the value the patch gives it.
void control_range(const mvh::PinInfo& p, PortSpec& decl) {
    switch (p.datatype) {
    case DT_BOOL: decl.minimum = 0, decl.maximum = 1; break;
    case DT_ENUM:
        for (const mvh::Choice& c : mvh::parse_choices(p.extra)) decl.choices.emplace_back(c.label, c.value);
        decl.minimum = decl.maximum = decl.choices.empty() ? 0 : decl.choices[0].second;
        for (const auto& c : decl.choices) decl.minimum = std::min<double>(decl.minimum, c.second), decl.maximum = std::max<double>(decl.maximum, c.second);
        break;
    case DT_FSAMPLE: {
        double r[4];
        int n = 0;
        std::stringstream s(p.extra);
        std::string part;
        while (n < 4 && std::getline(s, part, ',')) {
            char* end = nullptr;
            r[n] = std::strtod(part.c_str(), &end);
            if (end == part.c_str()) break;
            ++n;
        }
        if (n == 4) decl.minimum = std::min(r[0], r[1]), decl.maximum = std::max(r[0], r[1]);
        else decl.minimum = -10, decl.maximum = 10;
        break;
    }
    case DT_INT: decl.minimum = 0, decl.maximum = 127; break;
    default: decl.minimum = decl.value < 0 ? 2 * decl.value : 0, decl.maximum = std::max(1.0, 2 * decl.value); break;
    }
    decl.minimum = std::min(decl.minimum, decl.value);
    decl.maximum = std::max(decl.maximum, decl.value);
    if (decl.maximum <= decl.minimum) decl.maximum = decl.minimum + 1;
}

// The pins the plug-in shows: the section's list, else every unconnected input and parameter of
// the patch's modules (not of its inputs and outputs) that a person could set (not the ends of
// the view link).
std::vector<std::string> control_refs(mvh::Host& host, const json& plugin) {
    std::vector<std::string> controls;
    if (plugin.contains("controls")) {
        for (const json& j : plugin["controls"]) controls.push_back(j.get<std::string>());
        return controls;
    }
    for (const auto& inst : host.instances()) {
        if (is_io_builtin(*inst)) continue;
        for (const mvh::PinInfo& p : inst->pins()) {
            if (p.datatype == DT_MIDI || (p.datatype == DT_FSAMPLE && !p.is_input())) continue;
            if ((p.flags & IO_PRIVATE) && p.name != "wbf_path") continue;
            if (p.datatype == DT_TEXT && !p.is_input()) continue;
            if (host.connected(inst.get(), p.index)) continue;
            if (is_link(*inst, p)) continue;
            controls.push_back(pin_ref(*inst, p));
        }
    }
    return controls;
}

PortPlan plan_ports(mvh::Engine& engine, const json& plugin, bool single_module, const std::string& fallback_name) {
    mvh::Host& host = engine.host();
    PortPlan plan;
    plan.uri = plugin.value("uri", "");
    plan.name = plugin.value("name", fallback_name);
    std::set<std::string> symbols = {"control", "freewheel", "latency"};
    auto short_name = [&](const std::string& ref) {
        return single_module ? ref.substr(ref.find('.') + 1) : ref;
    };

    const auto sources = engine.midi_sources();
    // The first atom input also carries the host's transport and the parameters' texts. A plug-in
    // without MIDI or texts goes without, so that the simplest hosts (lv2apply) can run it.
    bool texts = false;
    for (const std::string& ref : control_refs(host, plugin)) {
        auto [inst, pin] = find_pin(host, ref);
        texts = texts || (inst && inst->pins()[pin].datatype == DT_TEXT);
    }
    const int atom_ins = std::max<int>(texts || plugin.contains("midi_out") ? 1 : 0, static_cast<int>(sources.size()));
    for (int k = 0; k < atom_ins; ++k) {
        PortSpec p;
        p.kind = PortSpec::AtomIn;
        p.symbol = k == 0 ? "control" : symbol_of("midi_" + sources[k]->name(), symbols);
        p.name = k >= static_cast<int>(sources.size()) ? "Control" : single_module ? "MIDI In" : sources[k]->name();
        if (k < static_cast<int>(sources.size())) p.pin = sources[k]->name();
        plan.ports.push_back(p);
    }
    for (size_t k = 0; k < engine.inputs().size(); ++k) {
        PortSpec p;
        p.kind = PortSpec::AudioIn;
        p.channel = static_cast<int>(k);
        const mvh::EngineInput& in = engine.inputs()[k];
        p.name = in.label;
        if (single_module)
            for (const mvh::Wire& w : host.wires())
                if (w.from == in.inst && w.from_pin == in.pin) p.name = w.to->pins()[w.to_pin].name;
        p.symbol = symbol_of(p.name, symbols);
        plan.ports.push_back(p);
    }
    for (size_t k = 0; k < engine.outputs().size(); ++k) {
        PortSpec p;
        p.kind = PortSpec::AudioOut;
        p.channel = static_cast<int>(k);
        p.name = short_name(engine.outputs()[k].label);
        p.symbol = symbol_of(p.name, symbols);
        plan.ports.push_back(p);
    }

    std::vector<std::string> midi_out;
    if (plugin.contains("midi_out")) {
        for (const json& j : plugin["midi_out"]) midi_out.push_back(j.get<std::string>());
    }
    for (const std::string& ref : midi_out) {
        auto [inst, pin] = find_pin(host, ref);
        if (!inst) throw ExportError("plugin.midi_out: no pin \"" + ref + "\"");
        const mvh::PinInfo& info = inst->pins()[pin];
        if (info.datatype != DT_MIDI || info.is_input()) throw ExportError("plugin.midi_out: \"" + ref + "\" is not a MIDI output");
        PortSpec p;
        p.kind = PortSpec::AtomOut;
        p.pin = ref;
        p.name = short_name(ref);
        p.symbol = symbol_of(p.name, symbols);
        plan.ports.push_back(p);
    }

    const std::vector<std::string> controls = control_refs(host, plugin);
    std::set<std::string> keys;
    for (const std::string& ref : controls) {
        auto [inst, pin] = find_pin(host, ref);
        if (!inst) throw ExportError("plugin.controls: no pin \"" + ref + "\"");
        const mvh::PinInfo& info = inst->pins()[pin];
        if (info.datatype == DT_MIDI) throw ExportError("plugin.controls: \"" + ref + "\" is a MIDI pin");
        if (info.is_input() && host.connected(inst, pin))
            throw ExportError("plugin.controls: \"" + ref + "\" is wired, so a control would not reach it");
        if (info.datatype == DT_FSAMPLE && !info.is_input())
            throw ExportError("plugin.controls: \"" + ref + "\" is an audio output (name it in output.channels)");
        if (info.datatype == DT_TEXT) {
            if (!info.is_input()) throw ExportError("plugin.controls: \"" + ref + "\" is a text output");
            plan.parameters.push_back({ref, symbol_of(ref, keys), short_name(ref), is_file_pin(info)});
            continue;
        }
        PortSpec p;
        p.kind = info.is_input() ? PortSpec::ControlIn : PortSpec::ControlOut;
        p.pin = ref;
        p.name = short_name(ref);
        p.symbol = symbol_of(p.name, symbols);
        p.datatype = info.datatype;
        p.value = port_value_of(info, info.is_input() || info.gui_only() ? inst->value(pin) : inst->read_variable(pin));
        control_range(info, p);
        plan.ports.push_back(p);
    }
    for (auto [kind, symbol, label] : {std::tuple{PortSpec::Freewheel, "freewheel", "Freewheel"},
                                       std::tuple{PortSpec::Latency, "latency", "Latency"}}) {
        PortSpec p;
        p.kind = kind;
        p.symbol = symbol;
        p.name = label;
        plan.ports.push_back(p);
    }
    // The parameters' texts go back to the host (patch:Set), so that it shows which bank or file
    // plays; last of the ports, so that the others keep the indices they had.
    if (!plan.parameters.empty()) {
        PortSpec p;
        p.kind = PortSpec::AtomOut;
        p.symbol = symbol_of("notify", symbols);
        p.name = "Notify";
        plan.ports.push_back(p);
    }

    const std::string cls = plugin.value("class", "");
    const bool audio_in = !engine.inputs().empty(), audio_out = !engine.outputs().empty();
    if (!cls.empty()) plan.plugin_class = cls;
    else if (!sources.empty() && audio_out && !audio_in) plan.plugin_class = "instrument";
    else if (audio_in) plan.plugin_class = "effect";
    else if (!sources.empty() && !midi_out.empty()) plan.plugin_class = "midi";
    else if (audio_out) plan.plugin_class = "generator";
    else plan.plugin_class = "utility";
    return plan;
}

void check_plugin_section(const json& plugin) {
    if (!plugin.is_object()) throw ExportError("plugin: expected an object");
    static const std::set<std::string> keys = {"uri", "name", "class", "controls", "midi_out", "comment"};
    for (auto it = plugin.begin(); it != plugin.end(); ++it)
        if (!keys.count(it.key())) throw ExportError("plugin: unknown field \"" + it.key() + "\"");
    for (const char* k : {"uri", "name", "class"})
        if (plugin.contains(k) && (!plugin[k].is_string() || plugin[k].get<std::string>().empty()))
            throw ExportError(std::string("plugin.") + k + ": expected a text");
    if (plugin.contains("class") && !plugin_class_known(plugin["class"].get<std::string>()))
        throw ExportError("plugin.class: unknown class \"" + plugin["class"].get<std::string>() + "\" (known: " +
                          known_plugin_classes() + ")");
    for (const char* k : {"controls", "midi_out"}) {
        if (!plugin.contains(k)) continue;
        if (!plugin[k].is_array()) throw ExportError(std::string("plugin.") + k + ": expected a list of INSTANCE.PIN names");
        for (const json& j : plugin[k])
            if (!j.is_string()) throw ExportError(std::string("plugin.") + k + ": expected a list of INSTANCE.PIN names");
    }
}

// A bundle we wrote before may be replaced; anything else in the way is left alone.
void make_room(const fs::path& bundle) {
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(bundle, ec))) return;
    if (fs::is_directory(fs::symlink_status(bundle)) && fs::exists(bundle / "ports.json") && fs::exists(bundle / "manifest.ttl")) {
        fs::remove_all(bundle);
        return;
    }
    throw ExportError("-o: \"" + bundle.string() + "\" exists and is not a bundle export-lv2 wrote; nothing was written");
}

int run_export(const ExportOptions& opt, std::ostream& err) {
    fs::path bundle = opt.output;
    while (bundle.has_parent_path() && bundle.filename().empty()) bundle = bundle.parent_path();
    if (bundle.extension() != ".lv2") throw ExportError("-o: a bundle folder ends in .lv2 (\"" + opt.output + "\")");
    if (opt.patch.empty() == opt.module.empty()) throw ExportError("give a patch file or --module NAME (one of them)");

    std::vector<std::string> dirs = opt.plugin_dirs;
    for (const std::string& d : mvh::default_plugin_dirs()) dirs.push_back(d);
    json source, plugin = json::object();
    fs::path base_dir;
    std::string name_for_errors;
    if (!opt.module.empty()) {
        source = module_patch(opt.module, dirs, &plugin);
        base_dir = fs::current_path();
        name_for_errors = "--module " + opt.module;
    } else {
        try {
            source = json::parse(file_text(opt.patch));
        } catch (const json::parse_error& e) {
            throw ExportError(opt.patch + ": not a JSON file (" + e.what() + ")");
        }
        if (!source.is_object()) throw ExportError(opt.patch + ": expected a JSON object");
        base_dir = fs::absolute(opt.patch).parent_path();
        name_for_errors = opt.patch;
        if (source.contains("plugin")) {
            try {
                check_plugin_section(source["plugin"]);
            } catch (const ExportError& e) {
                throw ExportError(opt.patch + ": " + e.what());
            }
            plugin = source["plugin"];
        }
    }
    if (!opt.uri.empty()) plugin["uri"] = opt.uri;
    if (!opt.name.empty()) plugin["name"] = opt.name;
    const std::string stem = bundle.stem().string();
    if (!plugin.contains("uri")) plugin["uri"] = "urn:morvane:lv2:" + stem;
    if (!uri_is_usable(plugin["uri"].get<std::string>()))
        throw ExportError("--uri: \"" + plugin["uri"].get<std::string>() + "\" is not an absolute URI (scheme:rest, no spaces)");

    const fs::path root = build_root();
    const fs::path wrapper = root / "lib" / "lv2" / "mvhost_lv2.so";
    const fs::path platform = root / "lib" / "libmv_platform.so";
    if (!fs::exists(wrapper)) throw ExportError("the LV2 wrapper " + wrapper.string() + " is not built");

    mvh::Engine::Options o;
    o.plugin_dirs = dirs;
    std::unique_ptr<mvh::Engine> engine;
    try {
        engine = mvh::Engine::from_document(source, name_for_errors, base_dir.string(), o);
    } catch (const mvh::PatchError& e) {
        throw ExportError(e.what());
    }

    // Everything is written into a folder of its own beside the bundle and moved into place at the
    // end, so that a failed export leaves no half-written bundle (and the old one stays).
    const fs::path parent = fs::absolute(bundle).parent_path();
    if (!fs::is_directory(parent)) throw ExportError("-o: the folder \"" + parent.string() + "\" does not exist");
    const fs::path temp = parent / ("." + bundle.filename().string() + ".part" + std::to_string(getpid()));
    fs::remove_all(temp);
    fs::create_directories(temp);
    try {
        json doc = bundle_patch(source, base_dir, *engine, temp);
        engine->close();
        engine.reset();
        fs::copy_file(wrapper, temp / "mvhost_lv2.so");
        set_runpath(temp / "mvhost_lv2.so", "$ORIGIN");
        if (fs::exists(platform)) {
            fs::copy_file(platform, temp / "libmv_platform.so");
            run_tool({"strip", "--strip-debug"}, temp / "libmv_platform.so", "strip its debug information");
        }
        std::ofstream(temp / "patch.json") << doc.dump(2) << "\n";

        // The bundle's own patch, loaded from the bundle alone, is what the ports describe.
        mvh::Engine::Options bo;
        std::unique_ptr<mvh::Engine> check;
        try {
            check = mvh::Engine::from_document(doc, (bundle / "patch.json").string(), temp.string(), bo);
        } catch (const mvh::PatchError& e) {
            throw ExportError(std::string("the bundle's patch does not load: ") + e.what());
        }
        PortPlan plan = plan_ports(*check, plugin, !opt.module.empty(), stem);
        check->close();
        std::ofstream(temp / "ports.json") << to_json(plan).dump(2) << "\n";
        write_ttl(plan, temp, "mvhost_lv2.so", stem);
        make_room(bundle);
        fs::rename(temp, bundle);
    } catch (...) {
        std::error_code ec;
        fs::remove_all(temp, ec);
        throw;
    }
    err << "mvhost export-lv2: wrote " << bundle.string() << " (" << plugin["uri"].get<std::string>() << ")\n";
    return 0;
}

}  // namespace

}  // namespace mvlv2

namespace mvh {

void register_export_lv2(CLI::App& app, int& status) {
    auto opt = std::make_shared<mvlv2::ExportOptions>();
    auto* cmd = app.add_subcommand("export-lv2", "Write a patch, or one module, as an LV2 plug-in bundle");
    cmd->add_option("patch", opt->patch, "Patch file (.json)");
    cmd->add_option("--module", opt->module, "Export this module on its own instead of a patch");
    cmd->add_option("-o,--output", opt->output, "Bundle folder to write (DIR/NAME.lv2)")->required();
    cmd->add_option("--uri", opt->uri, "The plug-in's URI (default: the patch's, else urn:morvane:lv2:NAME)");
    cmd->add_option("--name", opt->name, "The name hosts show (default: the patch's, else the bundle's)");
    cmd->add_option("--plugins", opt->plugin_dirs, "Further folders to search for modules")->allow_extra_args(false);
    cmd->callback([opt, &status] {
        try {
            status = mvlv2::run_export(*opt, std::cerr);
        } catch (const std::exception& e) {
            std::cerr << "mvhost export-lv2: " << e.what() << "\n";
            status = 2;
        }
    });
}

}  // namespace mvh
