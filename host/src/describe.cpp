// `mvhost describe`: the module browser's view of a plug-in.
#include <sys/stat.h>

#include "mvhost/commands.h"
#include "mvhost/host.h"

namespace mvh {

int cmd_describe(const std::string& path, std::ostream& out, std::ostream& err) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
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
    }
    return 0;
}

}  // namespace mvh

#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>

namespace mvh {

void register_describe(CLI::App& app, int& status) {
    auto path = std::make_shared<std::string>();
    auto* cmd = app.add_subcommand("describe", "Print a plug-in's description and pins");
    cmd->add_option("plugin", *path, "Path of the plug-in (.so)")->required();
    cmd->callback([path, &status] { status = cmd_describe(*path, std::cout, std::cerr); });
}

}  // namespace mvh
