// The last word of a flash, on every simulated set-up: the command line's
// summary, its JSON and the window's last line come from the one report, say
// the same thing, and never advise flashing again while the drive may be
// programming.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <string>

#include "drive/sim/simulated_machine.h"
#include "flash/update_report.h"
#include "tests/cli/cli_run.h"

namespace keluflash::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

constexpr DriveState kEveryState[] = {
    DriveState::Untouched,         DriveState::PatchAreaWritten, DriveState::BlocksSent,
    DriveState::TriggerRefused,    DriveState::TriggerTaken,     DriveState::TriggerUnanswered,
    DriveState::DriveReady,        DriveState::Verified,         DriveState::VerificationFailed,
    DriveState::NeverReady,        DriveState::DriveGone};

// The drive may be programming: it took the trigger, or may have, and was not
// seen ready since.
bool MayBeProgramming(DriveState state) {
    return state == DriveState::TriggerTaken || state == DriveState::TriggerUnanswered ||
           state == DriveState::NeverReady || state == DriveState::DriveGone;
}

TEST(AdviceTable, WhatEachStateMeansForTheDrive) {
    for (const DriveState state : kEveryState) {
        const std::string advice(Advice(state));
        SCOPED_TRACE(std::string(DriveStateName(state)) + ": " + advice);
        EXPECT_FALSE(advice.empty());
        if (MayBeProgramming(state)) {
            EXPECT_THAT(advice, HasSubstr("do not restart and do not start another update"));
            EXPECT_THAT(advice, Not(HasSubstr("flash again")));
            EXPECT_THAT(advice, Not(HasSubstr("flash the same image again")));
        }
        // Only a drive that got nothing keeps its firmware for certain.
        EXPECT_EQ(advice.find("nothing was programmed, the drive keeps its firmware") != std::string::npos,
                  state == DriveState::Untouched);
        // A drive that refused the trigger was told to program and said no.
        EXPECT_EQ(advice.find("never told to program") != std::string::npos, state == DriveState::BlocksSent);
        EXPECT_EQ(advice.find("refused") != std::string::npos, state == DriveState::TriggerRefused);
        EXPECT_EQ(advice.find("patch area") != std::string::npos, state == DriveState::PatchAreaWritten);
        EXPECT_EQ(AdviceLine(state).substr(0, 4), "Err:");
    }
}

// The table people read is the program's own, row for row.
TEST(AdviceTable, TheDocumentedTableIsTheProgramsOwn) {
    std::ifstream file(std::string(KELUFLASH_DOCS) + "/cli-json.md");
    ASSERT_TRUE(file) << KELUFLASH_DOCS;
    std::map<std::string, std::string> documented;
    for (std::string line; std::getline(file, line);) {
        // | `state` | advice |
        const size_t open = line.find("| `"), close = line.find("` | ");
        if (open != 0 || close == std::string::npos || line.size() < close + 6) continue;
        documented[line.substr(3, close - 3)] = line.substr(close + 4, line.size() - close - 6);
    }
    for (const DriveState state : kEveryState) {
        SCOPED_TRACE(DriveStateName(state));
        const auto row = documented.find(std::string(DriveStateName(state)));
        ASSERT_NE(row, documented.end());
        EXPECT_EQ(row->second, Advice(state));
    }
}

class SummaryTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = std::filesystem::path(testing::TempDir()) / ("keluflash-summary-" + std::to_string(::getpid()));
        std::filesystem::create_directories(m_dir);
        ASSERT_EQ(RunCli("--simulate demo-image " + Path("default.kfs")).exitCode, 0);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }
    std::string Path(const std::string& name) const { return (m_dir / name).string(); }
    std::filesystem::path m_dir;
};

TEST_F(SummaryTest, EverySetUpEndsWithOneStoryAndNeverAdvisesAFlashWhileTheDriveMayProgram) {
    int seen = 0;
    for (const SimulatedProfile& profile : SimulatedProfiles()) {
        SCOPED_TRACE(profile.name);
        // An image made for the set-up's drive where it can make one.
        std::string image = Path(profile.name + ".kfs");
        if (RunCli("--simulate=" + profile.name + " demo-image " + image).exitCode != 0) image = Path("default.kfs");
        const std::string arguments = "--simulate=" + profile.name + " flash --yes " + image;
        const CliRun json = RunCli("--json " + arguments);
        nlohmann::json document;
        ASSERT_NO_THROW(document = nlohmann::json::parse(json.out)) << json.out << json.err;
        if (!document.contains("drive_state")) continue;  // no drive to flash
        ++seen;
        const std::string name = document["drive_state"];
        DriveState state = DriveState::Untouched;
        for (const DriveState each : kEveryState)
            if (DriveStateName(each) == name) state = each;
        ASSERT_EQ(DriveStateName(state), name);

        // The same story in the text run: the summary on standard error, the
        // window's last line on standard output.
        const CliRun text = RunCli(arguments);
        const std::string summary = document["summary"];
        EXPECT_THAT(text.err, HasSubstr(summary));
        const std::vector<std::string> messages = document["messages"];
        ASSERT_FALSE(messages.empty());
        if (document["result"] == "verified") {
            EXPECT_EQ(messages.back(), "OK:Verify ok!!");
        } else {
            EXPECT_EQ(summary, Advice(state));
            if (state != DriveState::Untouched) {
                EXPECT_EQ(messages.back(), AdviceLine(state));
            }
        }
        if (MayBeProgramming(state)) {
            EXPECT_THAT(json.out + json.err + text.out + text.err, Not(HasSubstr("flash again")));
            EXPECT_THAT(json.out + json.err + text.out + text.err, Not(HasSubstr("flash the same image again")));
        }
    }
    EXPECT_GE(seen, 10);
}

}  // namespace
}  // namespace keluflash::test
