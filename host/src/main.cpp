// mvhost: the command line of the reference host. Each subcommand registers itself.
#include <CLI/CLI.hpp>
#include <cstring>
#include <iostream>

#include "mvhost/commands.h"

#ifndef MVHOST_VERSION
#define MVHOST_VERSION "unknown"
#endif

namespace {

std::string subcommand_names(const CLI::App& app) {
    std::string names;
    for (const CLI::App* sub : app.get_subcommands({}))
        names += (names.empty() ? "" : ", ") + sub->get_name();
    return names;
}

// A short usage for a bare `mvhost` and for a misspelt subcommand: the real ones, each with its
// one-line description.
void print_subcommands(const CLI::App& app, std::ostream& out) {
    out << "Subcommands:\n";
    for (const CLI::App* sub : app.get_subcommands({})) {
        std::string name = sub->get_name();
        name.resize(std::max<size_t>(name.size() + 2, 12), ' ');
        out << "  " << name << sub->get_description() << "\n";
    }
    out << "`mvhost help SUBCOMMAND` shows a subcommand's options.\n";
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"mvhost: the reference host for Morvane plug-in modules"};
    app.name("mvhost");
    app.set_version_flag("--version", std::string("mvhost ") + MVHOST_VERSION);
    int status = 0;
    mvh::register_describe(app, status);
    mvh::register_list(app, status);
    mvh::register_render(app, status);
    mvh::register_apply(app, status);
    mvh::register_panel(app, status);
    mvh::register_validate(app, status);
#ifdef MV_HAVE_PLAY
    mvh::register_play(app, status);
#endif
#ifdef MV_HAVE_LV2
    mvh::register_export_lv2(app, status);
#endif

    // `help [SUBCOMMAND]` is answered here, so that it names every registered subcommand.
    std::string help_topic;
    auto* help = app.add_subcommand("help", "Show the subcommands, or one subcommand's options");
    help->add_option("subcommand", help_topic, "Subcommand to explain");
    help->callback([&] {
        if (help_topic.empty()) {
            std::cout << app.get_description() << "\nUsage: mvhost SUBCOMMAND [OPTIONS] [ARGUMENTS]\n"
                      << "       mvhost --version\n\n";
            print_subcommands(app, std::cout);
            return;
        }
        for (CLI::App* sub : app.get_subcommands({}))
            if (sub->get_name() == help_topic && sub != help) {
                std::cout << sub->help(app.get_name());  // the usage line `render --help` prints
                return;
            }
        std::cerr << "mvhost help: unknown subcommand \"" << help_topic << "\" (subcommands: " << subcommand_names(app)
                  << ")\n";
        status = 2;
    });

    if (argc < 2) {
        std::cerr << "mvhost: a subcommand is required\n";
        print_subcommands(app, std::cerr);
        return 2;
    }
    // A first word that is no option and no subcommand is a misspelt subcommand; CLI11 would only
    // say that a subcommand is required.
    if (argv[1][0] != '-') {
        bool known = false;
        for (const CLI::App* sub : app.get_subcommands({})) known = known || sub->get_name() == argv[1];
        if (!known) {
            std::cerr << "mvhost: unknown subcommand \"" << argv[1] << "\"\n";
            print_subcommands(app, std::cerr);
            return 2;
        }
    }
    app.require_subcommand(1);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) return app.exit(e);  // --help, --version
        // One style for every error: the tool and the subcommand, then what is wrong.
        const std::string sub = argv[1][0] != '-' ? std::string(" ") + argv[1] : "";
        std::cerr << "mvhost" << sub << ": " << e.what() << "\n";
        if (!sub.empty()) std::cerr << "`mvhost help" << sub << "` shows its options.\n";
        return 2;
    }
    return status;
}
