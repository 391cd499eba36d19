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
        EXPECT_EQ(drive["path"], "/dev/sg0");
        EXPECT_EQ(drive["identification"], "KELU ZXR-0131K");
        EXPECT_EQ(drive["identification_raw"], "KELU    ZXR-0131K       ");
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

// A drive this user may not open: every command names it with the reason and
// the fix, and a drive found but unusable is a failure, not "no drive".
TEST(KeluflashCliList, ADriveThatCannotBeOpenedIsNamedWithReasonAndFix) {
    const std::string fix =
        "log in at the machine's own seat, or add yourself to the group that owns /dev/sg0 (cdrom)";
    const CliRun list = RunCli("--simulate=no-access list");
    EXPECT_EQ(list.exitCode, 1);
    EXPECT_EQ(list.out, "-  /dev/sg0  permission denied: " + fix + "\n");
    EXPECT_EQ(list.err, "keluflash-cli: none of the optical drives found can be used\n");

    const CliRun json = RunCli("--simulate=no-access list --json");
    EXPECT_EQ(json.exitCode, 1);
    const nlohmann::json listing = nlohmann::json::parse(json.out);
    EXPECT_TRUE(listing["drives"].empty());
    ASSERT_EQ(listing["unavailable"].size(), 1u);
    EXPECT_EQ(listing["unavailable"][0]["path"], "/dev/sg0");
    EXPECT_EQ(listing["unavailable"][0]["reason"], "permission denied");
    EXPECT_EQ(listing["unavailable"][0]["fix"], fix);
    EXPECT_EQ(listing["kind"], "drive");

    const std::string none = "found 1 optical drive, but none can be used: /dev/sg0 (permission denied): " + fix;
    const CliRun flash = RunCli("--simulate=no-access flash --yes /nonexistent.kfs");
    EXPECT_EQ(flash.exitCode, 1);
    EXPECT_EQ(flash.err, "keluflash-cli: " + none + "\n");
    const CliRun flashJson = RunCli("--simulate=no-access flash --json --yes /nonexistent.kfs");
    EXPECT_EQ(flashJson.exitCode, 1);
    EXPECT_EQ(nlohmann::json::parse(flashJson.out)["error"], none);
    const CliRun named = RunCli("--simulate=no-access flash --device /dev/sr0 --yes /nonexistent.kfs");
    EXPECT_EQ(named.err, "keluflash-cli: cannot use /dev/sg0 (permission denied): " + fix + "\n");
}

TEST(KeluflashCliList, UsageErrorsExitWithTwo) {
    const CliRun unknown = RunCli("--simulate=no-such-machine list");
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_NE(unknown.err.find("--simulate=NAME takes one of: default"), std::string::npos) << unknown.err;
    EXPECT_EQ(unknown.out, "");

    EXPECT_EQ(RunCli("--simulate list surplus").exitCode, 2);
    EXPECT_EQ(RunCli("").exitCode, 2);
}

TEST(KeluflashCliList, HelpNamesTheSimulatedMachines) {
    const CliRun run = RunCli("--help");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.out.find("--simulate[=NAME]"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\nUsage: keluflash-cli [OPTIONS]"), std::string::npos) << "no path, only the name: " << run.out;
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

// Two drives and no --device: a command that reads or writes a drive's flash
// never picks one; the usage error names them. A command that takes no drive
// refuses --device.
TEST(KeluflashCliList, SeveralDrivesNeedTheDeviceNamed) {
    const std::string drives =
        "2 optical drives can be used; name one with --device: 0 /dev/sg0 (KELU ZXR-0131K 1.00), 1 /dev/sg1 (KELU "
        "ZXR-0150K 1.10)";
    for (const char* command : {"flash --yes fw.kfs", "flash --dry-run fw.kfs", "verify fw.kfs", "dump out.bin"}) {
        SCOPED_TRACE(command);
        CliRun run = RunCli(std::string("--simulate=two-drives ") + command);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_EQ(run.err, "keluflash-cli: " + drives + "\n");
        run = RunCli(std::string("--json --simulate=two-drives ") + command);
        EXPECT_EQ(run.exitCode, 2);
        const nlohmann::json document = nlohmann::json::parse(run.out);
        EXPECT_EQ(document["kind"], "usage");
        EXPECT_EQ(document["error"], drives);
    }
    for (const char* command : {"--device 0 list", "--device 0 pack out.kfs --block b.bin"}) {
        SCOPED_TRACE(command);
        const CliRun run = RunCli(std::string("--simulate ") + command);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_NE(run.err.find("--device: "), std::string::npos) << run.err;
    }
}

}  // namespace
