// mvhost: the command line of the reference host.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>

#include "mvhost/commands.h"

int main(int argc, char** argv) {
    CLI::App app{"mvhost: the reference host for Morvane plug-in modules"};
    app.require_subcommand(1);

    std::string describe_path;
    auto* describe = app.add_subcommand("describe", "Print a plug-in's description and pins");
    describe->add_option("plugin", describe_path, "Path of the plug-in (.so)")->required();

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int rc = app.exit(e);
        return rc == 0 ? 0 : 2;
    }
    if (*describe) return mvh::cmd_describe(describe_path, std::cout, std::cerr);
    return 2;
}
