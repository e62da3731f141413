// The mvhost subcommands as functions, so tests can run them without a process. Each
// register_* adds its subcommand to the command line; its callback sets `status`.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace mvh {

struct DescribeOptions {
    std::string module;  // a module name looked up in the search folders, or a path to a .so
    bool json = false;
    std::vector<std::string> plugin_dirs;  // searched before the default folders
    bool raw = false;                      // the declared fields only, without what they mean
};

// Prints what a module browser shows. Exit status 0, or 2 with one line on err.
int cmd_describe(const DescribeOptions& options, std::ostream& out, std::ostream& err);
// Every module found (name, display name, identifier, plug-in or built-in). Exit status 0; 1 when
// a module file does not load; 2 when there are none.
int cmd_list(const std::vector<std::string>& extra_dirs, std::ostream& out, std::ostream& err);

// True when a patch's or a command's module text names a file rather than a module.
bool names_module_file(const std::string& module);
// NAME.so (or "builtin:NAME") in the first of the folders that has it; empty when none does.
std::string find_module(const std::string& module, const std::vector<std::string>& dirs);

// Runs a subcommand's body so that nothing escapes it: an exception that no check foresaw ends
// the command with exit status 2 and one line, "COMMAND: INPUT: what went wrong".
int run_guarded(const std::string& command, const std::string& input, std::ostream& err, const std::function<int()>& body);

void register_describe(CLI::App& app, int& status);
void register_list(CLI::App& app, int& status);
void register_validate(CLI::App& app, int& status);
void register_render(CLI::App& app, int& status);
void register_apply(CLI::App& app, int& status);
void register_panel(CLI::App& app, int& status);
// Only in builds with GTK 3 and JACK (MV_HAVE_PLAY).
void register_play(CLI::App& app, int& status);
// Only in builds with the LV2 headers (MV_HAVE_LV2).
void register_export_lv2(CLI::App& app, int& status);

}  // namespace mvh
