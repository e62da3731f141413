// `mvhost render`: a patch to a WAV file, with progress, a summary, and the patch written back.
#include <sndfile.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>

#include "file_access.h"
#include "library.h"
#include "mvhost/commands.h"
#include "mvhost/engine.h"
#include "mvhost/patch.h"
#include "mvhost/render.h"
#include "mvp/output_file.h"

namespace fs = std::filesystem;

namespace mvh {

std::vector<std::string> default_plugin_dirs() {
    std::vector<std::string> dirs;
    const std::string exe = program_path();
    if (!exe.empty()) {
        const fs::path root = fs::path(exe).parent_path().parent_path();
        dirs.push_back((root / "plugins").string());
        dirs.push_back((root / "lib" / "builtin").string());
    }
    return dirs;
}

namespace {

uint32_t le32(const unsigned char* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }
void put32(unsigned char* p, uint32_t v) {
    for (int k = 0; k < 4; ++k) p[k] = static_cast<unsigned char>(v >> (8 * k));
}

// libsndfile writes float WAVs with the 16-byte format chunk of PCM. Non-PCM data wants the
// 18-byte one that ends with the size of its extension (0), as sox writes it and warns without it.
// The header is rewritten in place at the same length: the longer format chunk, the fact chunk,
// and what is left of the old header (the peak chunk) as a JUNK chunk that readers skip.
bool extend_float_format_chunk_of(int fd) {
    unsigned char h[512];
    const long long got = read_at(fd, h, sizeof h, 0);
    if (got < 0) return true;
    const size_t n = static_cast<size_t>(got);
    size_t pos = 12, fact = 0, data = 0;
    bool plain_float = false;
    if (n >= 12 && std::memcmp(h, "RIFF", 4) == 0 && std::memcmp(h + 8, "WAVE", 4) == 0) {
        while (pos + 8 <= n) {
            const uint32_t size = le32(h + pos + 4);
            if (std::memcmp(h + pos, "fmt ", 4) == 0) plain_float = size == 16 && pos + 10 <= n && h[pos + 8] == 3 && h[pos + 9] == 0;
            if (std::memcmp(h + pos, "fact", 4) == 0 && size == 4) fact = pos;
            if (std::memcmp(h + pos, "data", 4) == 0) {
                data = pos;
                break;
            }
            pos += 8 + size + (size & 1);
        }
    }
    // Anything else (another layout, no room for the padding chunk) stays as libsndfile wrote it.
    const size_t needed = 12 + 26 + 12 + 8;
    if (!plain_float || fact == 0 || data < needed || (data - needed) % 2 != 0 || std::memcmp(h + 12, "fmt ", 4) != 0)
        return true;
    unsigned char out[512];
    std::memcpy(out, h, 12);
    std::memcpy(out + 12, "fmt ", 4);
    put32(out + 16, 18);
    std::memcpy(out + 20, h + 20, 16);
    out[36] = out[37] = 0;
    std::memcpy(out + 38, h + fact, 12);
    std::memcpy(out + 50, "JUNK", 4);
    put32(out + 54, static_cast<uint32_t>(data - needed));
    std::memset(out + 58, 0, data - needed);
    return write_at(fd, out, data, 0);
}

}  // namespace

// The output may be open for writing only; it is opened again for reading and writing. Where that
// cannot be done (a device written in place), the header stays as libsndfile wrote it.
bool extend_float_format_chunk(int out_fd) {
    const int fd = reopen_read_write(out_fd);
    if (fd < 0) return true;
    const bool ok = extend_float_format_chunk_of(fd);
    close_descriptor(fd);
    return ok;
}

namespace {

// The message boxes that report a failure (an "Error" caption, an error or warning icon), each as
// "CAPTION: TEXT (answered BUTTON)" on one line.
std::vector<std::string> error_boxes(const nlohmann::json& user_log) {
    std::vector<std::string> boxes;
    for (const nlohmann::json& e : user_log) {
        if (e.value("kind", "") != "message_box") continue;
        const std::string caption = e.value("caption", ""), icon = e.value("icon", "");
        if (caption != "Error" && icon != "error" && icon != "warning") continue;
        std::string text = e.value("text", "");
        std::replace(text.begin(), text.end(), '\n', ' ');
        const nlohmann::json& answer = e.contains("answer") ? e["answer"] : nlohmann::json();
        boxes.push_back(caption + ": " + text + (answer.is_string() ? " (answered " + answer.get<std::string>() + ")" : ""));
    }
    return boxes;
}

}  // namespace

int wav_container_for(uint64_t data_bytes) {
    // RIFF sizes are 32 bits; libsndfile's header with its fact and peak chunks stays well
    // inside the margin.
    constexpr uint64_t kRiffLimit = 0xFFFFFFFFull - 4096;
    return data_bytes > kRiffLimit ? SF_FORMAT_RF64 : SF_FORMAT_WAV;
}

namespace {

struct MidiOut {
    Instance* inst;
    int audio_pin;
    std::string file;
};

// Every MIDI output of the patch as INSTANCE.PIN, for the error that names a wrong one.
std::string midi_output_names(const Host& host) {
    std::string names;
    for (const auto& inst : host.instances())
        for (const auto& pin : inst->pins())
            if (pin.datatype == DT_MIDI && pin.direction == DR_OUT)
                names += (names.empty() ? "" : ", ") + inst->name() + "." + pin.name;
    return names.empty() ? "the patch has none" : "MIDI outputs: " + names;
}

// "--midi-out INSTANCE.PIN=FILE.mid": a MIDI output of the patch, kept to be written at the end.
bool read_midi_outs(PatchRun& run, const std::vector<std::string>& args, std::vector<MidiOut>* outs, std::string* error) {
    for (const std::string& arg : args) {
        const size_t eq = arg.find('=');
        const size_t dot = arg.find('.');
        if (eq == std::string::npos || dot == std::string::npos || dot > eq) {
            *error = "--midi-out " + arg + ": expected INSTANCE.PIN=FILE.mid";
            return false;
        }
        Instance* inst = run.host().find(arg.substr(0, dot));
        if (!inst) {
            *error = "--midi-out " + arg + ": " + run.host().unknown_instance(arg.substr(0, dot));
            return false;
        }
        const int pin = inst->find_pin(arg.substr(dot + 1, eq - dot - 1));
        if (pin < 0 || inst->pins()[pin].datatype != DT_MIDI || inst->pins()[pin].direction != DR_OUT) {
            *error = "--midi-out " + arg + ": \"" + arg.substr(dot + 1, eq - dot - 1) + "\" is not a MIDI output (" +
                     midi_output_names(run.host()) + ")";
            return false;
        }
        outs->push_back({inst, inst->gui_to_audio(pin), arg.substr(eq + 1)});
    }
    return true;
}

// The folder --panels names, or the first of the folders it must make, can be made: tried by
// making (and removing) it, since only the file system knows (/proc takes no new folder).
bool check_panel_folder(const std::string& dir, std::string* error) {
    std::error_code ec;
    fs::path p = fs::absolute(dir, ec).lexically_normal();
    if (fs::exists(p, ec)) {
        if (fs::is_directory(p, ec)) return true;
        *error = "--panels " + dir + ": is not a folder";
        return false;
    }
    while (p.has_parent_path() && p != p.parent_path() && !fs::exists(p.parent_path(), ec)) p = p.parent_path();
    if (!fs::create_directory(p, ec)) {
        *error = "--panels " + dir + ": cannot make the folder " + p.string() + ": " + ec.message();
        return false;
    }
    fs::remove(p, ec);
    return true;
}

// Every output of the render, checked against each other and every file the run reads before
// the render starts. Writing the patch back over itself (--save-patch) is a save, and is allowed.
bool plan_outputs(const RenderOptions& opt, PatchRun& run, const std::vector<MidiOut>& midi_outs, mvp::OutputSet* outs,
                  std::string* error) {
    for (const auto& [path, role] : run.files_read()) outs->add_input(path, role);
    outs->add_input(opt.input, "the sound being played");
    if (opt.output != "-") outs->add_output(opt.output, "-o");
    outs->add_output(opt.user_log, "--user-log");
    outs->add_output(opt.save_patch, "--save-patch", opt.patch);
    for (const MidiOut& m : midi_outs) outs->add_output(m.file, "--midi-out");
    if (!opt.panels_dir.empty()) {
        if (!check_panel_folder(opt.panels_dir, error)) return false;
        std::error_code ec;
        if (fs::is_directory(opt.panels_dir, ec))
            for (const auto& inst : run.host().instances())
                if (inst->gui()) outs->add_output((fs::path(opt.panels_dir) / (inst->name() + ".png")).string(), "--panels");
    }
    return outs->check(error);
}

}  // namespace

bool sound_format_for(const std::string& path, const std::string& sample_format, bool format_given, int channels,
                      uint64_t frames, int* format, std::string* error) {
    // The containers a user names by extension, each with the sample formats it can hold, best
    // first; libsndfile decides which of them it can write here (sf_format_check).
    struct Container {
        const char* ext;
        int major;
        std::vector<int> codecs;  // for containers that hold no plain samples
    };
    static const Container kContainers[] = {
        {"wav", SF_FORMAT_WAV, {}},   {"rf64", SF_FORMAT_RF64, {}}, {"w64", SF_FORMAT_W64, {}},
        {"aiff", SF_FORMAT_AIFF, {}}, {"aif", SF_FORMAT_AIFF, {}},  {"caf", SF_FORMAT_CAF, {}},
        {"au", SF_FORMAT_AU, {}},     {"flac", SF_FORMAT_FLAC, {}}, {"ogg", SF_FORMAT_OGG, {SF_FORMAT_VORBIS}},
        {"oga", SF_FORMAT_OGG, {SF_FORMAT_VORBIS}}, {"opus", SF_FORMAT_OGG, {SF_FORMAT_OPUS}},
        {"mp3", SF_FORMAT_MPEG, {SF_FORMAT_MPEG_LAYER_III}},
    };
    std::string ext = fs::path(path).extension().string();
    if (!ext.empty()) ext = ext.substr(1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    // Standard output and names without an extension (/dev/null) get a WAV.
    if (path == "-" || ext.empty()) ext = "wav";
    const int wanted = sample_format == "pcm16" ? SF_FORMAT_PCM_16 : sample_format == "pcm24" ? SF_FORMAT_PCM_24 : SF_FORMAT_FLOAT;
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = channels;
    // The first of `subtypes` libsndfile writes in `major`, or 0.
    auto first_writable = [&](int major, const std::vector<int>& subtypes) {
        for (int sub : subtypes) {
            info.format = major | sub;
            if (sf_format_check(&info)) return info.format;
        }
        return 0;
    };
    std::string writable;
    for (const Container& c : kContainers) {
        int major = c.major;
        if (major == SF_FORMAT_WAV) {
            const uint64_t bytes = wanted == SF_FORMAT_PCM_16 ? 2 : wanted == SF_FORMAT_PCM_24 ? 3 : 4;
            major = wav_container_for(frames * static_cast<uint64_t>(channels) * bytes);
        }
        // A container without float samples (FLAC) takes the finest it has, unless the command
        // line asked for float.
        const std::vector<int> any = c.codecs.empty() ? std::vector<int>{wanted, SF_FORMAT_PCM_24, SF_FORMAT_PCM_16} : c.codecs;
        const std::vector<int> allowed = c.codecs.empty() && format_given ? std::vector<int>{wanted} : any;
        if (first_writable(major, any)) writable += std::string(writable.empty() ? "" : ", ") + "." + c.ext;
        if (ext != c.ext) continue;
        const int found = first_writable(major, allowed);
        if (!found) {
            *error = path + (first_writable(major, any) ? ": libsndfile cannot write ." + ext + " with " + sample_format +
                                                              " samples; choose another --format"
                                                        : ": libsndfile here cannot write ." + ext + " files");
            return false;
        }
        *format = found;
        return true;
    }
    *error = path + ": cannot write a ." + ext + " file (the extension names the format: " + writable + ")";
    return false;
}

namespace {

// The render's sound file: libsndfile writing through an output file that replaces the old one
// only when the whole render is in it, or through an unnamed spool that goes to standard output at
// the end ("-": a WAV needs its header patched once the length is known). Frames are written in
// batches: one write per block would cost a system call every few dozen samples, more than a small
// patch's whole processing.
class WavWriter {
public:
    bool open(mvp::OutputSet& outs, const std::string& path, int format, float rate, int channels, std::string* error) {
        m_path = path == "-" ? "standard output" : path;
        m_channels = channels;
        if (path == "-") {
            m_spool = std::tmpfile();
            if (!m_spool) {
                *error = "-o -: cannot make a temporary file for standard output: " + std::string(std::strerror(errno));
                return false;
            }
        } else if (!(m_file = outs.open_streamed(path, mvp::OutputFile::Access::Seekable, error))) {
            return false;
        }
        SF_INFO info{};
        info.samplerate = static_cast<int>(rate);
        info.channels = channels;
        info.format = format;
        m_float_format = info.format == (SF_FORMAT_WAV | SF_FORMAT_FLOAT);
        m_snd = sf_open_fd(fd(), SFM_WRITE, &info, SF_FALSE);
        if (!m_snd) {
            *error = m_path + ": cannot write the sound file: " + sf_strerror(nullptr);
            return false;
        }
        m_batch.reserve(kBatchFrames * static_cast<size_t>(channels));
        return true;
    }
    ~WavWriter() {
        if (m_snd) sf_close(m_snd);
        if (m_spool) std::fclose(m_spool);
    }

    void add(float x) {
        m_batch.push_back(x);
        if (m_batch.size() >= kBatchFrames * static_cast<size_t>(m_channels)) flush();
    }
    // Once the render is over: the last batch and the header. A file goes in place with the
    // render's other outputs; standard output has its spool now.
    bool finish(std::string* error) {
        flush();
        bool ok = m_write_ok;
        if (sf_close(m_snd) != 0) ok = false;
        m_snd = nullptr;
        if (ok && m_float_format) ok = extend_float_format_chunk(fd());
        if (!ok) {
            *error = m_path + ": cannot write the sound file";
            return false;
        }
        if (m_spool) return copy_spool_to_stdout(error);
        return true;
    }

private:
    static constexpr size_t kBatchFrames = 16384;
    void flush() {
        const auto frames = static_cast<sf_count_t>(m_batch.size() / static_cast<size_t>(m_channels));
        if (m_snd && frames > 0 && sf_writef_float(m_snd, m_batch.data(), frames) != frames) m_write_ok = false;
        m_batch.clear();
    }

    int fd() const { return m_spool ? fileno(m_spool) : m_file->fd(); }
    bool copy_spool_to_stdout(std::string* error) {
        char buf[65536];
        int64_t at = 0;
        set_binary(STDOUT_FILENO);
        for (;;) {
            const long long n = read_at(fileno(m_spool), buf, sizeof buf, at);
            if (n == 0) return true;
            if (n < 0) break;
            at += n;
            for (long long done = 0; done < n;) {
                const ssize_t w = ::write(STDOUT_FILENO, buf + done, static_cast<size_t>(n - done));
                if (w < 0 && errno == EINTR) continue;
                if (w <= 0) {
                    *error = "standard output: " + std::string(std::strerror(errno));
                    return false;
                }
                done += w;
            }
        }
        *error = "standard output: cannot read back the spooled sound";
        return false;
    }

    std::string m_path;
    std::FILE* m_spool = nullptr;
    mvp::OutputFile* m_file = nullptr;  // owned by the render's OutputSet
    SNDFILE* m_snd = nullptr;
    int m_channels = 0;
    bool m_float_format = false;
    bool m_write_ok = true;
    std::vector<float> m_batch;
};

// What the summary line says about the samples.
struct SignalStats {
    float peak = 0.0f;
    long clipped = 0, non_finite = 0;
    void add(float x) {
        const float a = std::fabs(x);
        if (!std::isfinite(a)) ++non_finite;
        else if (a > peak) peak = a;
        if (a > 1.0f && std::isfinite(a)) ++clipped;
    }
};

// On a terminal, a bar for renders that take more than a second; each reported line first
// clears it.
class ProgressBar {
public:
    ProgressBar(std::ostream& err, bool enabled) : m_err(err), m_enabled(enabled) {}
    // The render's start, from which the bar waits its second and the summary counts.
    void start() { m_t0 = m_last = std::chrono::steady_clock::now(); }
    double seconds() const { return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_t0).count(); }
    void draw(int clock, int total, float rate) {
        const auto now = std::chrono::steady_clock::now();
        if (!m_enabled || now - m_t0 <= std::chrono::seconds(1) || now - m_last <= std::chrono::milliseconds(100)) return;
        m_last = now;
        m_drawn = true;
        const double done = static_cast<double>(clock) / std::max(1, total);
        const int width = 40, fill = static_cast<int>(done * width);
        m_err << "\r[" << std::string(fill, '#') << std::string(width - fill, '.') << "] " << static_cast<int>(done * 100) << "% "
              << std::fixed;
        m_err.precision(1);
        m_err << clock / rate << " s / " << total / rate << " s" << std::flush;
    }
    void clear() {
        if (m_drawn) m_err << "\r" << std::string(70, ' ') << "\r";
    }

private:
    std::ostream& m_err;
    bool m_enabled;
    bool m_drawn = false;
    std::chrono::steady_clock::time_point m_t0, m_last;
};

void put_midi_outs(const std::vector<MidiOut>& midi_outs, float rate, const std::vector<TempoPoint>& tempo, mvp::OutputSet& outs) {
    for (const MidiOut& m : midi_outs) {
        std::vector<MidiRecord> events;
        for (const MidiRecord& r : m.inst->midi_log)
            if (r.pin == m.audio_pin) events.push_back(r);
        outs.put(m.file, encode_midi_file(events, rate, tempo));
    }
}

std::string summary_line(const RenderOptions& opt, double seconds, double elapsed, const SignalStats& stats) {
    char line[256];
    std::snprintf(line, sizeof line,
                  "%s: %.2f s rendered in %.2f s (%.1fx real time), peak %.3f (%.1f dBFS), %ld clipped samples, "
                  "%ld NaN or infinite samples",
                  opt.output.empty() ? opt.patch.c_str() : opt.output == "-" ? "standard output" : opt.output.c_str(), seconds, elapsed,
                  elapsed > 0 ? seconds / elapsed : 0.0, stats.peak, stats.peak > 0 ? 20.0 * std::log10(stats.peak) : -INFINITY,
                  stats.clipped, stats.non_finite);
    return line;
}

// A sound file read whole, one vector per channel, for the patch's audio_in instances.
struct InputSound {
    int rate = 0, channels = 0;
    int64_t frames = 0;
    std::vector<std::vector<float>> samples;
};

bool read_input_sound(const std::string& path, InputSound* sound, std::string* error) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f) {
        *error = path + ": cannot read the sound file: " + sf_strerror(nullptr);
        return false;
    }
    // The host's clock counts 32-bit samples; a day of sound at 48 kHz is far below it.
    if (info.frames <= 0 || info.frames > (int64_t{1} << 31) - 1 || info.channels < 1 || info.samplerate < 1000 ||
        info.samplerate > 768000) {
        sf_close(f);
        *error = path + ": no sound to play (" + std::to_string(info.frames) + " frames at " +
                 std::to_string(info.samplerate) + " Hz)";
        return false;
    }
    std::vector<float> interleaved(static_cast<size_t>(info.frames) * static_cast<size_t>(info.channels));
    const sf_count_t got = sf_readf_float(f, interleaved.data(), info.frames);
    sf_close(f);
    if (got != info.frames) {
        *error = path + ": the sound file ends early";
        return false;
    }
    sound->rate = info.samplerate;
    sound->channels = info.channels;
    sound->frames = info.frames;
    sound->samples.assign(static_cast<size_t>(info.channels), std::vector<float>(static_cast<size_t>(info.frames)));
    for (int64_t k = 0; k < info.frames; ++k)
        for (int c = 0; c < info.channels; ++c)
            sound->samples[static_cast<size_t>(c)][static_cast<size_t>(k)] = interleaved[static_cast<size_t>(k * info.channels + c)];
    return true;
}

}  // namespace

// The longest tail an automatic length plays after the last event.
constexpr int kMaxTailSeconds = 60;

namespace {

int render_patch(const RenderOptions& opt, std::ostream& err) {
    const std::string prefix = "mvhost " + opt.command + ": ";
    auto fail = [&](const std::string& msg) {
        err << prefix << msg << "\n";
        return 2;
    };
    ProgressBar bar(err, isatty(STDERR_FILENO) && !opt.quiet);
    // Message boxes nobody answered, user script problems and banks that gave nothing, each on
    // its own line as it happens, and each counted for --strict.
    long boxes = 0, script_problems = 0, banks = 0;
    auto say = [&](const std::string& line) {
        bar.clear();
        err << prefix << line << "\n";
    };
    auto report = [&](const std::string& line) {
        say(line);
        ++(line.rfind("unanswered message box", 0) == 0 ? boxes : script_problems);
    };
    InputSound input;
    std::string error;
    if (!opt.input.empty() && !read_input_sound(opt.input, &input, &error)) return fail(error);
    Engine::Options engine_options;
    engine_options.plugin_dirs = opt.plugin_dirs;
    for (const std::string& d : default_plugin_dirs()) engine_options.plugin_dirs.push_back(d);
    engine_options.overrides = opt.overrides;
    engine_options.report = report;
    if (!opt.input.empty()) {
        // The sound sets the rate and the length, as an effect in a plug-in host has them.
        engine_options.sample_rate = input.rate;
        engine_options.overrides.seconds = static_cast<double>(input.frames) / input.rate;
    }
    std::unique_ptr<Engine> engine;
    try {
        engine = opt.document.is_null() ? Engine::from_file(opt.patch, engine_options)
                                        : Engine::from_document(opt.document, opt.patch, ".", engine_options);
    } catch (const PatchError& e) {
        return fail(e.what());
    }
    PatchRun* run = &engine->patch();
    for (const std::string& line : run->bank_problems()) {
        say(line);
        ++banks;
    }
    if (run->outputs().empty() && !opt.output.empty())
        return fail(opt.patch + ": output.channels: the patch names no outputs for the WAV file");
    if (!opt.input.empty() && !opt.output.empty() && mvp::same_file(opt.output, opt.input))
        return fail(opt.output + ": is the sound being played; choose another output");
    if (!opt.input.empty() && engine->inputs().empty())
        return fail(opt.patch + ": the patch has no audio_in instance to play " + opt.input + " into");
    std::vector<MidiOut> midi_outs;
    if (!read_midi_outs(*run, opt.midi_out, &midi_outs, &error)) return fail(error);
    // The outputs are planned before any work and go in place together at the end; what fails
    // first leaves none of them (the sound file's temporary file is removed with the set).
    mvp::OutputSet outs;
    if (!plan_outputs(opt, *run, midi_outs, &outs, &error)) return fail(error);

    const float rate = run->host().config().sample_rate;
    const int channels = static_cast<int>(run->outputs().size());
    const int total = opt.input.empty() ? run->total_samples() : static_cast<int>(input.frames);
    std::unique_ptr<WavWriter> wav;
    if (!opt.output.empty()) {
        wav = std::make_unique<WavWriter>();
        const bool given = !opt.format.empty() || opt.pcm16;
        const std::string format = !opt.format.empty() ? opt.format : opt.pcm16 ? "pcm16" : run->output_format();
        int sf_format = 0;
        const uint64_t longest = static_cast<uint64_t>(total) + (run->auto_duration() ? static_cast<uint64_t>(kMaxTailSeconds * rate) : 0);
        if (!sound_format_for(opt.output, format, given, channels, longest, &sf_format, &error) ||
            !wav->open(outs, opt.output, sf_format, rate, channels, &error))
            return fail(error);
    }

    SignalStats stats;
    int64_t rendered = 0;
    bool tail_cut = false;
    bar.start();
    auto sink = [&](const std::vector<float*>& bufs, int n) {
        for (int k = 0; k < n; ++k)
            for (int c = 0; c < channels; ++c) {
                const float x = bufs[c] ? bufs[c][k] : 0.0f;
                if (wav) wav->add(x);
                stats.add(x);
            }
        bar.draw(run->host().sample_clock(), total, rate);
    };
    try {
        const int block = engine->block_size();
        std::vector<std::vector<float>> blocks(static_cast<size_t>(channels), std::vector<float>(static_cast<size_t>(block)));
        std::vector<float*> bufs;
        for (auto& b : blocks) bufs.push_back(b.data());
        // Each audio_in channel takes the sound's channel of the same number (a mono sound: its one).
        std::vector<const float*> ins(engine->inputs().size(), nullptr);
        for (int clock = 0; clock < total;) {
            for (size_t c = 0; c < ins.size() && input.channels > 0; ++c)
                ins[c] = input.samples[std::min<size_t>(c, input.samples.size() - 1)].data() + clock;
            const int n = engine->run(std::min(block, total - clock), ins.empty() ? nullptr : ins.data(), bufs.data());
            if (n <= 0) break;
            sink(bufs, n);
            clock += n;
        }
        rendered = total;
        // "auto": past the last event the sound plays on until a tenth of a second of it stays
        // below -90 dB (a release, an echo), for at most kMaxTail.
        if (run->auto_duration()) {
            constexpr float kQuiet = 3.1622777e-5f;  // -90 dBFS
            const int64_t window = std::max<int64_t>(1, static_cast<int64_t>(rate / 10));
            const int64_t limit = std::min<int64_t>(INT32_MAX, total + static_cast<int64_t>(kMaxTailSeconds * rate));
            int64_t quiet = 0;
            while (quiet < window && rendered < limit) {
                const int n = engine->run(static_cast<int>(std::min<int64_t>(block, limit - rendered)), nullptr, bufs.data());
                if (n <= 0) break;
                sink(bufs, n);
                rendered += n;
                for (int k = 0; k < n; ++k) {
                    bool loud = false;
                    for (int c = 0; c < channels; ++c) loud = loud || !(std::fabs(bufs[c][k]) < kQuiet);
                    quiet = loud ? 0 : quiet + 1;
                }
            }
            tail_cut = quiet < window;
        }
    } catch (const std::exception& e) {
        return fail(std::string("render failed: ") + e.what());
    }
    bar.clear();
    if (wav && !wav->finish(&error)) return fail(error);
    wav.reset();
    put_midi_outs(midi_outs, rate, run->tempo_changes(), outs);
    std::vector<std::string> panel_lines;
    if (!opt.panels_dir.empty()) {
        std::error_code ec;
        fs::create_directories(opt.panels_dir, ec);
        if (!paint_panels(*run, opt.panels_dir, outs, &panel_lines, &error)) return fail(error);
    }

    if (!opt.quiet)
        for (const std::string& n : run->silence_notes()) err << prefix << "note: " << n << "\n";
    if (tail_cut && !opt.quiet)
        err << prefix << "note: the sound had not fallen below -90 dB " << kMaxTailSeconds
            << " s after the last event; the render stops there\n";
    if (!opt.save_patch.empty())
        outs.put(opt.save_patch, run->stored_patch(fs::path(opt.save_patch).parent_path().string()).dump(2) + "\n");
    // What modules ask as they close (a question about unsaved changes) belongs in the log.
    engine->close();
    // The files the patch's script had modules write are no output of the command, and written
    // whatever becomes of those: each is named, even under -q.
    for (const std::string& line : run->user_saves()) err << prefix << line << "\n";
    if (!opt.user_log.empty()) outs.put(opt.user_log, run->user_log().dump(2) + "\n");
    if (!outs.commit(&error)) return fail(error);
    for (const std::string& line : panel_lines) err << line << "\n";

    // -q leaves only what went wrong: the lines above, the module errors and a --strict failure.
    if (!opt.quiet)
        err << summary_line(opt, static_cast<double>(rendered) / rate, bar.seconds(), stats)
            << (stats.peak == 0.0f && stats.non_finite == 0 ? ": the output is silent" : "") << "\n";
    // A module that could not do its work says so in a box, which a render may answer by default
    // or by script; either way the user reads it here, where the render's result is.
    for (const std::string& box : error_boxes(run->user_log())) err << prefix << "module error: " << box << "\n";
    if (opt.strict && boxes + script_problems + banks > 0) {
        std::string counted;
        auto count = [&](long n, const char* one, const char* many) {
            if (n == 0) return;
            counted += (counted.empty() ? "" : ", ") + std::to_string(n) + " " + (n == 1 ? one : many);
        };
        count(boxes, "unanswered message box", "unanswered message boxes");
        count(script_problems, "user script problem", "user script problems");
        count(banks, "bank that loaded nothing", "banks that loaded nothing");
        err << prefix << "--strict: failed for " << counted << "\n";
        return 1;
    }
    return 0;
}

}  // namespace

int cmd_render(const RenderOptions& opt, std::ostream& err) {
    return run_guarded("mvhost " + opt.command, opt.patch, err, [&] { return render_patch(opt, err); });
}

void register_render(CLI::App& app, int& status) {
    auto opt = std::make_shared<RenderOptions>();
    auto* cmd = app.add_subcommand("render", "Render a patch to a sound file");
    cmd->add_option("patch", opt->patch, "Patch file (.json); - reads it from standard input")->required();
    cmd->add_option("-o,--output", opt->output,
                    "Sound file to write, its format from the extension (.wav, .flac, .ogg, .aiff, ...); - writes a WAV to standard output")
        ->required();
    cmd->add_option("--format", opt->format, "Sample format (default: the patch's, else float)")
        ->check(CLI::IsMember({"float", "pcm16", "pcm24"}));
    cmd->add_flag("--pcm16", opt->pcm16, "The same as --format pcm16");
    // Options that may be given again take one value each time, so that none of them swallows the
    // patch's path.
    cmd->add_option("--set", opt->overrides.set, "Set a pin: INSTANCE.PIN=VALUE (repeatable)")->allow_extra_args(false);
    cmd->add_option("--midi", opt->overrides.midi,
                    "Play a MIDI file into the first midi_source, or INSTANCE=FILE.mid (repeatable)")
        ->allow_extra_args(false);
    cmd->add_option("--rate", opt->overrides.sample_rate, "Sample rate instead of the patch's")->check(CLI::Range(1000, 768000));
    cmd->add_option("--block", opt->overrides.block_size, "Block size instead of the patch's")->check(CLI::Range(1, 8192));
    cmd->add_option_function<std::string>(
           "--seconds",
           [opt](const std::string& v) {
               if (v == "auto") {
                   opt->overrides.auto_duration = true;
                   return;
               }
               double s = -1;
               auto r = std::from_chars(v.data(), v.data() + v.size(), s);
               if (r.ec != std::errc() || r.ptr != v.data() + v.size() || !(s >= 0 && s <= 3600))
                   throw CLI::ValidationError("--seconds", "\"" + v + "\" is not a number of seconds from 0 to 3600, nor auto");
               opt->overrides.seconds = s;
           },
           "Seconds to render instead of the patch's duration; auto: to the last event or note, then until the sound falls below -90 dB")
        ->type_name("S|auto");
    cmd->add_option("--save-patch", opt->save_patch, "Write the patch back with its stored values");
    cmd->add_option("--midi-out", opt->midi_out, "Write a MIDI output to a MIDI file: INSTANCE.PIN=FILE.mid")->allow_extra_args(false);
    cmd->add_option("--plugins", opt->plugin_dirs, "Further folders to search for modules")->allow_extra_args(false);
    cmd->add_flag("--user-saves-anywhere", opt->overrides.user_saves_anywhere,
                  "Let the patch's user script save files outside the patch's folder");
    cmd->add_option("--user-log", opt->user_log, "Write what the scripted user was asked (JSON)");
    cmd->add_option("--panels", opt->panels_dir, "Paint every GUI panel at the end into DIR/INSTANCE.png");
    cmd->add_flag("-q,--quiet", opt->quiet, "No progress bar, notes or summary: only warnings and errors");
    cmd->add_flag("--strict", opt->strict,
                  "Exit status 1 when a message box went unanswered or the user script did not fit");
    cmd->callback([opt, &status] {
        // Clears a progress bar first, so the line stands alone.
        const bool bar = isatty(STDERR_FILENO) && !opt->quiet;
        mvp::remove_temporaries_on_interrupt((bar ? "\r" + std::string(70, ' ') + "\r" : std::string()) +
                                             "mvhost render: interrupted");
        status = cmd_render(*opt, std::cerr);
    });
}

}  // namespace mvh
