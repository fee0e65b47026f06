#include "command_line.h"

#include <cmath>
#include <cstdio>
#include <string>

namespace sidtune {

const char* versionText() { return SIDTUNE_VERSION; }

CLI::Validator positiveSeconds() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            double value = 0;
            const bool number = CLI::detail::lexical_cast(text, value);
            return number && std::isfinite(value) && value > 0 ? "" : "must be a number of seconds above 0";
        },
        "SECONDS > 0");
}

void prepareCommandLine(CLI::App& app, const char* program) {
    app.name(program);
    app.allow_windows_style_options(false);  // a path such as /tmp/x.qb is not an option
    app.set_version_flag("--version", std::string(program) + " " + versionText(),
                         "Print the version and exit");
}

int parseCommandLine(CLI::App& app, int argc, char** argv) {
    const std::string program = app.get_name();
    // A first word that names no subcommand, where there are subcommands, is named as such.
    if (!app.get_subcommands({}).empty() && argc > 1 && argv[1][0] != '-') {
        bool known = false;
        for (const CLI::App* command : app.get_subcommands({})) known |= command->check_name(argv[1]);
        if (!known) {
            std::fprintf(stderr, "%s: unknown command '%s'\nrun with --help\n", program.c_str(), argv[1]);
            return kUsageError;
        }
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::fprintf(stderr, "%s: %s\nrun with --help\n", program.c_str(), e.what());
        return kUsageError;
    }
    return -1;
}

}  // namespace sidtune
