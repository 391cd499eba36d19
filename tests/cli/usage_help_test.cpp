// keluflash-cli's command line for a person who gets it wrong: a usage error
// is one line naming the program and the help to read, in JSON a document
// like any other failure; each command's help names the program's options it
// takes after its name; -V is --version.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "tests/cli/cli_run.h"

namespace keluflash::test {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

// The long option names a help text lists in its section `heading` (up to the next empty line).
std::set<std::string> SectionOptions(const std::string& help, const std::string& heading) {
    std::set<std::string> names;
    std::istringstream lines(help);
    std::string line;
    bool inside = false;
    const std::regex option("^  (?:-[[:alpha:]],)?(--[[:alpha:]][[:alnum:]-]*)");
    while (std::getline(lines, line)) {
        if (line == heading) {
            inside = true;
            continue;
        }
        if (!inside) continue;
        if (line.empty()) break;
        std::smatch match;
        if (std::regex_search(line, match, option)) names.insert(match[1]);
    }
    return names;
}

std::vector<std::string> Commands(const std::string& help) {
    std::vector<std::string> commands;
    std::istringstream lines(help.substr(help.find("\nSubcommands:\n") + 14));
    std::string line;
    while (std::getline(lines, line) && !line.empty()) commands.push_back(line.substr(2, line.find(' ', 2) - 2));
    return commands;
}

TEST(UsageHelpTest, UsageErrorsAreOneLineNamingTheProgramAndItsHelp) {
    const struct {
        std::string arguments;
        std::string errorPart;
        std::string help;  // the help the line points to
    } rows[] = {
        {"", "no command given; the commands: list, info, pack, flash", "keluflash-cli --help"},
        {"--simulate flash", "FILE is required", "keluflash-cli flash --help"},
        {"--simulate dump --banks 0 x.bin", "--banks: Value 0 not in range 1 to 14", "keluflash-cli dump --help"},
        {"--bogus list", "--bogus", "keluflash-cli list --help"},
        {"--simulate list surplus", "surplus", "keluflash-cli list --help"},
        {"info --device", "--device", "keluflash-cli info --help"},
        {"--simulate pack out.kfs --multi 0 --block a", "--multi", "keluflash-cli pack --help"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.arguments);
        const CliRun run = RunCli(row.arguments);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_THAT(run.err, StartsWith("keluflash-cli: "));
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << "one line: " << run.err;
        EXPECT_THAT(run.err, HasSubstr(row.errorPart));
        EXPECT_THAT(run.err, HasSubstr("(see " + row.help + ")"));

        // With --json the same error is the one document, and nothing else is said.
        const CliRun json = RunCli("--json " + row.arguments);
        EXPECT_EQ(json.exitCode, 2);
        EXPECT_EQ(json.err, "");
        const nlohmann::json document = nlohmann::json::parse(json.out, nullptr, false);
        ASSERT_TRUE(document.is_object()) << json.out;
        EXPECT_EQ(document.value("kind", ""), "usage");
        EXPECT_THAT(document.value("error", ""), HasSubstr(row.errorPart));
    }
}

TEST(UsageHelpTest, EveryCommandsHelpListsTheProgramsOptions) {
    const CliRun top = RunCli("--help");
    ASSERT_EQ(top.exitCode, 0);
    std::set<std::string> global = SectionOptions(top.out, "Options:");
    for (const char* own : {"--help", "--version"}) ASSERT_EQ(global.erase(own), 1u) << own;
    for (const char* expected : {"--device", "--json", "--trace", "--simulate", "--force", "--real-time"})
        ASSERT_TRUE(global.count(expected)) << expected << " missing from: " << top.out;

    const std::vector<std::string> commands = Commands(top.out);
    ASSERT_GE(commands.size(), 8u) << top.out;
    for (const std::string& command : commands) {
        SCOPED_TRACE(command);
        const CliRun run = RunCli(command + " --help");
        ASSERT_EQ(run.exitCode, 0);
        const std::set<std::string> own = SectionOptions(run.out, "Options:");
        const std::set<std::string> listed =
            SectionOptions(run.out, "Global options (before or after the command):");
        // Each of the program's options once: among the command's own (info
        // --json, pack --force) or among the global ones.
        for (const std::string& option : global)
            EXPECT_EQ(own.count(option) + listed.count(option), 1u) << option << " in:\n" << run.out;
        for (const std::string& option : listed) EXPECT_TRUE(global.count(option)) << option;
        // As given on the command line, with their values.
        if (!own.count("--json")) {
            EXPECT_THAT(run.out, HasSubstr("  --json  "));
        }
        EXPECT_THAT(run.out, HasSubstr("  --device INDEX|PATH  "));
        EXPECT_THAT(run.out, HasSubstr("  --simulate[=NAME]  "));
    }
}

TEST(UsageHelpTest, ShortVIsTheVersion) {
    const std::string version = "keluflash-cli " + std::string(KELUFLASH_VERSION) + "\n";
    for (const char* flag : {"-V", "--version"}) {
        SCOPED_TRACE(flag);
        const CliRun run = RunCli(flag);
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.out, version);
        EXPECT_EQ(run.err, "");
        const CliRun json = RunCli(std::string("--json ") + flag);
        EXPECT_EQ(nlohmann::json::parse(json.out, nullptr, false), (nlohmann::json{{"version", KELUFLASH_VERSION}}));
    }
}

}  // namespace
}  // namespace keluflash::test
