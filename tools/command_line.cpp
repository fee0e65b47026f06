#include "command_line.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace sidtune {
namespace {

// The typing slips between two words: letters left out, added, changed or swapped.
size_t editDistance(const std::string& a, const std::string& b) {
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
    for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        for (size_t j = 1; j <= b.size(); ++j) {
            d[i][j] = std::min(
                {d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[a.size()][b.size()];
}

// Every long option name of a command, "--seconds".
std::vector<std::string> optionNames(const CLI::App* command) {
    std::vector<std::string> names;
    for (const CLI::Option* o : command->get_options()) {
        for (const std::string& n : o->get_lnames()) names.push_back("--" + n);
    }
    return names;
}

std::vector<std::string> commandNames(const CLI::App& app) {
    std::vector<std::string> names;
    for (const CLI::App* c : app.get_subcommands({})) names.push_back(c->get_name());
    return names;
}

// The command the arguments name, or the program itself.
CLI::App* commandOf(CLI::App& app, int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        for (CLI::App* c : app.get_subcommands({})) {
            if (c->check_name(argv[i])) return c;
        }
    }
    return &app;
}

int usageError(const CLI::App& app, const std::string& message) {
    std::fprintf(stderr, "%s: %s\nrun with --help\n", app.get_name().c_str(), message.c_str());
    return kUsageError;
}

// A word that names no command: the nearest one that does.
int unknownCommand(const CLI::App& app, const std::string& word) {
    const std::string guess = nearest(word, commandNames(app));
    return usageError(
        app, "unknown command '" + word + "'" + (guess.empty() ? "" : "; did you mean '" + guess + "'?"));
}

// CLI11's help with its texts wrapped at kHelpWidth: a description in the column beside the
// option's or command's name, the rest across the width.
class WrappingFormatter : public CLI::Formatter {
  public:
    std::string make_option_desc(const CLI::Option* o) const override {
        return wrapLines(CLI::Formatter::make_option_desc(o), kHelpWidth - get_column_width());
    }
    std::string make_subcommand(const CLI::App* sub) const override {
        std::stringstream out;
        CLI::detail::format_help(out, sub->get_display_name(true),
                                 wrapLines(sub->get_description(), kHelpWidth - get_column_width()),
                                 get_column_width());
        return out.str();
    }
    std::string make_description(const CLI::App* app) const override {
        return wrapLines(CLI::Formatter::make_description(app), kHelpWidth);
    }
    std::string make_footer(const CLI::App* app) const override {
        return wrapLines(CLI::Formatter::make_footer(app), kHelpWidth);
    }
};

}  // namespace

std::string wrapLines(const std::string& text, size_t width) {
    std::string out;
    size_t begin = 0;
    while (begin <= text.size()) {
        size_t end = text.find('\n', begin);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(begin, end - begin);
        // The continuation's indent: the second column, where the line has one within its first half.
        size_t indent = line.find_first_not_of(' ');
        if (indent == std::string::npos) indent = 0;
        const size_t gap = line.find("  ", indent);
        const size_t column = gap != std::string::npos ? line.find_first_not_of(' ', gap) : std::string::npos;
        if (column != std::string::npos && column < width / 2) indent = column;
        while (line.size() > width) {
            size_t cut = line.rfind(' ', width);
            if (cut == std::string::npos || cut <= indent) cut = line.find(' ', width);  // a word too long
            if (cut == std::string::npos) break;
            out += line.substr(0, line.find_last_not_of(' ', cut) + 1) + "\n";
            const size_t next = line.find_first_not_of(' ', cut);
            line = next == std::string::npos ? "" : std::string(indent, ' ') + line.substr(next);
        }
        out += line;
        if (end == text.size()) break;
        out += "\n";
        begin = end + 1;
    }
    return out;
}

const char* versionText() { return SIDTUNE_VERSION; }

CLI::Validator positiveSeconds() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            double value = 0;
            const bool number = CLI::detail::lexical_cast(text, value);
            return number && std::isfinite(value) && value > 0 ? "" : "must be a number of seconds above 0";
        },
        "");
}

CLI::Validator within(double low, double high) {
    return CLI::Validator(
        [low, high](std::string& text) -> std::string {
            double value = 0;
            char range[96];
            std::snprintf(range, sizeof range, "must be a number from %g to %g", low, high);
            return CLI::detail::lexical_cast(text, value) && value >= low && value <= high ? "" : range;
        },
        "");
}

std::string nearest(const std::string& word, const std::vector<std::string>& candidates) {
    std::string best;
    size_t bestDistance = SIZE_MAX;
    for (const std::string& c : candidates) {
        // A beginning of a name ("--sec" for "--seconds") is as good as a slip.
        const size_t distance = c.rfind(word, 0) == 0 && word.size() >= 3 ? 1 : editDistance(word, c);
        // Near: a third of the longer word's letters at most, or two.
        if (distance <= std::max<size_t>(2, std::max(word.size(), c.size()) / 3) && distance < bestDistance) {
            bestDistance = distance;
            best = c;
        }
    }
    return best;
}

std::string count(long n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

void prepareCommandLine(CLI::App& app, const char* program) {
    app.name(program);
    app.allow_windows_style_options(false);  // a path such as /tmp/x.qb is not an option
    app.set_version_flag("--version", std::string(program) + " " + versionText(),
                         "Print the version and exit");
    app.formatter(std::make_shared<WrappingFormatter>());
    app.get_formatter()->column_width(26);
}

int parseCommandLine(CLI::App& app, int argc, char** argv) {
    const bool hasCommands = !app.get_subcommands({}).empty();
    // A bare call: a short usage on standard error, as a usage error.
    if (argc < 2) {
        std::string usage = "usage: " + app.get_name();
        if (hasCommands) {
            std::string names;
            for (const std::string& n : commandNames(app)) names += (names.empty() ? "" : ", ") + n;
            usage += " COMMAND [OPTIONS] (" + names + ")\nrun '" + app.get_name() + " help COMMAND' for more";
        } else {
            usage += " [OPTIONS]";
            for (const CLI::Option* o : app.get_options())
                if (o->get_positional()) usage += " " + o->get_name();
            usage += "\nrun with --help for more";
        }
        std::fprintf(stderr, "%s\n", usage.c_str());
        return kUsageError;
    }
    // "help" and "help COMMAND".
    if (hasCommands && std::string(argv[1]) == "help") {
        const CLI::App* command = &app;
        if (argc > 2) {
            for (CLI::App* c : app.get_subcommands({})) {
                if (c->check_name(argv[2])) command = c;
            }
            if (std::string(argv[2]) == "help") {
                std::printf(
                    "Usage: %s help [COMMAND]\n\nThe help of the program, or of one of its commands.\n",
                    app.get_name().c_str());
                return 0;
            }
            if (command == &app) return unknownCommand(app, argv[2]);
        }
        // A command's usage line names the program too: "sidtune render [OPTIONS] TUNE".
        std::printf("%s", (command == &app ? app.help() : command->help(app.get_name())).c_str());
        return 0;
    }
    // A first word that names no command, where there are commands, is named as such.
    if (hasCommands && argv[1][0] != '-') {
        bool known = false;
        for (const CLI::App* command : app.get_subcommands({})) known |= command->check_name(argv[1]);
        if (!known) return unknownCommand(app, argv[1]);
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
        std::string message = e.what();
        // An option that is no option of the command: the nearest one that is.
        CLI::App* command = commandOf(app, argc, argv);
        for (int i = 1; i < argc; ++i) {
            const std::string word = argv[i];
            if (word.rfind("--", 0) != 0) continue;
            const std::string name = word.substr(0, word.find('='));
            const std::vector<std::string> names = optionNames(command);
            if (std::find(names.begin(), names.end(), name) != names.end() || name == "--help" ||
                name == "--version")
                continue;
            message = "unknown option '" + name + "'";
            const std::string guess = nearest(name, names);
            if (!guess.empty()) message += "; did you mean '" + guess + "'?";
            break;
        }
        return usageError(app, message);
    }
    return -1;
}

}  // namespace sidtune
