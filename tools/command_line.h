// The command lines of the programs, parsed one way: usage errors are one message and exit code
// 2 with "run with --help" (not the argument library's own numbers), --help and --version answer
// and end the program with 0, and a word that is no subcommand of a program that has some is named.
//
//   CLI::App app{"..."};
//   prepareCommandLine(app, "sidtune");      --version; exit codes go in the footer by the caller
//   if (const int code = parseCommandLine(app, argc, argv); code >= 0) return code;
#pragma once

#include <CLI/CLI.hpp>

namespace sidtune {

constexpr int kUsageError = 2;

void prepareCommandLine(CLI::App& app, const char* program);
// -1 when the program should go on; otherwise the exit code it ends with.
int parseCommandLine(CLI::App& app, int argc, char** argv);
const char* versionText();
// A number of seconds above 0 (nan and infinity are not).
CLI::Validator positiveSeconds();

}  // namespace sidtune
