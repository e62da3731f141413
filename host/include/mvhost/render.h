// Rendering patches from the command line.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "mvhost/patch.h"

namespace mvp {
class OutputSet;
}

namespace mvh {

struct RenderOptions {
    std::string patch;
    std::string output;
    bool pcm16 = false;   // the same as format "pcm16"
    std::string format;   // "float", "pcm16" or "pcm24"; empty: the patch's (float by default)
    PatchOverrides overrides;
    std::string save_patch;
    std::vector<std::string> midi_out;
    std::vector<std::string> plugin_dirs;
    std::string user_log;
    std::string panels_dir;
    bool quiet = false;
    bool strict = false;  // unanswered message boxes and user script problems give exit status 1
    // `mvhost apply`: a sound file fed into the patch's audio_in instances, which sets the render's
    // rate and length; and the patch as a document made by the command (patch is then its name).
    std::string input;
    nlohmann::json document;
    std::string command = "render";  // names the subcommand in every line
};

// Exit status 0, or 2 with one message on err (and no output file left behind); 1 with --strict
// when a message box went unanswered or the user script did not fit (the outputs are written).
int cmd_render(const RenderOptions& options, std::ostream& err);

// The libsndfile format a render writes to `path`: the container its extension names (.wav, .flac,
// .ogg, .aiff, ...; a WAV for "-" and for names without one) with `sample_format` ("float", "pcm16",
// "pcm24") where the container holds it; when the format was not given on the command line, a
// container without float samples takes its finest. False with *error naming the extensions it
// writes.
bool sound_format_for(const std::string& path, const std::string& sample_format, bool format_given, int channels,
                      uint64_t frames, int* format, std::string* error);

// Rewrites the header of a float WAV that libsndfile has just closed on `fd` with the 18-byte
// format chunk sox expects, at the same length. False when the rewrite failed.
bool extend_float_format_chunk(int fd);

// SF_FORMAT_WAV, or SF_FORMAT_RF64 when `data_bytes` of samples would take a WAV past 4 GiB.
int wav_container_for(uint64_t data_bytes);

class PatchRun;
// Paints every instance that has a panel, for DIR/NAME.png among `outputs` (written when they
// commit), with one line for each file.
bool paint_panels(PatchRun& run, const std::string& dir, mvp::OutputSet& outputs, std::vector<std::string>* lines,
                  std::string* error);

// build/plugins and build/lib/builtin beside the running mvhost.
std::vector<std::string> default_plugin_dirs();

}  // namespace mvh
