#pragma once
// The built keluflash-cli, run as a script runs it (no terminal: standard
// input from /dev/null, both outputs to files). The test target defines
// KELUFLASH_CLI_PROGRAM.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace keluflash::test {

struct CliRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

inline std::string ReadFile(const std::string& path) {
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// `prefix`: shell words before the program ("ulimit -f 8; exec", "setpriv ...").
inline CliRun RunCliAfter(const std::string& prefix, const std::string& arguments) {
    const std::string base = testing::TempDir() + "keluflash-cli-" + std::to_string(::getpid());
    const std::string command = prefix + " " + std::string(KELUFLASH_CLI_PROGRAM) + " " + arguments + " >" + base +
                                ".out 2>" + base + ".err </dev/null";
    const int status = std::system(command.c_str());
    CliRun run;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = ReadFile(base + ".out");
    run.err = ReadFile(base + ".err");
    std::filesystem::remove(base + ".out");
    std::filesystem::remove(base + ".err");
    return run;
}

inline CliRun RunCli(const std::string& arguments) { return RunCliAfter("", arguments); }

// A word for the shell, whatever bytes it holds.
inline std::string Quoted(const std::string& word) {
    std::string quoted = "'";
    for (const char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

}  // namespace keluflash::test
