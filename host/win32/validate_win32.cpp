// `mvhost validate` is not part of the Windows build: its checks run each plug-in in child
// processes (fork), read ELF symbol tables and interpose the allocator, none of which exist there.
#include <CLI/CLI.hpp>
#include <iostream>

#include "mvhost/commands.h"

namespace mvh {

void register_validate(CLI::App& app, int& status) {
    auto* cmd = app.add_subcommand("validate", "Not in the Windows build: run the Linux build's mvhost validate");
    cmd->allow_extras();
    cmd->callback([&status] {
        std::cerr << "mvhost validate: not available in the Windows build (it needs fork and ELF plug-ins); "
                     "validate the Linux build of the same sources\n";
        status = 2;
    });
}

}  // namespace mvh
