// keluflash-cli match DIR over a folder made here: which files fit the
// selected simulated drive, best fits first, in text and JSON, and nothing
// but INQUIRY reaches the drive.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "tests/cli/cli_folder.h"

namespace keluflash::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

class MatchCommandTest : public ::testing::Test {
protected:
    // Images for the default drive (ZXR-0131K, 1.00, firmware id 4B 31) at
    // several revisions, one for another model, one for another firmware id,
    // one for the W0 family, multi-image files with and without an image for
    // the drive, a broken one, one whose block 1 is longer than the drive
    // takes, a text file, a valid image that is not named .kfs, a sub-folder
    // and symbolic links to a file and a folder.
    MatchCommandTest() : folder("match") {
        folder.WriteImage("new.kfs", Revision("1.05"));
        folder.WriteImage("same.kfs", Revision("1.00"));
        folder.WriteImage("old.kfs", Revision("0.90"));
        folder.WriteImage("letters.kfs", Revision("1.0A"));
        DemoFirmwareRecipe otherModel;
        otherModel.product = "ZXR-0150K";
        folder.WriteImage("other-model.kfs", otherModel);
        DemoFirmwareRecipe otherId;
        otherId.firmwareId = {0x4B, 0x32};
        folder.WriteImage("other-id.kfs", otherId);
        DemoFirmwareRecipe w0;
        w0.product = "ZXR-0130K";
        w0.firmwareId = {'W', '0'};
        folder.WriteImage("w0.kfs", w0);
        std::vector<uint8_t> broken = folder.WriteImage("broken.kfs");
        broken[100] ^= 0xFF;
        folder.WriteBytes("broken.kfs", broken);
        DemoFirmwareRecipe forOther;
        forOther.firmwareId = {0x4B, 0x32};
        // The open takes the last image the drive's firmware id check
        // passes, and ends at the first it refuses.
        WriteMulti("multi.kfs", {DemoFirmwareRecipe{}, DemoFirmwareRecipe{}});
        WriteMulti("multi-other.kfs", {forOther, DemoFirmwareRecipe{}});
        DemoFirmwareRecipe longBlock;
        longBlock.blockSizes = {0x8000, 0xF100, 0x8000};
        folder.WriteImage("long-block.kfs", longBlock);
        std::ofstream(folder.Path("notes.txt")) << "firmware notes\n";
        folder.WriteImage("fw.bin");
        std::filesystem::create_directories(folder.Path("sub"));
        folder.WriteImage("sub/deeper.kfs", Revision("1.10"));
        std::filesystem::create_symlink(folder.Path("new.kfs"), folder.Path("link.kfs"));
        std::filesystem::create_symlink(folder.Path("sub"), folder.Path("linked-folder"));
    }

    void WriteMulti(const std::string& name, const std::vector<DemoFirmwareRecipe>& images) {
        const ImageWriteResult built = BuildDemoMultiFirmware(images);
        ASSERT_TRUE(built.ok) << built.error;
        folder.WriteBytes(name, built.bytes);
    }

    // The JSON rows as "file|verdict|line|comparison", file names relative to the folder.
    std::vector<std::string> Rows(const nlohmann::json& answer) const {
        std::vector<std::string> rows;
        const std::string prefix = folder.Path("");
        for (const nlohmann::json& row : answer["rows"]) {
            std::string file = row["file"];
            if (file.rfind(prefix, 0) == 0) file = file.substr(prefix.size());
            rows.push_back(file + "|" + row["verdict"].get<std::string>() + "|" + row["line"].get<std::string>() + "|" +
                           (row["comparison"].is_null() ? "null" : row["comparison"].get<std::string>()));
        }
        return rows;
    }

    CliFolder folder;
};

TEST_F(MatchCommandTest, RowsBestFitsFirstInJson) {
    const CliFolder traces("match-trace");
    const CliRun run = RunCli("--simulate --json --trace " + traces.Path("trace.jsonl") + " match " + folder.Path(""));
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    const nlohmann::json answer = Document(run);
    EXPECT_EQ(answer["drive"]["path"], "/dev/sg0");
    EXPECT_EQ(answer["fits"], 5);
    EXPECT_THAT(Rows(answer),
                ElementsAre("new.kfs|fits||newer", "multi.kfs|fits||same", "same.kfs|fits||same",
                            "letters.kfs|fits||different", "old.kfs|fits||older",
                            "multi-other.kfs|refused|Err:The firmware is not support this device!!(4)|null",
                            "other-id.kfs|refused|Err:The firmware is not support this device!!(4)|same",
                            "other-model.kfs|refused|The Firmware isn't support this device !!(3)|same",
                            "w0.kfs|refused|Err:The firmware is not support this device!!(4)|same",
                            "broken.kfs|invalid|Err:File check sum error!!|same",
                            "fw.bin|invalid|the open looks for an image only in a file whose name ends in .kfs; "
                            "rename it|null",
                            "long-block.kfs|invalid|Err:Block 1 is 61696 bytes, more than the 61440 bytes the "
                            "drive takes!!|same",
                            "notes.txt|invalid|Err:Not KELU File system!!|null"));
    const nlohmann::json& best = answer["rows"][0];
    EXPECT_EQ(best["image_index"], 0);
    EXPECT_EQ(best["model"], "KELU    ZXR-0131K       1.05");
    EXPECT_EQ(best["revision"], "1.05");
    EXPECT_EQ(best["firmware_id"], "4B31");
    // The multi-image file: the image the open selects for this drive.
    EXPECT_EQ(answer["rows"][1]["image_index"], 1);
    EXPECT_EQ(answer["rows"][1]["firmware_id"], "4B31");
    // A file the open identifies, whatever its validation says, shows its
    // image; a file it identifies nothing in shows none.
    EXPECT_EQ(answer["rows"][9]["image_index"], 0);
    EXPECT_TRUE(answer["rows"][10]["image_index"].is_null());
    EXPECT_TRUE(answer["rows"][10]["model"].is_null());

    std::vector<std::string> skipped;
    for (const nlohmann::json& entry : answer["skipped"])
        skipped.push_back(entry["file"].get<std::string>().substr(folder.Path("").size()) + ": " +
                          entry["reason"].get<std::string>());
    EXPECT_THAT(skipped, ElementsAre("link.kfs: a symbolic link, not followed",
                                     "linked-folder: a symbolic link, not followed",
                                     "sub: a folder (--recursive looks inside)"));

    // Read-only: the trace has its header and INQUIRYs, nothing else.
    const std::vector<nlohmann::json> trace = traces.JsonLines("trace.jsonl");
    ASSERT_GT(trace.size(), 1u);
    EXPECT_TRUE(trace[0].contains("keluflash_trace"));
    for (size_t i = 1; i < trace.size(); ++i)
        EXPECT_EQ(trace[i]["cdb"].get<std::string>().substr(0, 2), "12") << trace[i].dump();
}

TEST_F(MatchCommandTest, RecursiveLooksIntoFoldersButNotThroughLinks) {
    const CliRun run = RunCli("--simulate --json match --recursive " + folder.Path(""));
    ASSERT_EQ(run.exitCode, 0) << run.out;
    const nlohmann::json answer = Document(run);
    const std::vector<std::string> rows = Rows(answer);
    ASSERT_EQ(rows.size(), 14u);
    EXPECT_EQ(rows[0], "sub/deeper.kfs|fits||newer") << "1.10 before 1.05";
    EXPECT_EQ(rows[1], "new.kfs|fits||newer");
    EXPECT_EQ(answer["skipped"].size(), 2u) << answer["skipped"].dump();
}

TEST_F(MatchCommandTest, TextRowsAndTheW0Family) {
    CliRun run = RunCli("--simulate match " + folder.Path(""));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::istringstream lines(run.out);
    std::string first;
    std::getline(lines, first);
    EXPECT_EQ(first, folder.Path("new.kfs") +
                         "  image 0  KELU ZXR-0131K  1.05  4B31  fits: drive 1.00, image 1.05 (newer)");
    EXPECT_THAT(run.out, HasSubstr(folder.Path("broken.kfs") +
                                   "  image 0  KELU ZXR-0131K  1.00  4B31  not a valid image: Err:File check sum "
                                   "error!!\n"));
    EXPECT_THAT(run.out, HasSubstr(folder.Path("notes.txt") + "  -  -  -  -  not a valid image: Err:Not KELU File system!!\n"));
    EXPECT_THAT(run.out, HasSubstr(folder.Path("other-model.kfs") +
                                   "  image 0  KELU ZXR-0150K  1.00  4B31  refused: The Firmware isn't support this "
                                   "device !!(3)\n"));
    EXPECT_THAT(run.err, HasSubstr("skipped " + folder.Path("link.kfs") + ": a symbolic link, not followed"));
    EXPECT_THAT(run.err, HasSubstr("13 files checked against /dev/sg0 (KELU ZXR-0131K 1.00), 5 fit"));

    // A W0-family drive (ZXR-0130K) passes the family check whatever the
    // image's firmware id, and the list of products, which has no
    // ZXR-0130K, refuses every image.
    run = RunCli("--simulate=w0-family --json match " + folder.Path(""));
    EXPECT_EQ(run.exitCode, 1);
    const nlohmann::json answer = Document(run);
    EXPECT_EQ(answer["kind"], "refused");
    EXPECT_THAT(answer["error"].get<std::string>(), HasSubstr("no file in " + folder.Path("") + " fits"));
    const std::vector<std::string> rows = Rows(answer);
    EXPECT_THAT(rows, ::testing::Contains("w0.kfs|refused|The Firmware isn't support this device !!(2)|same"));
    EXPECT_THAT(rows, ::testing::Contains("same.kfs|refused|The Firmware isn't support this device !!(2)|same"));
}

TEST_F(MatchCommandTest, UsageAndFolderErrors) {
    EXPECT_EQ(RunCli("--simulate match").exitCode, 2);
    CliRun run = RunCli("--simulate --json match " + folder.Path("absent"));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(Document(run)["kind"], "file");
    EXPECT_THAT(Document(run)["error"].get<std::string>(), HasSubstr("No such file or directory"));
    run = RunCli("--simulate --json match " + folder.Path("new.kfs"));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_THAT(Document(run)["error"].get<std::string>(), HasSubstr("Not a directory"));
    // An empty folder: nothing fits.
    std::filesystem::create_directories(folder.Path("empty"));
    EXPECT_EQ(RunCli("--simulate match " + folder.Path("empty")).exitCode, 1);
}

}  // namespace
}  // namespace keluflash::test
