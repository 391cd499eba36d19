// The revision preview on the command line: the dry run, the confirmation,
// info --device and JSON show the drive's revision beside the image's, from
// the update's report; a downgrade under --yes is refused unless
// --allow-downgrade, and nothing is written then.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/cli/cli_folder.h"

namespace keluflash::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

// Anything that changes what the drive holds: a block write or trigger (5A
// A0), a memory write (5A A2), WRITE BUFFER.
bool Writes(const nlohmann::json& line) {
    if (!line.contains("cdb")) return false;
    const std::string cdb = line["cdb"];
    return cdb.rfind("3b", 0) == 0 || cdb.rfind("5a00384b45a0", 0) == 0 || cdb.rfind("5a00384b45a2", 0) == 0;
}

TEST(RevisionCli, ADowngradeUnderYesIsRefusedWithoutAWrite) {
    const CliFolder folder("revision");
    folder.WriteImage("old.kfs", Revision("0.90"));
    CliRun run = RunCli("--simulate --json --trace " + folder.Path("trace.jsonl") + " flash --yes " +
                        folder.Path("old.kfs"));
    EXPECT_EQ(run.exitCode, 1) << run.err;
    const nlohmann::json answer = Document(run);
    EXPECT_EQ(answer["kind"], "refused");
    EXPECT_EQ(answer["result"], "refused");
    EXPECT_EQ(answer["drive_state"], "untouched");
    EXPECT_THAT(answer["error"].get<std::string>(), HasSubstr("pass --allow-downgrade"));
    EXPECT_EQ(answer["revision"],
              (nlohmann::json{{"drive", "1.00"},
                              {"image", "0.90"},
                              {"comparison", "older"},
                              {"line", "Revision: drive 1.00, image 0.90 (older: a downgrade)"}}));
    EXPECT_EQ(answer["messages"], (nlohmann::json{"Revision: drive 1.00, image 0.90 (older: a downgrade)",
                                                  "Err:Downgrade from 1.00 to 0.90 not confirmed: nothing was written!!"}));
    EXPECT_EQ(answer["checks"].back(),
              (nlohmann::json{{"check", "downgrade"},
                              {"passed", false},
                              {"line", "Err:Downgrade from 1.00 to 0.90 not confirmed: nothing was written!!"}}));
    for (const nlohmann::json& line : folder.JsonLines("trace.jsonl")) EXPECT_FALSE(Writes(line)) << line.dump();

    // Without --json the question and its answer are said on standard error.
    run = RunCli("--simulate flash --yes " + folder.Path("old.kfs"));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_THAT(run.err, HasSubstr("Warning: The image holds firmware 0.90, older than the drive's 1.00: a "
                                   "downgrade. Flash it anyway ? No (pass --allow-downgrade to flash it)"));
    EXPECT_THAT(run.out, Not(HasSubstr("Flashing ..")));
}

TEST(RevisionCli, AllowDowngradeFlashesIt) {
    const CliFolder folder("revision");
    folder.WriteImage("old.kfs", Revision("0.90"));
    const CliRun run = RunCli("--simulate flash --yes --allow-downgrade " + folder.Path("old.kfs"));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out,
              "Revision: drive 1.00, image 0.90 (older: a downgrade)\nFlashing ..\nOk:Flash Complete!!\nOK:Verify ok!!\n");
    EXPECT_THAT(run.err, HasSubstr("Flash it anyway ? Yes\n"));
}

// Only a downgrade asks: the same, a newer and an unordered revision flash
// under --yes alone.
TEST(RevisionCli, OnlyADowngradeNeedsMoreThanYes) {
    const CliFolder folder("revision");
    const struct {
        const char* revision;
        const char* comparison;
    } rows[] = {{"1.00", "same"}, {"1.05", "newer"}, {"1.0A", "different"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.revision);
        folder.WriteImage("fw.kfs", Revision(row.revision));
        const CliRun run = RunCli("--simulate --json flash --yes " + folder.Path("fw.kfs"));
        EXPECT_EQ(run.exitCode, 0) << run.out;
        const nlohmann::json answer = Document(run);
        EXPECT_EQ(answer["revision"]["comparison"], row.comparison);
        EXPECT_EQ(answer["result"], "verified");
    }
}

TEST(RevisionCli, TheDryRunShowsTheComparison) {
    const CliFolder folder("revision");
    folder.WriteImage("new.kfs", Revision("1.10"));
    CliRun run = RunCli("--simulate flash --dry-run " + folder.Path("new.kfs"));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "Revision: drive 1.00, image 1.10 (newer)\n");

    run = RunCli("--simulate --json flash --dry-run " + folder.Path("new.kfs"));
    EXPECT_EQ(Document(run)["revision"]["comparison"], "newer");

    // A downgrade's dry run passes (nothing is written) and says what --yes will need.
    folder.WriteImage("old.kfs", Revision("0.90"));
    run = RunCli("--simulate flash --dry-run " + folder.Path("old.kfs"));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_THAT(run.err, HasSubstr("flashing it is a downgrade: with --yes it needs --allow-downgrade"));

    // A check that refuses still shows what would have changed.
    run = RunCli("--simulate=unknown-model --json flash --dry-run " + folder.Path("old.kfs"));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(Document(run)["revision"]["line"], "Revision: drive 2.10, image 0.90 (older: a downgrade)");
}

TEST(RevisionCli, InfoWithADeviceNamesTheDriveAndTheComparison) {
    const CliFolder folder("revision");
    folder.WriteImage("old.kfs", Revision("0.90"));
    CliRun run = RunCli("--simulate=two-drives --device 1 info " + folder.Path("old.kfs"));
    EXPECT_THAT(run.out, HasSubstr("Drive:            /dev/sg1 (KELU ZXR-0150K 1.10)\n"
                                   "Revision:         drive 1.10, image 0.90 (older: a downgrade)\n"));

    run = RunCli("--simulate --device /dev/sg0 --json info " + folder.Path("old.kfs"));
    EXPECT_EQ(run.exitCode, 0) << run.out;
    nlohmann::json info = Document(run);
    EXPECT_EQ(info["drive"]["path"], "/dev/sg0");
    EXPECT_EQ(info["drive"]["identification"], "KELU ZXR-0131K");
    EXPECT_EQ(info["revision"]["comparison"], "older");

    // Without a drive named, info stays the file's alone.
    run = RunCli("--json info " + folder.Path("old.kfs"));
    info = Document(run);
    EXPECT_FALSE(info.contains("drive"));
    EXPECT_FALSE(info.contains("revision"));

    run = RunCli("--simulate --device 4 --json info " + folder.Path("old.kfs"));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(Document(run)["kind"], "drive");
}

}  // namespace
}  // namespace keluflash::test
