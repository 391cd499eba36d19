// The built keluflash-cli, run as a script runs it, always on simulated drives.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "tests/cli/cli_run.h"

namespace {

using keluflash::test::CliRun;
using keluflash::test::RunCli;

TEST(KeluflashCliList, JsonListsTheSimulatedDefaultDrive) {
    for (const char* arguments :
         {"--simulate list --json", "--json --simulate=default list", "list --simulate --json"}) {
        SCOPED_TRACE(arguments);
        const CliRun run = RunCli(arguments);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const nlohmann::json listing = nlohmann::json::parse(run.out);
        ASSERT_EQ(listing["drives"].size(), 1u);
        const nlohmann::json& drive = listing["drives"][0];
        EXPECT_EQ(drive["index"], 0);
        EXPECT_EQ(drive["device"], "/dev/sg0");
        EXPECT_EQ(drive["identification"], "KELU    ZXR-0131K       ");
        EXPECT_EQ(drive["revision"], "1.00");
        EXPECT_TRUE(listing["unavailable"].empty());
    }
}

TEST(KeluflashCliList, TextLinesShowIndexDeviceIdentificationAndRevision) {
    const CliRun run = RunCli("--simulate=two-drives list");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out,
              "0  /dev/sg0  KELU    ZXR-0131K        1.00\n"
              "1  /dev/sg1  KELU    ZXR-0150K        1.10\n");
}

TEST(KeluflashCliList, UsageErrorsExitWithTwo) {
    const CliRun unknown = RunCli("--simulate=no-such-machine list");
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_NE(unknown.err.find("--simulate takes one of: default"), std::string::npos) << unknown.err;
    EXPECT_EQ(unknown.out, "");

    EXPECT_EQ(RunCli("--simulate list surplus").exitCode, 2);
    EXPECT_EQ(RunCli("").exitCode, 2);
}

TEST(KeluflashCliList, HelpNamesTheSimulatedMachines) {
    const CliRun run = RunCli("--help");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.out.find("--simulate [=NAME]"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("  default "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("list"), std::string::npos);
}

TEST(KeluflashCliList, AMachineWithoutAspiListsNothingAndSaysWhy) {
    const CliRun run = RunCli("--simulate=no-aspi list");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("KELUFlash: WNASPI32.DLL not found"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("no optical drive found"), std::string::npos);
}

}  // namespace
