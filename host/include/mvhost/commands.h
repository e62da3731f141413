// The mvhost subcommands as functions, so tests can run them without a process.
#pragma once

#include <ostream>
#include <string>

namespace mvh {

// Prints what a module browser shows. Exit status 0, or 2 with one line on err.
int cmd_describe(const std::string& path, std::ostream& out, std::ostream& err);

}  // namespace mvh
