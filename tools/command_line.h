// The command lines of the programs, read one way, as the ecosystem's command-line tools do:
//
//   - a bare call prints a short usage on standard error (exit code 2, as for any usage error);
//   - "help" and "help COMMAND" print the usage of the program or the command (exit 0), as
//     --help does;
//   - a usage error is one message, "did you mean" the closest option or command where there is
//     one, and "run with --help", exit code 2;
//   - --version prints the program and its version;
//   - help shows no type tags: every option names its value (SECONDS, N, FILE...) itself, and
//     its lines (and so the manual pages made from it) are at most kHelpWidth columns.
//
//   CLI::App app{"..."};
//   prepareCommandLine(app, "sidtune");      --version; exit codes go in the footer by the caller
//   if (const int code = parseCommandLine(app, argc, argv); code >= 0) return code;
#pragma once

#include <CLI/CLI.hpp>
#include <string>

namespace sidtune {

constexpr int kUsageError = 2;
constexpr size_t kHelpWidth = 80;

// The exit codes of a program that was stopped, in the words of the system it runs on.
#if defined(_WIN32)
constexpr const char* kStoppedExitCodes = "130 when stopped by Ctrl-C";
#else
constexpr const char* kStoppedExitCodes =
    "128 + the signal's number when stopped by SIGINT (130, Ctrl-C) or SIGTERM (143)";
#endif

void prepareCommandLine(CLI::App& app, const char* program);
// -1 when the program should go on; otherwise the exit code it ends with.
int parseCommandLine(CLI::App& app, int argc, char** argv);
const char* versionText();
// A number of seconds above 0 (nan and infinity are not).
CLI::Validator positiveSeconds();
// A number within [low, high], said in words.
CLI::Validator within(double low, double high);
// The nearest of `candidates` to `word` (a typing slip), or "" when none is near.
std::string nearest(const std::string& word, const std::vector<std::string>& candidates);
// Every line of `text` longer than `width` broken at spaces, its continuation lines indented as its
// second column (the text after a run of two spaces) or, without one, as the line itself.
std::string wrapLines(const std::string& text, size_t width);
// "1 song", "3 songs".
std::string count(long n, const char* one, const char* many);

}  // namespace sidtune
