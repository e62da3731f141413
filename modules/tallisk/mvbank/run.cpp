// The three commands: argument checks first, then the input read whole, then the output made in
// memory and written in one go, so that a failure at any step leaves no output file behind.
#include "run.h"

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iomanip>
#include <sstream>

#include "bank_build.h"
#include "bank_file.h"
#include "bank_picture.h"
#include "file_bytes.h"
#include "frame_table.h"
#include "mvp/gdi.h"
#include "mvp/output_file.h"
#include "mvp/float_wav.h"

#ifndef MVBANK_VERSION
#define MVBANK_VERSION "1.0.0"
#endif

namespace mvbank {

namespace {

constexpr size_t kMaxInputBytes = size_t{256} << 20;
constexpr int kDefaultOutputFrame = 2048;

const char kUsage[] =
    "usage: mvbank convert IN OUT [--frame N] [--first W] [--count C]\n"
    "       mvbank info FILE [--frame N]\n"
    "       mvbank picture FILE -o OUT.png [--levels W] [--frame N] [--first W] [--count C]\n"
    "formats by extension: .wb1 (read, write), .wbf (read), .wav and .wt (read, write)\n"
    "--frame N   frame size of a .wav read (else its 'clm ' chunk, else 2048); with any other\n"
    "            input, of the .wav or .wt written (else 2048)\n"
    "--first W, --count C   the frames (from 1) that fill waveforms 1..; more than 64 are thinned\n"
    "            to 64 evenly spaced, first and last kept\n"
    "--levels W  draw the nine band-limited levels of waveform W (1-64)\n";

const char kSeeHelp[] = " (mvbank --help shows the usage)";

// A failure that ends the command: the line to print (without "mvbank: ") and the exit status.
struct Failure {
    std::string line;
    int status = 2;
};

Failure bad(const std::string& path, const std::string& what) { return {path + ": " + what, 2}; }

struct Options {
    std::vector<std::string> files;
    std::string output;  // -o
    int frame = 0;       // --frame, 0 when not given
    int first = 0;       // --first, 1-based, 0 when not given
    int count = 0;       // --count, 0 when not given
    int levels = 0;      // --levels, 1-based, 0 when not given
};

bool parse_number(const std::string& text, int* value) {
    if (text.empty() || text.size() > 9) return false;
    int v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    *value = v;
    return true;
}

// `allowed` lists the options the command takes, e.g. "-o --levels".
bool parse_options(const std::vector<std::string>& args, const std::string& allowed, Options* options,
                   Failure* failure) {
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.size() < 2 || a[0] != '-') {
            options->files.push_back(a);
            continue;
        }
        if ((" " + allowed + " ").find(" " + a + " ") == std::string::npos) {
            *failure = {"'" + args[0] + "' does not take " + a + kSeeHelp, 2};
            return false;
        }
        if (i + 1 >= args.size()) {
            *failure = {a + " needs a value", 2};
            return false;
        }
        const std::string& value = args[++i];
        if (a == "-o") {
            options->output = value;
            continue;
        }
        int n = 0;
        if (!parse_number(value, &n) || n == 0) {
            *failure = {a + ": '" + value + "' is not a whole number from 1 up", 2};
            return false;
        }
        if (a == "--frame") options->frame = n;
        else if (a == "--first") options->first = n;
        else if (a == "--count") options->count = n;
        else if (a == "--levels") options->levels = n;
    }
    return true;
}

std::string stem_of(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.resize(dot);
    return name.empty() ? "Wave" : name;
}

bool read_input(const std::string& path, std::vector<uint8_t>* bytes, Failure* failure) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        *failure = bad(path, std::strerror(errno));
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        *failure = bad(path, "is a folder, not a file");
        return false;
    }
    // A FIFO would hold the command until someone writes it, a device (/dev/zero) never end.
    if (!S_ISREG(st.st_mode)) {
        const char* kind = S_ISFIFO(st.st_mode)                            ? "a FIFO"
                           : S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) ? "a device"
                                                                          : "not a regular file";
        *failure = bad(path, std::string("is ") + kind + "; mvbank reads wavetables from regular files only");
        return false;
    }
    errno = 0;
    auto read = tallisk::read_file_bytes(path, kMaxInputBytes + 1);
    if (!read) {
        // errno is 0 when the file was replaced by something else since the look above.
        *failure = bad(path, std::string("cannot read it: ") +
                                 (errno ? std::strerror(errno) : "it is no longer a regular file"));
        return false;
    }
    if (read->size() > kMaxInputBytes) {
        *failure = bad(path, "larger than 256 MiB, too large for a wavetable");
        return false;
    }
    *bytes = std::move(*read);
    return true;
}

bool load_table(const std::string& path, int wav_frame, FrameTable* table, Failure* failure) {
    const TableFormat format = format_of(path);
    if (format == TableFormat::Unknown) {
        *failure = bad(path, "unknown extension; mvbank reads .wb1, .wbf, .wav and .wt");
        return false;
    }
    std::vector<uint8_t> bytes;
    if (!read_input(path, &bytes, failure)) return false;
    std::string what;
    switch (format) {
    case TableFormat::Wb1:
    case TableFormat::Wbf: what = decode_bank_table(bytes.data(), bytes.size(), table); break;
    case TableFormat::Wav: what = decode_wav_table(bytes.data(), bytes.size(), wav_frame, table); break;
    case TableFormat::Wt: what = decode_wt(bytes.data(), bytes.size(), table); break;
    case TableFormat::Unknown: break;
    }
    if (!what.empty()) {
        *failure = bad(path, what);
        return false;
    }
    return true;
}

bool write_output(const std::string& path, const std::vector<uint8_t>& bytes, Failure* failure) {
    std::string error;
    if (mvp::write_output_file(path, bytes.data(), bytes.size(), &error)) return true;
    *failure = {error, 1};
    return false;
}

// Before any work: the output is not the input (through links) and its folder takes it.
bool refuse_input_as_output(const std::string& in, const std::string& out, Failure* failure) {
    mvp::OutputSet outs;
    outs.add_input(in, "the input file");
    outs.add_output(out);
    std::string error;
    if (outs.check(&error)) return false;
    *failure = {error, 2};
    return true;
}

// Reads `path`, picks its frames and fills a bank; `described` says which frames went where.
bool bank_of(const std::string& path, const Options& options, Bank* bank, std::string* described, Failure* failure) {
    FrameTable table;
    if (!load_table(path, options.frame, &table, failure)) return false;
    std::vector<int> picked;
    std::string what = select_frames(table.frame_count, options.first, options.count, &picked);
    FrameResampler resampler;
    if (what.empty()) what = bank_from_table(table, picked, stem_of(path), resampler, bank);
    if (!what.empty()) {
        *failure = bad(path, what);
        return false;
    }
    const int from = options.first == 0 ? 1 : options.first;
    const int span = options.count == 0 ? table.frame_count - from + 1 : options.count;
    std::ostringstream d;
    d << "frames " << from << "-" << from + span - 1 << " of " << table.frame_count << " (" << table.frame_size
      << " samples each)";
    if (span > tallisk::kWaveCount) d << ", 64 evenly spaced";
    if (picked.size() < size_t{tallisk::kWaveCount}) d << "; waveforms " << picked.size() + 1 << "-64 silent";
    *described = d.str();
    return true;
}

int convert(const std::vector<std::string>& args, std::ostream& out, Failure* failure) {
    Options options;
    if (!parse_options(args, "--frame --first --count", &options, failure)) return failure->status;
    if (options.files.size() != 2) {
        *failure = {std::string("convert takes IN and OUT") + kSeeHelp, 2};
        return 2;
    }
    const std::string& in = options.files[0];
    const std::string& to = options.files[1];
    const TableFormat in_format = format_of(in);
    const TableFormat out_format = format_of(to);
    if (in_format == TableFormat::Unknown) {
        *failure = bad(in, "unknown extension; mvbank reads .wb1, .wbf, .wav and .wt");
        return 2;
    }
    if (out_format == TableFormat::Unknown) {
        *failure = bad(to, "unknown extension; mvbank writes .wb1, .wav and .wt");
        return 2;
    }
    if (out_format == TableFormat::Wbf) {
        *failure = bad(to, ".wbf banks are read only; write a .wb1");
        return 2;
    }
    // --frame is the frame size of a .wav being read; for any other input, of the table written.
    const bool frame_is_input = in_format == TableFormat::Wav;
    const int out_frame = options.frame == 0 || frame_is_input ? kDefaultOutputFrame : options.frame;
    const int max_frame = out_format == TableFormat::Wt ? kMaxWtFrame : kMaxWavFrame;
    if (out_format != TableFormat::Wb1 && (!is_power_of_two(out_frame) || out_frame < kMinFrame || out_frame > max_frame)) {
        *failure = {"--frame " + std::to_string(out_frame) + ": the frames of a " +
                        (out_format == TableFormat::Wt ? std::string(".wt") : std::string(".wav")) +
                        " are a power of 2 from 2 to " + std::to_string(max_frame) + " samples",
                    2};
        return 2;
    }
    if (refuse_input_as_output(in, to, failure)) return 2;

    Bank bank;
    std::string described;
    Options input = options;
    if (!frame_is_input) input.frame = 0;
    if (!bank_of(in, input, &bank, &described, failure)) return failure->status;

    std::vector<uint8_t> bytes;
    if (out_format == TableFormat::Wb1) {
        bytes = tallisk::encode_wb1(bank.waves.data(), bank.names.data());
    } else {
        FrameTable table;
        FrameResampler resampler;
        std::string what = table_from_bank(bank, out_frame, resampler, &table);
        if (what.empty()) {
            if (out_format == TableFormat::Wt) bytes = encode_wt(table);
            else if ((what = encode_wav_table(table, &bytes)).empty() && !mvp::extend_float_format_chunk(&bytes))
                what = "the WAV would pass 4 GiB";
        }
        if (!what.empty()) {
            *failure = bad(to, what);
            return failure->status;
        }
    }
    if (!write_output(to, bytes, failure)) return failure->status;
    out << "wrote " << to << " (" << format_name(out_format);
    if (out_format != TableFormat::Wb1) out << ", 64 frames of " << out_frame << " samples";
    out << ") from " << in << ": " << described << "\n";
    return 0;
}

bool is_silent(const float* x, int n) {
    for (int i = 0; i < n; ++i)
        if (x[i] != 0.0f) return false;
    return true;
}

int info(const std::vector<std::string>& args, std::ostream& out, Failure* failure) {
    Options options;
    if (!parse_options(args, "--frame", &options, failure)) return failure->status;
    if (options.files.size() != 1) {
        *failure = {std::string("info takes one FILE") + kSeeHelp, 2};
        return 2;
    }
    const std::string& path = options.files[0];
    FrameTable table;
    if (!load_table(path, options.frame, &table, failure)) return failure->status;
    const std::string stem = stem_of(path);
    out << path << "\n"
        << "format: " << format_name(format_of(path)) << "\n"
        << "frame size: " << table.frame_size << "\n"
        << "frames: " << table.frame_count << "\n"
        << "    #  name             peak       rms\n";
    for (int k = 0; k < table.frame_count; ++k) {
        const float* x = table.frame(k);
        double peak = 0.0, sum = 0.0;
        for (int i = 0; i < table.frame_size; ++i) {
            peak = std::fmax(peak, std::fabs(static_cast<double>(x[i])));
            sum += static_cast<double>(x[i]) * x[i];
        }
        const std::string name =
            table.names.empty() ? frame_name(stem, k + 1) : table.names[static_cast<size_t>(k)];
        out << std::setw(5) << k + 1 << "  " << std::left << std::setw(15) << name << std::right << std::fixed
            << std::setprecision(6) << std::setw(10) << peak << std::setw(10) << std::sqrt(sum / table.frame_size);
        if (is_silent(x, table.frame_size)) out << "  silent";
        out << "\n";
    }
    return 0;
}

int picture(const std::vector<std::string>& args, std::ostream& out, Failure* failure) {
    Options options;
    if (!parse_options(args, "-o --levels --frame --first --count", &options, failure)) return failure->status;
    if (options.files.size() != 1 || options.output.empty()) {
        *failure = {std::string("picture takes one FILE and -o OUT.png") + kSeeHelp, 2};
        return 2;
    }
    const std::string& in = options.files[0];
    const std::string& to = options.output;
    const size_t dot = to.find_last_of('.');
    std::string ext = dot == std::string::npos ? "" : to.substr(dot);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext != ".png") {
        *failure = bad(to, "a picture is written as .png");
        return 2;
    }
    if (options.levels > tallisk::kWaveCount) {
        *failure = {"--levels " + std::to_string(options.levels) + ": waveforms are numbered 1 to 64", 2};
        return 2;
    }
    if (refuse_input_as_output(in, to, failure)) return 2;
    Bank bank;
    std::string described;
    if (!bank_of(in, options, &bank, &described, failure)) return failure->status;
    mvp::HDC dc = options.levels ? draw_levels(bank, options.levels - 1) : draw_bank(bank);
    std::vector<uint8_t> bytes;
    std::string error;
    const bool encoded = mvp::encode_png(dc, &bytes, &error);
    mvp::delete_panel_dc(dc);
    if (!encoded) {
        *failure = {error, 1};
        return 1;
    }
    if (!write_output(to, bytes, failure)) return failure->status;
    if (options.levels) out << "wrote " << to << ": the nine levels of waveform " << options.levels << " of " << in << "\n";
    else out << "wrote " << to << ": the 64 waveforms of " << in << " (" << described << ")\n";
    return 0;
}

}  // namespace

int run_mvbank(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty()) {
        err << kUsage;
        return 2;
    }
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        out << kUsage;
        return 0;
    }
    if (args[0] == "--version") {
        out << "mvbank " << MVBANK_VERSION << "\n";
        return 0;
    }
    Failure failure;
    int status = 2;
    if (args[0] == "convert") status = convert(args, out, &failure);
    else if (args[0] == "info") status = info(args, out, &failure);
    else if (args[0] == "picture") status = picture(args, out, &failure);
    else failure = {"unknown command '" + args[0] + "'" + kSeeHelp, 2};
    if (status != 0) err << "mvbank: " << failure.line << "\n";
    return status;
}

}  // namespace mvbank
