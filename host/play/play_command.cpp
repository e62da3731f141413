// `mvhost play`: the patch in real time through JACK, its panels and controls in a GTK window.
#include <glib-unix.h>
#include <gtk/gtk.h>
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>

#include "jack_driver.h"
#include "mvhost/commands.h"
#include "mvhost/engine.h"
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
    std::vector<std::string> midi;  // as render's --midi: FILE.mid or INSTANCE=FILE.mid
    bool loop = false;
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

// One play session, step by step: each step returns false after printing why (status 2).
class PlaySession {
public:
    PlaySession(const PlayOptions& opt, std::ostream& out, std::ostream& err) : m_opt(opt), m_out(out), m_err(err) {}
    ~PlaySession() { stop_watching_signals(); }

    int run() {
        if (!check_options() || !read_patch() || !connect_to_jack() || !build_engine() || !pick_midi_input() ||
            !plan_outputs() || !open_recorder())
            return 2;
        watch_signals();
        if (!start()) return 2;
        const PlayWindow::End end = m_window->run(m_out);
        return finish(end);
    }

private:
    bool fail(const std::string& msg) {
        m_err << "mvhost play: " << msg << "\n";
        return false;
    }

    bool check_options() {
        if (m_opt.zoom < 1 || m_opt.zoom > 16) return fail("--zoom " + std::to_string(m_opt.zoom) + ": expected 1 to 16");
        if (!std::isfinite(m_opt.seconds) || m_opt.seconds < 0 || m_opt.seconds > 86400)
            return fail("--seconds: expected a number of seconds from 0 (no limit) to 86400");
        if (m_opt.loop && m_opt.midi.empty()) return fail("--loop: repeats the files of --midi, and none was given");
        return true;
    }

    bool read_patch() {
        try {
            m_doc = read_patch_file(m_opt.patch);
        } catch (const PatchError& e) {
            return fail(e.what());
        }
        if (!m_doc.is_object()) return fail(m_opt.patch + ": the patch must be a JSON object");
        m_original = m_doc;
        return true;
    }

    bool connect_to_jack() {
        std::string error;
        m_jack = JackConnection::open(fs::path(m_opt.patch).stem().string(), &error);
        if (!m_jack) return fail(error);
        // The server sets the pace: its rate and period replace the patch's, which are defaults.
        m_doc["sample_rate"] = m_jack->sample_rate();
        m_doc["block_size"] = std::min(m_jack->block_size(), 8192);
        if (!gtk_init_check(nullptr, nullptr)) return fail("cannot open the display (is DISPLAY set?)");
        return true;
    }

    bool build_engine() {
        Engine::Options options;
        options.threads = Engine::Threads::Two;
        options.plugin_dirs = m_opt.plugin_dirs;
        for (const std::string& d : default_plugin_dirs()) options.plugin_dirs.push_back(d);
        options.overrides.midi = m_opt.midi;
        options.overrides.loop_midi = m_opt.loop;
        try {
            m_engine = Engine::from_document(m_doc, m_opt.patch, fs::path(m_opt.patch).parent_path().string(), options);
        } catch (const PatchError& e) {
            return fail(e.what());
        }
        m_rate = static_cast<int>(m_engine->sample_rate());
        if (m_opt.loop && m_engine->midi_loop_frames() < m_engine->block_size())
            return fail("--loop: the MIDI file's messages span less than one block (" +
                        std::to_string(m_engine->block_size()) + " frames); there is nothing to repeat");
        if (m_opt.seconds > 0) m_engine->set_limit(std::max<int64_t>(1, std::llround(m_opt.seconds * m_rate)));
        return true;
    }

    bool pick_midi_input() {
        if (!m_opt.midi_in.empty()) {
            m_midi_target = m_engine->host().find(m_opt.midi_in);
            if (!m_midi_target) return fail("--midi-in " + m_opt.midi_in + ": no such instance");
        } else if (!m_engine->midi_sources().empty()) {
            m_midi_target = m_engine->midi_sources().front();
        }
        if (m_midi_target) {
            m_midi_pin = m_midi_target->find_pin("MIDI In");
            if (m_midi_pin < 0 || m_midi_target->pins()[static_cast<size_t>(m_midi_pin)].datatype != DT_MIDI)
                return fail("--midi-in " + m_midi_target->name() + ": the instance has no \"MIDI In\" MIDI input");
        }
        return true;
    }

    // The recording and the saved patch, checked against each other and every file the patch
    // reads before the session starts, and put in place together at its end. (Writing the patch
    // back over itself is a save, and allowed.)
    bool plan_outputs() {
        if (!m_opt.record.empty() && m_engine->outputs().empty())
            return fail("--record: the patch names no output channels (output.channels)");
        for (const auto& [path, role] : m_engine->patch().files_read()) m_outs.add_input(path, role);
        m_outs.add_output(m_opt.record, "--record");
        m_outs.add_output(m_opt.save_patch, "--save-patch", m_opt.patch);
        std::string error;
        return m_outs.check(&error) ? true : fail(error);
    }

    bool open_recorder() {
        if (m_opt.record.empty()) return true;
        std::string error;
        m_recorder = Recorder::open(m_outs, m_opt.record, m_rate, static_cast<int>(m_engine->outputs().size()), &error);
        return m_recorder ? true : fail(error);
    }

    // Ctrl-C, SIGTERM and SIGHUP end the session as closing the window does, unattended; a second
    // one while it ends gives up at once (leaving no temporary file).
    void watch_signals() {
        for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
            struct sigaction old {};
            if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;  // nohup
            m_signal_sources.push_back(g_unix_signal_add(sig, &PlaySession::on_signal, this));
        }
    }
    void stop_watching_signals() {
        for (guint id : m_signal_sources) g_source_remove(id);
        m_signal_sources.clear();
    }
    static gboolean on_signal(gpointer p) {
        auto* self = static_cast<PlaySession*>(p);
        if (self->m_interrupted) {
            self->stop_watching_signals();
            mvp::remove_temporaries_on_interrupt("mvhost play: interrupted again; the recording and the patch were not saved");
            ::raise(SIGTERM);
            return G_SOURCE_REMOVE;
        }
        self->m_interrupted = true;
        if (self->m_window) self->m_window->interrupt();
        return G_SOURCE_CONTINUE;
    }

    bool start() {
        m_user = std::make_unique<PlayUser>(m_engine->patch().scripted_user());
        m_driver = std::make_unique<JackDriver>(*m_engine, *m_jack);
        if (m_midi_target) m_driver->set_midi_target(m_midi_target, m_midi_pin);
        m_driver->set_recorder(m_recorder.get());
        m_client_name = m_jack->client_name();
        m_window = std::make_unique<PlayWindow>(*m_engine, *m_driver, fs::path(m_opt.patch).filename().string(),
                                                m_client_name, m_opt.zoom);
        m_user->set_parent(m_window->widget());
        m_user->set_start_folder([this](const mvp::FileRequest& r) { return start_folder(r); });
        m_window->user_busy = [this] { return m_user->busy(); };
        m_window->dismiss_user = [this] { m_user->dismiss_all(); };
        m_window->midi_target = m_midi_target;
        m_window->midi_pin = m_midi_pin;
        m_window->on_ready = [this] { m_unchanged = m_engine->stored_patch(); };
        m_window->on_save = [this] {
            const std::string line = save_now();
            m_err << "mvhost play: Ctrl+S: " << line << "\n";
            return line;
        };
        std::string error;
        if (!m_driver->start(&error)) return fail(error);
        if (m_interrupted) m_window->interrupt();
        return true;
    }

    // Where a chooser opens when its module names no folder: a save where the instance's current
    // file lives (its bank), anything else in the patch's folder; never where mvhost was started.
    std::string start_folder(const mvp::FileRequest& r) const {
        std::error_code ec;
        const fs::path patch_dir = fs::absolute(fs::path(m_opt.patch).parent_path(), ec).lexically_normal();
        Instance* inst = m_window ? m_window->calling() : nullptr;
        if (r.save && inst)
            for (const PinInfo& p : inst->pins()) {
                if (p.datatype != DT_TEXT || p.direction != DR_IN || (p.extra != "path" && p.name != "wbf_path")) continue;
                const std::string text = inst->value(p.index).text;
                if (text.empty()) continue;
                const fs::path file = fs::path(text).is_absolute() ? fs::path(text) : patch_dir / text;
                if (fs::is_directory(file.parent_path(), ec)) return file.parent_path().string();
            }
        return patch_dir.string();
    }

    // The patch as it would be written to `path`: every stored and person-set value, paths rebased
    // for the folder it goes to, and the patch's own rate and block length (the server's are not
    // the patch's).
    json saved_doc(const std::string& path) const {
        json saved = m_engine->stored_patch(fs::absolute(path).parent_path().lexically_normal().string());
        for (const char* key : {"sample_rate", "block_size"}) {
            if (m_original.contains(key)) saved[key] = m_original[key];
            else saved.erase(key);
        }
        return saved;
    }

    // The file a person chose at the end: it may replace the patch, never the recording or
    // another file the patch reads.
    bool save_as(const std::string& path, std::string* error) {
        mvp::OutputSet outs;
        for (const auto& [file, role] : m_engine->patch().files_read()) outs.add_input(file, role);
        outs.add_input(m_opt.record, "the recording");
        outs.add_output(path, "", m_opt.patch);
        if (!outs.check(error)) return false;
        outs.put(path, saved_doc(path).dump(2) + "\n");
        return outs.commit(error);
    }

    // Ctrl+S: the line for the window's status and the terminal.
    std::string save_now() {
        if (m_opt.save_patch.empty()) return "not saved: no --save-patch file was given";
        std::string why;
        if (!write_json(m_opt.save_patch, saved_doc(m_opt.save_patch), &why)) return why;
        return "saved " + m_opt.save_patch;
    }

    // Ends as a host closes: the sound stops while the window stays up; each module asks its
    // close-time questions with its panel marked; then the recording is completed and the patch
    // written, naming the files the modules just saved. Without a person (time up, a signal, the
    // server gone) the questions the script leaves take render's answers and are printed.
    int finish(PlayWindow::End end) {
        const bool attended = end == PlayWindow::End::Closed && !m_interrupted;
        m_driver->stop();
        m_jack->close();
        if (!attended) m_user->unattended([this](const std::string& line) { m_err << "mvhost play: " << line << "\n"; });
        m_engine->close_gui_objects([this](Instance* inst) { m_window->show_closing(inst); });
        m_window->show_closing(nullptr);
        // What the patch's script had modules write, as render names it (a person's own saves are
        // theirs to know).
        for (const std::string& line : m_engine->patch().user_saves()) m_err << "mvhost play: " << line << "\n";

        int status = 0;
        std::string error;
        bool complete = true;
        if (m_recorder && !m_recorder->finish(&error)) {
            m_err << "mvhost play: " << error << "\n";
            complete = false;
        }
        if (!m_opt.save_patch.empty()) m_outs.put(m_opt.save_patch, saved_doc(m_opt.save_patch).dump(2) + "\n");
        // All of them or none: a recording without the patch that made it (or the reverse) would
        // pass for a whole session.
        if (!complete || !m_outs.commit(&error)) {
            m_outs.abandon();
            if (complete) m_err << "mvhost play: " << error << "\n";
            if (m_recorder && !m_opt.save_patch.empty())
                m_err << "mvhost play: neither the recording nor the patch was written\n";
            status = 1;
        }
        if (m_opt.save_patch.empty() && attended && m_engine->stored_patch() != m_unchanged) {
            const std::string save_to = m_window->ask_save_as(fs::path(m_opt.patch).parent_path().string(),
                                                              fs::path(m_opt.patch).filename().string());
            if (!save_to.empty() && !save_as(save_to, &error)) {
                m_err << "mvhost play: " << error << "\n";
                status = 1;
            } else if (!save_to.empty()) {
                m_err << "mvhost play: saved " << save_to << "\n";
            }
        }
        report(end);
        if (m_driver->server_gone()) status = 1;
        m_user->set_parent(nullptr);
        m_window.reset();
        m_driver.reset();
        m_user.reset();
        m_engine.reset();
        return status;
    }

    void report(PlayWindow::End end) {
        char line[256];
        std::snprintf(line, sizeof line,
                      "mvhost play: %.2f s played at %d Hz in blocks of %d, %d xruns, longest callback %.2f ms of %.2f",
                      static_cast<double>(m_engine->frames_played()) / m_rate, m_rate, m_engine->block_size(),
                      m_driver->xruns(), static_cast<double>(m_driver->longest_callback_ns()) * 1e-6,
                      1e3 * m_engine->block_size() / m_rate);
        m_err << line;
        if (m_recorder)
            m_err << ", " << m_recorder->frames_written() << " frames recorded to " << m_opt.record << " ("
                  << m_recorder->frames_lost() << " lost)";
        if (m_engine->dropped_messages()) m_err << ", " << m_engine->dropped_messages() << " messages between threads lost";
        m_err << "\n";
        if (m_interrupted) m_err << "mvhost play: the session was interrupted by a signal\n";
        if (m_driver->server_gone() || end == PlayWindow::End::ServerGone) m_err << "mvhost play: the JACK server went away\n";
    }

    const PlayOptions& m_opt;
    std::ostream& m_out;
    std::ostream& m_err;
    json m_doc, m_original, m_unchanged;
    int m_rate = 0;
    std::string m_client_name;
    std::unique_ptr<JackConnection> m_jack;
    std::unique_ptr<Engine> m_engine;
    Instance* m_midi_target = nullptr;
    int m_midi_pin = -1;
    mvp::OutputSet m_outs;  // before the recorder, whose file it owns
    std::unique_ptr<Recorder> m_recorder;
    std::unique_ptr<PlayUser> m_user;
    std::unique_ptr<JackDriver> m_driver;
    std::unique_ptr<PlayWindow> m_window;
    std::vector<guint> m_signal_sources;
    bool m_interrupted = false;
};

}  // namespace

void register_play(CLI::App& app, int& status) {
    auto opt = std::make_shared<PlayOptions>();
    auto* cmd = app.add_subcommand("play", "Play a patch live through JACK, with its panels in a window");
    cmd->add_option("patch", opt->patch, "Patch file (.json)")->required();
    cmd->add_option("--record", opt->record, "Write what the outputs play to a WAV file");
    cmd->add_option("--seconds", opt->seconds, "Stop after this many seconds of audio, unattended");
    cmd->add_option("--save-patch", opt->save_patch, "On close (and Ctrl+S), write the patch with its stored values");
    cmd->add_option("--midi-in", opt->midi_in, "The midi_source instance the MIDI input feeds (default: the first)");
    cmd->add_option("--midi", opt->midi, "Play a MIDI file into the first midi_source, or INSTANCE=FILE.mid (repeatable)")
        ->allow_extra_args(false);
    cmd->add_flag("--loop", opt->loop, "Play the --midi files again from their start after their last message");
    cmd->add_option("--zoom", opt->zoom, "Panel magnification, 1 to 16 (default 3)");
    cmd->add_option("--plugins", opt->plugin_dirs, "Further folders to search for modules");
    cmd->callback([opt, &status] { status = PlaySession(*opt, std::cout, std::cerr).run(); });
}

}  // namespace mvh
