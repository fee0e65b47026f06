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

namespace sidtune::test {

struct ProgramRun {
    int exitCode;
    std::string out, err;
};

inline std::string slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class ProgramTest : public ::testing::Test {
  protected:
    std::filesystem::path dir;

    void SetUp() override {
        dir = std::filesystem::temp_directory_path() /
              ("sidtune-" +
               std::string(::testing::UnitTest::GetInstance()->current_test_info()->test_suite_name()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    // Runs a shell command line with no input; its output lands in the test's folder.
    ProgramRun runCommand(const std::string& commandLine) {
        const std::string command =
            commandLine + " >" + (dir / "out").string() + " 2>" + (dir / "err").string() + " </dev/null";
        const int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(dir / "out"), slurp(dir / "err")};
    }
};

}  // namespace sidtune::test
