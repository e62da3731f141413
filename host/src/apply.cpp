// `mvhost apply`: an effect over a sound file without writing a patch. A module is placed behind
// an audio_in (one instance per channel of the sound, for a module with one audio input), or a
// patch with its own audio_in is played; the sound sets the rate and the length.
#include <sndfile.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>

#include "mvhost/commands.h"
#include "mvhost/host.h"
#include "mvhost/render.h"
#include "mvp/output_file.h"

using nlohmann::json;

namespace mvh {

namespace {

struct ApplyOptions {
    std::string effect, input;
    RenderOptions render;
    std::vector<std::string> set;
};

bool is_patch(const std::string& effect) {
    return effect == "-" || (effect.size() > 5 && effect.substr(effect.size() - 5) == ".json");
}

// The patch that places `module` behind the sound: its first audio input fed from audio_in, its
// first audio output written, one copy per channel of the sound (at most two).
bool module_patch(const std::string& module, const std::vector<std::string>& dirs, int channels,
                  const std::vector<std::string>& sets, json* doc, std::vector<std::string>* overrides,
                  std::string* error) {
    const std::string path = names_module_file(module) ? module : find_module(module, dirs);
    if (path.empty()) {
        *error = "unknown module \"" + module + "\" (`mvhost list` shows them all)";
        return false;
    }
    auto plugin = Plugin::load(path, error);
    if (!plugin) return false;
    Host host;
    InstanceOptions options;
    options.with_gui = false;
    Instance* probe = host.add(plugin, "probe", options);
    std::string in_pin, out_pin;
    for (const PinInfo& p : probe->pins()) {
        if (p.datatype != DT_FSAMPLE || p.gui_only()) continue;
        if (p.direction == DR_IN && in_pin.empty()) in_pin = p.name;
        if (p.direction == DR_OUT && out_pin.empty()) out_pin = p.name;
    }
    if (in_pin.empty() || out_pin.empty()) {
        *error = module + ": the module has no audio input and output to put a sound through";
        return false;
    }
    const int copies = channels >= 2 ? 2 : 1;
    json instances = json::array({{{"name", "in"}, {"module", "audio_in"}, {"pins", {{"Channels", copies == 2 ? "Stereo" : "Mono"}}}}});
    json wires = json::array(), outs = json::array();
    const char* names[] = {"fx", "fx_right"};
    const char* sides[] = {"in.Left", "in.Right"};
    for (int c = 0; c < copies; ++c) {
        instances.push_back({{"name", names[c]}, {"module", path}});
        wires.push_back({sides[c], std::string(names[c]) + "." + in_pin});
        outs.push_back(std::string(names[c]) + "." + out_pin);
    }
    // The whole sound is played: the length given here is replaced by the sound's.
    *doc = {{"duration", 1}, {"instances", instances}, {"wires", wires}, {"output", {{"channels", outs}}}};
    // PIN=VALUE sets every copy; INSTANCE.PIN=VALUE (fx, fx_right) one of them.
    for (const std::string& s : sets) {
        const size_t eq = s.find('='), dot = s.find('.');
        if (dot != std::string::npos && dot < eq && (s.rfind("fx.", 0) == 0 || s.rfind("fx_right.", 0) == 0 || s.rfind("in.", 0) == 0))
            overrides->push_back(s);
        else
            for (int c = 0; c < copies; ++c) overrides->push_back(std::string(names[c]) + "." + s);
    }
    return true;
}

int cmd_apply(ApplyOptions& opt, std::ostream& err) {
    RenderOptions& r = opt.render;
    r.command = "apply";
    r.input = opt.input;
    if (is_patch(opt.effect)) {
        r.patch = opt.effect;
        r.overrides.set = opt.set;
        return cmd_render(r, err);
    }
    SF_INFO info{};
    SNDFILE* f = sf_open(opt.input.c_str(), SFM_READ, &info);
    if (!f) {
        err << "mvhost apply: " << opt.input << ": cannot read the sound file: " << sf_strerror(nullptr) << "\n";
        return 2;
    }
    sf_close(f);
    std::vector<std::string> dirs = r.plugin_dirs;
    for (const std::string& d : default_plugin_dirs()) dirs.push_back(d);
    std::string error;
    if (!module_patch(opt.effect, dirs, info.channels, opt.set, &r.document, &r.overrides.set, &error)) {
        err << "mvhost apply: " << error << "\n";
        return 2;
    }
    r.patch = opt.effect;
    return cmd_render(r, err);
}

}  // namespace

void register_apply(CLI::App& app, int& status) {
    auto opt = std::make_shared<ApplyOptions>();
    auto* cmd = app.add_subcommand("apply", "Put a sound file through a module or a patch with audio_in");
    cmd->add_option("effect", opt->effect, "Module (chorus, ...) or patch (.json) with an audio_in instance")->required();
    cmd->add_option("input", opt->input, "Sound file to play into it (its rate and length are the render's)")->required();
    cmd->add_option("-o,--output", opt->render.output,
                    "Sound file to write, its format from the extension; - writes a WAV to standard output")
        ->required();
    cmd->add_option("--set", opt->set, "Set a pin: PIN=VALUE on the module, INSTANCE.PIN=VALUE in a patch (repeatable)")
        ->allow_extra_args(false);
    cmd->add_option("--format", opt->render.format, "Sample format (default: float)")
        ->check(CLI::IsMember({"float", "pcm16", "pcm24"}));
    cmd->add_option("--plugins", opt->render.plugin_dirs, "Further folders to search for modules")->allow_extra_args(false);
    cmd->add_flag("-q,--quiet", opt->render.quiet, "No progress bar, notes or summary: only warnings and errors");
    cmd->add_flag("--strict", opt->render.strict, "Exit status 1 when a message box went unanswered");
    cmd->callback([opt, &status] {
        const bool bar = isatty(STDERR_FILENO) && !opt->render.quiet;
        mvp::remove_temporaries_on_interrupt((bar ? "\r" + std::string(70, ' ') + "\r" : std::string()) +
                                             "mvhost apply: interrupted");
        status = cmd_apply(*opt, std::cerr);
    });
}

}  // namespace mvh
