// `mvhost panel`: one instance's GUI painted into a PNG as a user would see it at a moment.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <sstream>

#include "mvhost/commands.h"
#include "mvhost/engine.h"
#include "mvhost/patch.h"
#include "mvhost/render.h"

#ifdef MV_HAVE_PLATFORM
#include "mvp/gdi.h"
#include "mvp/output_file.h"
#endif

namespace mvh {

namespace {

struct PanelOptions {
    std::string patch;
    std::string instance;
    std::string output;
    std::string size;
    std::string at;  // seconds; empty: the patch's end
    std::vector<std::string> plugin_dirs;
};

int cmd_panel(const PanelOptions& opt, std::ostream& err) {
    auto fail = [&](const std::string& msg) {
        err << "mvhost panel: " << msg << "\n";
        return 2;
    };
#ifndef MV_HAVE_PLATFORM
    (void)opt;
    return fail("this host was built without the platform stand-in");
#else
    int w = 0, h = 0;
    if (!opt.size.empty()) {
        char x = 0;
        if (std::sscanf(opt.size.c_str(), "%d%c%d", &w, &x, &h) != 3 || (x != 'x' && x != 'X') || w <= 0 || h <= 0 ||
            w > 4096 || h > 4096)
            return fail("--size " + opt.size + ": expected WIDTHxHEIGHT, each 1 to 4096");
    }
    Engine::Options engine_options;
    engine_options.plugin_dirs = opt.plugin_dirs;
    for (const std::string& d : default_plugin_dirs()) engine_options.plugin_dirs.push_back(d);
    engine_options.report = [&err](const std::string& line) { err << "mvhost panel: " << line << "\n"; };
    std::unique_ptr<Engine> engine;
    try {
        engine = Engine::from_file(opt.patch, engine_options);
    } catch (const PatchError& e) {
        return fail(e.what());
    }
    mvp::OutputSet outs;
    for (const auto& [path, role] : engine->patch().files_read()) outs.add_input(path, role);
    outs.add_output(opt.output, "-o");
    std::string error;
    if (!outs.check(&error)) return fail(error);
    Instance* inst = engine->host().find(opt.instance);
    if (!inst) return fail(opt.patch + ": " + engine->host().unknown_instance(opt.instance));
    if (!inst->gui()) return fail(opt.patch + ": instance \"" + opt.instance + "\" has no GUI object");
    // --at is a moment the host's clock can reach, and paints at what it prints.
    const double rate = engine->sample_rate();
    double at = static_cast<double>(engine->total_frames()) / rate;
    if (!opt.at.empty()) {
        char* end = nullptr;
        at = std::strtod(opt.at.c_str(), &end);
        // Past the end the patch plays nothing more, so a later moment would paint its end and
        // print a moment it never reached.
        const double end_s = static_cast<double>(engine->total_frames()) / rate;
        if (end == opt.at.c_str() || *end != '\0' || !std::isfinite(at) || at < 0 || at > end_s) {
            std::ostringstream range;
            range << "--at " << opt.at << ": expected seconds from 0 to the patch's end, " << end_s;
            return fail(range.str());
        }
    }
    // Whole blocks from the start, as a render runs them, so the panel shows what the render had.
    const auto until = static_cast<int64_t>(std::llround(at * rate));
    for (int64_t clock = 0; clock < until;) {
        const int n = engine->run(static_cast<int>(std::min<int64_t>(engine->block_size(), until - clock)), nullptr, nullptr);
        if (n <= 0) break;
        clock += n;
    }
    if (w == 0) {
        w = inst->panel_width > 0 ? inst->panel_width : 100;
        h = inst->panel_height > 0 ? inst->panel_height : 100;
    }
    // The patch view's own background shows where a panel paints nothing.
    mvp::HDC dc = mvp::create_panel_dc(w, h, 0x00C0C0C0);
    if (!dc) return fail("cannot create a drawing surface of " + std::to_string(w) + "x" + std::to_string(h));
    inst->paint(dc, w, h);
    mvp::GdiFlush();
    std::vector<uint8_t> bytes;
    const bool ok = mvp::encode_png(dc, &bytes, &error);
    mvp::delete_panel_dc(dc);
    if (!ok) return fail(opt.output + ": " + error);
    outs.put(opt.output, std::move(bytes));
    if (!outs.commit(&error)) return fail(error);
    err << opt.output << ": " << w << "x" << h << " panel of \"" << opt.instance << "\" at " << at << " s\n";
    return 0;
#endif
}

}  // namespace

bool paint_panels(PatchRun& run, const std::string& dir, mvp::OutputSet& outputs, std::vector<std::string>* lines,
                  std::string* error) {
#ifndef MV_HAVE_PLATFORM
    (void)run, (void)dir, (void)outputs, (void)lines;
    if (error) *error = "this host was built without the platform stand-in";
    return false;
#else
    for (const auto& inst : run.host().instances()) {
        if (!inst->gui() || inst->panel_width <= 0 || inst->panel_height <= 0) continue;
        const int w = inst->panel_width, h = inst->panel_height;
        mvp::HDC dc = mvp::create_panel_dc(w, h, 0x00C0C0C0);
        inst->paint(dc, w, h);
        mvp::GdiFlush();
        const std::string path = (std::filesystem::path(dir) / (inst->name() + ".png")).string();
        std::vector<uint8_t> bytes;
        std::string why;
        const bool ok = mvp::encode_png(dc, &bytes, &why);
        mvp::delete_panel_dc(dc);
        if (!ok) {
            if (error) *error = path + ": " + why;
            return false;
        }
        outputs.put(path, std::move(bytes));
        lines->push_back(path + ": " + std::to_string(w) + "x" + std::to_string(h) + " panel of \"" + inst->name() + "\"");
    }
    return true;
#endif
}

void register_panel(CLI::App& app, int& status) {
    auto opt = std::make_shared<PanelOptions>();
    auto* cmd = app.add_subcommand("panel", "Paint one instance's panel into a PNG");
    cmd->add_option("patch", opt->patch, "Patch file (.json)")->required();
    cmd->add_option("--instance", opt->instance, "Instance name")->required();
    cmd->add_option("-o,--output", opt->output, "PNG file to write")->required();
    cmd->add_option("--size", opt->size, "Panel size WIDTHxHEIGHT (default: the size the module asks for)");
    cmd->add_option("--at", opt->at, "Seconds into the patch (default: its end)");
    cmd->add_option("--plugins", opt->plugin_dirs, "Further folders to search for modules")->allow_extra_args(false);
    cmd->callback([opt, &status] {
#ifdef MV_HAVE_PLATFORM
        mvp::remove_temporaries_on_interrupt("mvhost panel: interrupted");
#endif
        status = run_guarded("mvhost panel", opt->patch, std::cerr, [&] { return cmd_panel(*opt, std::cerr); });
    });
}

}  // namespace mvh
