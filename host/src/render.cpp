// `mvhost render`: a patch to a WAV file, with progress, a summary, and the patch written back.
#include <sndfile.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>

#include "mvhost/commands.h"
#include "mvhost/patch.h"
#include "mvhost/render.h"
#include "mvp/output_file.h"

namespace fs = std::filesystem;

namespace mvh {

std::vector<std::string> default_plugin_dirs() {
    std::vector<std::string> dirs;
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        const fs::path root = exe.parent_path().parent_path();
        dirs.push_back((root / "plugins").string());
        dirs.push_back((root / "lib" / "builtin").string());
    }
    return dirs;
}

int cmd_render(const RenderOptions& opt, std::ostream& err) {
    auto fail = [&](const std::string& msg) {
        err << "mvhost render: " << msg << "\n";
        return 2;
    };
    std::vector<std::string> dirs = opt.plugin_dirs;
    for (const std::string& d : default_plugin_dirs()) dirs.push_back(d);
    std::unique_ptr<PatchRun> run;
    try {
        run = std::make_unique<PatchRun>(opt.patch, dirs);
    } catch (const PatchError& e) {
        return fail(e.what());
    }
    if (run->outputs().empty() && !opt.output.empty())
        return fail(opt.patch + ": output.channels: the patch names no outputs for the WAV file");
    // Writing the WAV, a MIDI file, a log or a panel over the patch would destroy it; writing the
    // patch back over itself (--save-patch) is a save, and is allowed.
    std::vector<std::string> outputs = {opt.output, opt.user_log};
    if (!opt.panels_dir.empty())
        for (const auto& inst : run->host().instances())
            outputs.push_back((fs::path(opt.panels_dir) / (inst->name() + ".png")).string());

    struct MidiOut {
        Instance* inst;
        int audio_pin;
        std::string file;
    };
    std::vector<MidiOut> midi_outs;
    for (const std::string& arg : opt.midi_out) {
        const size_t eq = arg.find('=');
        const size_t dot = arg.find('.');
        if (eq == std::string::npos || dot == std::string::npos || dot > eq)
            return fail("--midi-out " + arg + ": expected INSTANCE.PIN=FILE.mid");
        Instance* inst = run->host().find(arg.substr(0, dot));
        if (!inst) return fail("--midi-out " + arg + ": unknown instance \"" + arg.substr(0, dot) + "\"");
        const int pin = inst->find_pin(arg.substr(dot + 1, eq - dot - 1));
        if (pin < 0 || inst->pins()[pin].datatype != DT_MIDI || inst->pins()[pin].direction != DR_OUT)
            return fail("--midi-out " + arg + ": \"" + arg.substr(dot + 1, eq - dot - 1) + "\" is not a MIDI output");
        midi_outs.push_back({inst, inst->gui_to_audio(pin), arg.substr(eq + 1)});
        outputs.push_back(arg.substr(eq + 1));
    }
    for (const std::string& out : outputs)
        if (!out.empty() && mvp::same_file(out, opt.patch)) return fail(out + ": is the patch itself; choose another output");

    const float rate = run->host().config().sample_rate;
    const int channels = static_cast<int>(run->outputs().size());
    mvp::OutputFile wav;
    SNDFILE* snd = nullptr;
    if (!opt.output.empty()) {
        std::string why;
        if (!wav.open(opt.output, &why, mvp::OutputFile::Access::Seekable)) return fail(why);
        SF_INFO info{};
        info.samplerate = static_cast<int>(rate);
        info.channels = channels;
        const bool pcm16 = opt.pcm16 || run->output_format() == "pcm16";
        info.format = SF_FORMAT_WAV | (pcm16 ? SF_FORMAT_PCM_16 : SF_FORMAT_FLOAT);
        snd = sf_open_fd(wav.fd(), SFM_WRITE, &info, SF_FALSE);
        if (!snd) return fail(opt.output + ": cannot write the WAV file: " + sf_strerror(nullptr));
    }

    const bool tty = isatty(STDERR_FILENO) && !opt.quiet;
    const auto t0 = std::chrono::steady_clock::now();
    auto last_draw = t0;
    bool drawn = false;
    float peak = 0.0f;
    long clipped = 0;
    // Frames are written in batches: one write per block would cost a system call every few
    // dozen samples, more than a small patch's whole processing.
    constexpr size_t kBatchFrames = 16384;
    std::vector<float> interleaved;
    interleaved.reserve(kBatchFrames * static_cast<size_t>(channels));
    const int total = run->total_samples();
    bool write_ok = true;
    auto flush = [&] {
        const auto frames = static_cast<sf_count_t>(interleaved.size() / static_cast<size_t>(channels));
        if (snd && frames > 0 && sf_writef_float(snd, interleaved.data(), frames) != frames) write_ok = false;
        interleaved.clear();
    };
    auto sink = [&](const std::vector<const float*>& bufs, int n) {
        for (int k = 0; k < n; ++k)
            for (int c = 0; c < channels; ++c) {
                const float x = bufs[c] ? bufs[c][k] : 0.0f;
                interleaved.push_back(x);
                const float a = std::fabs(x);
                if (a > peak) peak = a;
                if (a > 1.0f) ++clipped;
            }
        if (interleaved.size() >= kBatchFrames * static_cast<size_t>(channels)) flush();
        const auto now = std::chrono::steady_clock::now();
        if (tty && now - t0 > std::chrono::seconds(1) && now - last_draw > std::chrono::milliseconds(100)) {
            last_draw = now;
            drawn = true;
            const double done = static_cast<double>(run->host().sample_clock()) / std::max(1, total);
            const int width = 40, fill = static_cast<int>(done * width);
            err << "\r[" << std::string(fill, '#') << std::string(width - fill, '.') << "] " << static_cast<int>(done * 100)
                << "% " << std::fixed;
            err.precision(1);
            err << run->host().sample_clock() / rate << " s / " << total / rate << " s" << std::flush;
        }
    };
    try {
        run->run_until(total, sink);
    } catch (const std::exception& e) {
        if (snd) sf_close(snd);
        return fail(std::string("render failed: ") + e.what());
    }
    if (drawn) err << "\r" << std::string(70, ' ') << "\r";
    if (snd) {
        flush();
        if (sf_close(snd) != 0) write_ok = false;
        if (!write_ok) return fail(opt.output + ": cannot write the WAV file");
        std::string why;
        if (!wav.commit(&why)) return fail(why);
    }

    for (const MidiOut& m : midi_outs) {
        std::vector<MidiRecord> events;
        for (const MidiRecord& r : m.inst->midi_log)
            if (r.pin == m.audio_pin) events.push_back(r);
        std::string error;
        if (!write_midi_file(m.file, events, rate, &error)) return fail(error);
    }

    if (!opt.panels_dir.empty()) {
        std::string error;
        if (!write_panels(*run, opt.panels_dir, err, &error)) return fail(error);
    }

    for (const std::string& p : run->user_problems()) err << "mvhost render: warning: user script: " << p << "\n";
    if (!opt.user_log.empty()) {
        std::string why;
        if (!mvp::write_output_file(opt.user_log, run->user_log().dump(2) + "\n", &why)) return fail(why);
    }

    if (!opt.save_patch.empty()) {
        std::string why;
        if (!mvp::write_output_file(opt.save_patch, run->stored_patch().dump(2) + "\n", &why)) return fail(why);
    }

    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double seconds = total / rate;
    char line[256];
    std::snprintf(line, sizeof line, "%s: %.2f s rendered in %.2f s (%.1fx real time), peak %.3f (%.1f dBFS), %ld clipped samples",
                  opt.output.empty() ? opt.patch.c_str() : opt.output.c_str(), seconds, elapsed,
                  elapsed > 0 ? seconds / elapsed : 0.0, peak, peak > 0 ? 20.0 * std::log10(peak) : -INFINITY, clipped);
    err << line << "\n";
    return 0;
}

void register_render(CLI::App& app, int& status) {
    auto opt = std::make_shared<RenderOptions>();
    auto* cmd = app.add_subcommand("render", "Render a patch to a WAV file");
    cmd->add_option("patch", opt->patch, "Patch file (.json)")->required();
    cmd->add_option("-o,--output", opt->output, "WAV file to write")->required();
    cmd->add_flag("--pcm16", opt->pcm16, "Write 16-bit PCM instead of 32-bit float");
    cmd->add_option("--save-patch", opt->save_patch, "Write the patch back with its stored values");
    cmd->add_option("--midi-out", opt->midi_out, "Write a MIDI output to a MIDI file: INSTANCE.PIN=FILE.mid");
    cmd->add_option("--plugins", opt->plugin_dirs, "Further folders to search for modules");
    cmd->add_option("--user-log", opt->user_log, "Write what the scripted user was asked (JSON)");
    cmd->add_option("--panels", opt->panels_dir, "Paint every GUI panel at the end into DIR/INSTANCE.png");
    cmd->add_flag("-q,--quiet", opt->quiet, "No progress bar");
    cmd->callback([opt, &status] {
        // Clears a progress bar first, so the line stands alone.
        const bool bar = isatty(STDERR_FILENO) && !opt->quiet;
        mvp::remove_temporaries_on_interrupt((bar ? "\r" + std::string(70, ' ') + "\r" : std::string()) +
                                             "mvhost render: interrupted");
        status = cmd_render(*opt, std::cerr);
    });
}

}  // namespace mvh
