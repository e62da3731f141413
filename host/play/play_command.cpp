// `mvhost play`: the patch in real time through JACK, its panels and controls in a GTK window.
#include <gtk/gtk.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>

#include "jack_driver.h"
#include "mvhost/engine.h"
#include "mvhost/commands.h"
#include "mvhost/patch.h"
#include "mvhost/render.h"
#include "mvp/output_file.h"
#include "play_user.h"
#include "play_window.h"
#include "recorder.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace mvh {

namespace {

struct PlayOptions {
    std::string patch;
    std::string record;
    double seconds = 0.0;
    std::string save_patch;
    std::string midi_in;
    int zoom = 3;
    std::vector<std::string> plugin_dirs;
};

// Through the platform's output files, so that a device, FIFO or symlink named as the saved patch
// is written as such and a failed write leaves the old file as it was.
bool write_json(const std::string& path, const json& doc, std::string* error) {
    if (mvp::write_output_file(path, doc.dump(2) + "\n", error)) return true;
    if (error && error->empty()) *error = path + ": cannot write the patch";
    return false;
}

}  // namespace

namespace {

int cmd_play(const PlayOptions& opt, std::ostream& out, std::ostream& err) {
    auto fail = [&](const std::string& msg) {
        err << "mvhost play: " << msg << "\n";
        return 2;
    };
    if (opt.zoom < 1 || opt.zoom > 16) return fail("--zoom " + std::to_string(opt.zoom) + ": expected 1 to 16");
    if (!std::isfinite(opt.seconds) || opt.seconds < 0 || opt.seconds > 86400)
        return fail("--seconds: expected a number of seconds from 0 (no limit) to 86400");

    json doc;
    try {
        doc = read_patch_file(opt.patch);
    } catch (const PatchError& e) {
        return fail(e.what());
    }
    if (!doc.is_object()) return fail(opt.patch + ": the patch must be a JSON object");

    std::string error;
    auto jack = JackConnection::open(fs::path(opt.patch).stem().string(), &error);
    if (!jack) return fail(error);
    // The server sets the pace: its rate and period replace the patch's, which are defaults.
    const json original = doc;
    doc["sample_rate"] = jack->sample_rate();
    doc["block_size"] = std::min(jack->block_size(), 8192);

    if (!gtk_init_check(nullptr, nullptr)) return fail("cannot open the display (is DISPLAY set?)");

    Engine::Options engine_options;
    engine_options.threads = Engine::Threads::Two;
    engine_options.plugin_dirs = opt.plugin_dirs;
    for (const std::string& d : default_plugin_dirs()) engine_options.plugin_dirs.push_back(d);
    std::unique_ptr<Engine> engine;
    try {
        engine = Engine::from_document(doc, opt.patch, fs::path(opt.patch).parent_path().string(), engine_options);
    } catch (const PatchError& e) {
        return fail(e.what());
    }
    Host& host = engine->host();

    Instance* midi_target = nullptr;
    if (!opt.midi_in.empty()) {
        midi_target = host.find(opt.midi_in);
        if (!midi_target) return fail("--midi-in " + opt.midi_in + ": no such instance");
    } else if (!engine->midi_sources().empty()) {
        midi_target = engine->midi_sources().front();
    }
    int midi_pin = -1;
    if (midi_target) {
        midi_pin = midi_target->find_pin("MIDI In");
        if (midi_pin < 0 || midi_target->pins()[static_cast<size_t>(midi_pin)].datatype != DT_MIDI)
            return fail("--midi-in " + midi_target->name() + ": the instance has no \"MIDI In\" MIDI input");
    }

    const int rate = static_cast<int>(engine->sample_rate());
    std::unique_ptr<Recorder> recorder;
    if (!opt.record.empty()) {
        if (engine->outputs().empty()) return fail("--record: the patch names no output channels (output.channels)");
        recorder = Recorder::open(opt.record, rate, static_cast<int>(engine->outputs().size()), &error);
        if (!recorder) return fail(error);
    }

    auto user = std::make_unique<PlayUser>(engine->patch().scripted_user());
    auto driver = std::make_unique<JackDriver>(*engine, *jack);
    if (midi_target) driver->set_midi_target(midi_target, midi_pin);
    driver->set_recorder(recorder.get());
    if (opt.seconds > 0) engine->set_limit(std::max<int64_t>(1, std::llround(opt.seconds * rate)));

    auto saved_doc = [&] {
        json saved = engine->stored_patch();
        for (const char* key : {"sample_rate", "block_size"}) {
            if (original.contains(key)) saved[key] = original[key];
            else saved.erase(key);
        }
        return saved;
    };
    auto window = std::make_unique<PlayWindow>(*engine, *driver, fs::path(opt.patch).filename().string(), opt.zoom);
    user->set_parent(window->widget());
    window->on_save = [&] {
        if (opt.save_patch.empty()) {
            err << "mvhost play: Ctrl+S: no --save-patch file was given\n";
            return;
        }
        std::string why;
        if (write_json(opt.save_patch, saved_doc(), &why)) err << "mvhost play: saved " << opt.save_patch << "\n";
        else err << "mvhost play: " << why << "\n";
    };
    if (!driver->start(&error)) return fail(error);
    window->run(out);
    driver->stop();
    jack->close();

    int status = 0;
    if (recorder && !recorder->finish(&error)) {
        err << "mvhost play: " << error << "\n";
        status = 1;
    }
    if (!opt.save_patch.empty() && !write_json(opt.save_patch, saved_doc(), &error)) {
        err << "mvhost play: " << error << "\n";
        status = 1;
    }
    const bool gone = driver->server_gone();
    char line[256];
    std::snprintf(line, sizeof line,
                  "mvhost play: %.2f s played at %d Hz in blocks of %d, %d xruns, longest callback %.2f ms of %.2f",
                  static_cast<double>(engine->frames_played()) / rate, rate, engine->block_size(), driver->xruns(),
                  static_cast<double>(driver->longest_callback_ns()) * 1e-6, 1e3 * engine->block_size() / rate);
    err << line;
    if (recorder)
        err << ", " << recorder->frames_written() << " frames recorded to " << opt.record << " ("
            << recorder->frames_lost() << " lost)";
    if (engine->dropped_messages()) err << ", " << engine->dropped_messages() << " messages between threads lost";
    err << "\n";
    if (gone) {
        err << "mvhost play: the JACK server went away\n";
        status = 1;
    }
    // A closing editor may still ask the person something (unsaved waveforms): its box must not
    // name the window, which goes away first.
    gtk_widget_hide(window->widget());
    user->set_parent(nullptr);
    window.reset();
    driver.reset();
    engine->close_gui_objects();
    user.reset();
    engine.reset();
    return status;
}

}  // namespace

void register_play(CLI::App& app, int& status) {
    auto opt = std::make_shared<PlayOptions>();
    auto* cmd = app.add_subcommand("play", "Play a patch live through JACK, with its panels in a window");
    cmd->add_option("patch", opt->patch, "Patch file (.json)")->required();
    cmd->add_option("--record", opt->record, "Write what the outputs play to a WAV file");
    cmd->add_option("--seconds", opt->seconds, "Stop after this many seconds of audio");
    cmd->add_option("--save-patch", opt->save_patch, "On close (and Ctrl+S), write the patch with its stored values");
    cmd->add_option("--midi-in", opt->midi_in, "The midi_source instance the MIDI input feeds (default: the first)");
    cmd->add_option("--zoom", opt->zoom, "Panel magnification, 1 to 16 (default 3)");
    cmd->add_option("--plugins", opt->plugin_dirs, "Further folders to search for modules");
    cmd->callback([opt, &status] { status = cmd_play(*opt, std::cout, std::cerr); });
}

}  // namespace mvh
