// Running one of the project's programs as a user does, for the tests of the tools: a fresh
// folder per test, and the program's exit code, standard output and standard error.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "test_support.h"

namespace sidtune::test {

struct ProgramRun {
    int exitCode;
    std::string out, err;
};

class ProgramTest : public ::testing::Test {
  protected:
    TempFolder folder;
    const std::filesystem::path& dir = folder.path();

    // Runs a shell command line with no input; its output lands in the test's folder.
    ProgramRun runCommand(const std::string& commandLine) {
        const std::string command =
            commandLine + " >" + (dir / "out").string() + " 2>" + (dir / "err").string() + " </dev/null";
        const int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(dir / "out"), slurp(dir / "err")};
    }
};

}  // namespace sidtune::test
