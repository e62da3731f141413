// `mvhost describe` and `mvhost list`: the module browser's view of one plug-in, and of every
// plug-in and built-in the host finds.
#include <sys/stat.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <filesystem>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>

#include "library.h"
#include "mvhost/commands.h"
#include "mvhost/host.h"
#include "mvhost/pin_reference.h"
#include "mvhost/render.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace mvh {

int run_guarded(const std::string& command, const std::string& input, std::ostream& err, const std::function<int()>& body) {
    try {
        return body();
    } catch (const std::exception& e) {
        err << command << ": " << (input.empty() ? "" : input + ": ") << e.what() << "\n";
    } catch (...) {
        err << command << ": " << (input.empty() ? "" : input + ": ") << "an unknown error\n";
    }
    return 2;
}

bool names_module_file(const std::string& module) {
    return module.find('/') != std::string::npos || has_library_suffix(module);
}

std::string find_module(const std::string& module, const std::vector<std::string>& dirs) {
    std::string name = module;
    if (name.rfind("builtin:", 0) == 0) name = name.substr(8);
    if (name.empty() || names_module_file(name)) return "";
    for (const std::string& d : dirs) {
        const fs::path p = fs::path(d) / (name + kLibrarySuffix);
        std::error_code ec;
        if (fs::is_regular_file(p, ec)) return p.string();
    }
    return "";
}

namespace {

std::string joined(const std::vector<std::string>& dirs) {
    std::string out;
    for (const std::string& d : dirs) out += (out.empty() ? "" : ", ") + d;
    return out;
}

json pin_json(const PinInfo& p) {
    json pin = {{"index", p.index},
                {"name", p.name},
                {"direction", direction_name(p.direction)},
                {"type", datatype_name(p.datatype)},
                {"default", p.default_value},
                {"flags", flags_text(p.flags)},
                {"gui_only", p.gui_only()}};
    if (p.datatype == DT_ENUM) pin["choices"] = p.extra;
    else if (!p.extra.empty()) pin["range"] = p.extra;
    return pin;
}

}  // namespace

int cmd_describe(const DescribeOptions& opt, std::ostream& out, std::ostream& err) {
    std::string path = opt.module;
    std::vector<std::string> dirs = opt.plugin_dirs;
    for (const std::string& d : default_plugin_dirs()) dirs.push_back(d);
    struct stat st;
    if (!names_module_file(path)) {
        path = find_module(opt.module, dirs);
        if (path.empty()) {
            err << "mvhost describe: unknown module \"" << opt.module << "\" (searched " << joined(dirs)
                << "; `mvhost list` shows them all)\n";
            return 2;
        }
    } else if (stat(path.c_str(), &st) != 0) {
        err << "mvhost describe: " << path << ": no such file\n";
        return 2;
    }
    std::string error;
    auto plugin = Plugin::load(path, &error);
    if (!plugin) {
        err << "mvhost describe: " << error << "\n";
        return 2;
    }
    Host host;
    InstanceOptions options;
    options.with_gui = false;
    Instance* inst = host.add(plugin, "describe", options);
    if (!inst->audio() && !inst->audio_v1()) {
        err << "mvhost describe: " << path << ": the plug-in created no audio object\n";
        return 2;
    }
    if (opt.json) {
        json doc = {{"path", path},
                    {"name", plugin->name()},
                    {"id", plugin->id()},
                    {"entry", plugin->is_v1() ? "main" : "getModuleProperties/makeModule"},
                    {"about", plugin->about()},
                    {"pins", json::array()}};
        if (!plugin->is_v1()) {
            doc["flags"] = plugin->module_flags();
            doc["has_gui"] = (plugin->module_flags() & MF_HAS_GUI) != 0;
            doc["sdk_version"] = plugin->sdk_version();
        }
        for (const PinInfo& p : inst->pins()) {
            json pin = pin_json(p);
            if (!opt.raw) {
                const PinReading r = read_pin(plugin->name(), p, inst->pins());
                pin["unit"] = r.unit;
                pin["meaning"] = r.meaning;
                if (!r.default_value.empty()) pin["default_reading"] = r.default_value;
                if (!r.range.empty()) pin["range_reading"] = r.range;
            }
            doc["pins"].push_back(pin);
        }
        out << doc.dump(2) << "\n";
        return 0;
    }
    out << "name:        " << plugin->name() << "\n";
    out << "id:          " << plugin->id() << "\n";
    out << "entry:       " << (plugin->is_v1() ? "main (older entry)" : "getModuleProperties/makeModule") << "\n";
    if (!plugin->is_v1()) {
        char flags[64];
        std::snprintf(flags, sizeof flags, "0x%x%s%s", plugin->module_flags(),
                      (plugin->module_flags() & MF_HAS_GUI) ? " MF_HAS_GUI" : "",
                      (plugin->module_flags() & MF_GUI_DRAWS) ? " MF_GUI_DRAWS" : "");
        out << "flags:       " << flags << "\n";
        out << "sdk version: " << plugin->sdk_version() << "\n";
    }
    out << "about:\n";
    std::string about = plugin->about();
    size_t start = 0;
    while (start <= about.size()) {
        size_t nl = about.find('\n', start);
        out << "  " << about.substr(start, nl == std::string::npos ? std::string::npos : nl - start) << "\n";
        if (nl == std::string::npos) break;
        start = nl + 1;
    }
    out << "pins:\n";
    for (const PinInfo& p : inst->pins()) {
        out << "  " << p.index << " \"" << p.name << "\" " << direction_name(p.direction) << " "
            << datatype_name(p.datatype);
        if (!p.default_value.empty()) out << " default=\"" << p.default_value << "\"";
        if (!p.extra.empty()) out << (p.datatype == DT_ENUM ? " list=\"" : " range=\"") << p.extra << "\"";
        out << " flags=" << flags_text(p.flags);
        if (p.gui_only()) out << " (GUI only)";
        out << "\n";
        if (opt.raw) continue;
        // The same pin as a musician reads it, indented under the raw fields.
        const PinReading r = read_pin(plugin->name(), p, inst->pins());
        if (!r.meaning.empty()) out << "      " << r.meaning << "\n";
        std::string values;
        if (!r.unit.empty()) values += "unit: " + r.unit;
        if (!r.default_value.empty()) values += (values.empty() ? "" : "; ") + std::string("default: ") + r.default_value;
        if (!r.range.empty() && p.datatype != DT_ENUM) values += (values.empty() ? "" : "; ") + std::string("range: ") + r.range;
        if (!values.empty()) out << "      " << values << "\n";
    }
    return 0;
}

int cmd_list(const std::vector<std::string>& extra_dirs, std::ostream& out, std::ostream& err) {
    for (const std::string& d : extra_dirs) {
        std::error_code ec;
        if (!fs::is_directory(d, ec)) {
            err << "mvhost list: --plugins " << d << ": no such folder\n";
            return 2;
        }
    }
    std::vector<std::string> dirs = extra_dirs;
    for (const std::string& d : default_plugin_dirs()) dirs.push_back(d);
    // The first folder that has a name wins, as it does when a patch names the module.
    std::vector<std::pair<std::string, std::string>> found;  // module name, path
    for (const std::string& d : dirs) {
        std::error_code ec;
        std::vector<fs::path> files;
        for (const auto& e : fs::directory_iterator(d, ec))
            if (e.path().extension() == kLibrarySuffix) files.push_back(e.path());
        std::sort(files.begin(), files.end());
        for (const fs::path& f : files) {
            const std::string name = f.stem().string();
            if (std::none_of(found.begin(), found.end(), [&](const auto& x) { return x.first == name; }))
                found.emplace_back(name, f.string());
        }
    }
    if (found.empty()) {
        err << "mvhost list: no modules found (searched " << joined(dirs) << ")\n";
        return 2;
    }
    // Loaded first, so that the columns can be as wide as their longest entry.
    struct Row {
        std::string name, display, id;
        bool builtin;
    };
    std::vector<Row> rows;
    int broken = 0;
    size_t widths[3] = {0, 0, 0};
    for (const auto& [name, path] : found) {
        std::string error;
        auto plugin = Plugin::load(path, &error);
        if (!plugin) {
            err << "mvhost list: " << error << "\n";
            ++broken;
            continue;
        }
        rows.push_back({name, plugin->name(), plugin->id(), fs::path(path).parent_path().filename() == "builtin"});
        widths[0] = std::max(widths[0], name.size());
        widths[1] = std::max(widths[1], rows.back().display.size());
        widths[2] = std::max(widths[2], rows.back().id.size());
    }
    for (Row& r : rows) {
        r.name.resize(widths[0] + 2, ' ');
        r.display.resize(widths[1] + 2, ' ');
        r.id.resize(widths[2] + 2, ' ');
        out << r.name << r.display << r.id << (r.builtin ? "built-in" : "plug-in") << "\n";
    }
    return broken ? 1 : 0;
}

void register_describe(CLI::App& app, int& status) {
    auto opt = std::make_shared<DescribeOptions>();
    auto* cmd = app.add_subcommand("describe", "Print a module's description and pins");
    cmd->add_option("module", opt->module, "Module name (tallisk, lfo, ...) or path of a plug-in (.so)")->required();
    cmd->add_flag("--json", opt->json, "Print the description as JSON");
    cmd->add_flag("--raw", opt->raw, "Only the fields the module declares, without units and meanings");
    cmd->add_option("--plugins", opt->plugin_dirs, "Further folders to search for modules")->allow_extra_args(false);
    cmd->callback([opt, &status] {
        status = run_guarded("mvhost describe", opt->module, std::cerr, [&] { return cmd_describe(*opt, std::cout, std::cerr); });
    });
}

void register_list(CLI::App& app, int& status) {
    auto dirs = std::make_shared<std::vector<std::string>>();
    auto* cmd = app.add_subcommand("list", "List every plug-in and built-in module found");
    cmd->add_option("--plugins", *dirs, "Further folders to search for modules")->allow_extra_args(false);
    cmd->callback([dirs, &status] {
        status = run_guarded("mvhost list", "", std::cerr, [&] { return cmd_list(*dirs, std::cout, std::cerr); });
    });
}

}  // namespace mvh
