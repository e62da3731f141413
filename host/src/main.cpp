// mvhost: the command line of the reference host. Each subcommand registers itself.
#include <CLI/CLI.hpp>

#include "mvhost/commands.h"

int main(int argc, char** argv) {
    CLI::App app{"mvhost: the reference host for Morvane plug-in modules"};
    app.require_subcommand(1);
    int status = 0;
    mvh::register_describe(app, status);
    mvh::register_render(app, status);
    mvh::register_panel(app, status);
    mvh::register_validate(app, status);
#ifdef MV_HAVE_PLAY
    mvh::register_play(app, status);
#endif
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int rc = app.exit(e);
        return rc == 0 ? 0 : 2;
    }
    return status;
}
