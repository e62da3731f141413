// Rendering patches from the command line.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "mvhost/patch.h"

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
};

// Exit status 0, or 2 with one message on err (and no output file left behind).
int cmd_render(const RenderOptions& options, std::ostream& err);

class PatchRun;
// Paints every instance that has a panel into DIR/NAME.png, naming each file on err.
bool write_panels(PatchRun& run, const std::string& dir, std::ostream& err, std::string* error);

// build/plugins and build/lib/builtin beside the running mvhost.
std::vector<std::string> default_plugin_dirs();

}  // namespace mvh
