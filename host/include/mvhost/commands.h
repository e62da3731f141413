// The mvhost subcommands as functions, so tests can run them without a process. Each
// register_* adds its subcommand to the command line; its callback sets `status`.
#pragma once

#include <ostream>
#include <string>

namespace CLI {
class App;
}

namespace mvh {

// Prints what a module browser shows. Exit status 0, or 2 with one line on err.
int cmd_describe(const std::string& path, std::ostream& out, std::ostream& err);

void register_describe(CLI::App& app, int& status);
void register_validate(CLI::App& app, int& status);
void register_render(CLI::App& app, int& status);
void register_panel(CLI::App& app, int& status);
// Only in builds with GTK 3 and JACK (MV_HAVE_PLAY).
void register_play(CLI::App& app, int& status);

}  // namespace mvh
