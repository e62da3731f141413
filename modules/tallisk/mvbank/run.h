// The mvbank command line: convert, info and picture. Bad input (files, options) gives one line on
// `err` naming the file and what is wrong, exit status 2, and no output file.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace mvbank {

// args without the program name; returns the exit status.
int run_mvbank(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace mvbank
