// Placeholder until the validator lands: the subcommand exists and says it is not built yet.
#include <CLI/CLI.hpp>
#include <iostream>

#include "mvhost/commands.h"

namespace mvh {

void register_validate(CLI::App& app, int& status) {
    auto* cmd = app.add_subcommand("validate", "Validate plug-ins (not built yet)");
    cmd->allow_extras();
    cmd->callback([&status] {
        std::cerr << "mvhost validate: not built yet\n";
        status = 2;
    });
}

}  // namespace mvh
