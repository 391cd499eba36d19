// The revision preview on the command line: the dry run, the confirmation,
// info --device and JSON show the drive's revision beside the image's, from
// the update's report; an older image, or one whose revision cannot be
// ordered against the drive's, is refused under --yes unless
// --allow-downgrade, and nothing is written then.
#include <gmock/gmock.h>

#include <algorithm>
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

// Against the drive at 1.10 (the second of two-drives): an older image and
// every revision that cannot be ordered are refused under --yes before
// anything is written, with the line saying what to pass, and flashed with
// --allow-downgrade.
TEST(RevisionCli, OlderOrUnorderedUnderYesNeedsAllowDowngrade) {
    const CliFolder folder("revision");
    constexpr const char* kOlderHint = "; pass --allow-downgrade to flash an older firmware";
    constexpr const char* kUnorderedHint =
        "; pass --allow-downgrade to flash a firmware whose revision cannot be ordered against the drive's";
    const struct {
        std::string revision;  // the identification block's, padded with spaces
        const char* comparison;
        const char* hint;
    } rows[] = {
        {"1.05", "older", kOlderHint},
        {"1.0A", "different", kUnorderedHint},
        {"0.9a", "different", kUnorderedHint},
        {".110", "different", kUnorderedHint},
        {"1,05", "different", kUnorderedHint},
        {"+1.0", "different", kUnorderedHint},
        {"\xD9\xA1\xD9\xA0", "different", kUnorderedHint},          // Arabic-Indic "10" in UTF-8
        {"    ", "different", kUnorderedHint},                       // padding only
        {std::string(4, '\0'), "different", kUnorderedHint},         // the model text ends before it
    };
    for (const auto& row : rows) {
        SCOPED_TRACE("image \"" + row.revision + "\"");
        DemoFirmwareRecipe recipe = Revision(row.revision);
        recipe.product = "ZXR-0150K";
        recipe.firmwareId = {0x4B, 0x35};
        folder.WriteImage("fw.kfs", recipe);
        const std::string drive = "--simulate=two-drives --device 1 --json ";
        // A trace file of its own for each run: --trace never overwrites one.
        const std::string traceRefused = "refused-" + std::to_string(&row - rows) + ".jsonl";
        const std::string traceAllowed = "allowed-" + std::to_string(&row - rows) + ".jsonl";

        CliRun run = RunCli(drive + "--trace " + folder.Path(traceRefused) + " flash --yes " + folder.Path("fw.kfs"));
        EXPECT_EQ(run.exitCode, 1) << run.out;
        nlohmann::json answer = Document(run);
        EXPECT_EQ(answer["kind"], "refused");
        EXPECT_EQ(answer["drive_state"], "untouched");
        EXPECT_EQ(answer["written"], false);
        EXPECT_EQ(answer["revision"]["drive"], "1.10");
        EXPECT_EQ(answer["revision"]["comparison"], row.comparison);
        EXPECT_THAT(answer["error"].get<std::string>(), HasSubstr(row.hint));
        ASSERT_FALSE(answer["checks"].empty());
        EXPECT_EQ(answer["checks"].back()["check"], "downgrade");
        EXPECT_EQ(answer["checks"].back()["passed"], false);
        const std::vector<nlohmann::json> refused = folder.JsonLines(traceRefused);
        EXPECT_TRUE(std::any_of(refused.begin(), refused.end(), [](const nlohmann::json& line) { return line.contains("cdb"); }))
            << "the trace records the commands sent";
        for (const nlohmann::json& line : refused) EXPECT_FALSE(Writes(line)) << line.dump();

        run = RunCli(drive + "--trace " + folder.Path(traceAllowed) + " flash --yes --allow-downgrade " +
                     folder.Path("fw.kfs"));
        EXPECT_EQ(run.exitCode, 0) << run.out;
        answer = Document(run);
        EXPECT_EQ(answer["result"], "verified");
        EXPECT_EQ(answer["checks"].back(), (nlohmann::json{{"check", "downgrade"}, {"passed", true}, {"line", ""}}));
        const std::vector<nlohmann::json> allowed = folder.JsonLines(traceAllowed);
        EXPECT_TRUE(std::any_of(allowed.begin(), allowed.end(), Writes));
    }

    // Without --json the question says why it asks, its answer says what to
    // pass, and so does the last line.
    DemoFirmwareRecipe recipe = Revision("1.0A");
    recipe.product = "ZXR-0150K";
    recipe.firmwareId = {0x4B, 0x35};
    folder.WriteImage("fw.kfs", recipe);
    const CliRun run = RunCli("--simulate=two-drives --device 1 flash --yes " + folder.Path("fw.kfs"));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "Revision: drive 1.10, image 1.0A (cannot be ordered: it may be a downgrade)\n"
                       "Err:Revision \"1.0A\" cannot be ordered against the drive's \"1.10\", not confirmed: nothing "
                       "was written!!\n");
    EXPECT_THAT(run.err, HasSubstr("Warning: The image's firmware revision \"1.0A\" cannot be ordered against the "
                                   "drive's \"1.10\": it may be a downgrade. Flash it anyway ? No (pass "
                                   "--allow-downgrade to flash it)\n"));
    EXPECT_THAT(run.err, HasSubstr(kUnorderedHint));
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

// The same and a newer revision flash under --yes alone.
TEST(RevisionCli, TheSameOrANewerRevisionNeedsOnlyYes) {
    const CliFolder folder("revision");
    const struct {
        const char* revision;
        const char* comparison;
    } rows[] = {{"1.00", "same"}, {"1.05", "newer"}};
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
    folder.WriteImage("suffixed.kfs", Revision("1.0A"));
    run = RunCli("--simulate flash --dry-run " + folder.Path("suffixed.kfs"));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_THAT(run.err, HasSubstr("its revision cannot be ordered against the drive's: with --yes it needs "
                                   "--allow-downgrade"));

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
