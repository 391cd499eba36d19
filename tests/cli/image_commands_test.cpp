// keluflash-cli info and pack over a few fixtures.
#include "app/cli/image_commands.h"

#include <CLI/CLI.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "app/cli/cli_options.h"
#include "image/image_file.h"
#include "image/image_writer.h"
#include "tests/support/temp_dir.h"

namespace keluflash::cli {
namespace {

using keluflash::test::TempDir;
using nlohmann::json;

TEST(ImageInfo, ValidScrambledSingleImage) {
    TempDir folder;
    ImageWriteOptions options;
    options.scramble = true;
    const auto image = BuildDemoFirmware({}, options);
    ASSERT_TRUE(image.ok);
    const json info = ImageInfo(folder.Write("fw.kfs", image.bytes));
    EXPECT_EQ(info["valid"], true);
    EXPECT_TRUE(info["message"].is_null());
    EXPECT_EQ(info["layout"], "single");
    EXPECT_EQ(info["scrambled"], true);
    EXPECT_EQ(info["checksum"], image.header.Checksum());
    EXPECT_EQ(info["computed_checksum"], image.header.Checksum());
    EXPECT_EQ(info["block_count"], 8);
    EXPECT_EQ(info["block_sizes"], json({0xFFFE, 0xF000, 0xF000, 0xFFFE, 0xFFFE, 0xFFFE, 0xFFFE, 0xFFFE}));
    EXPECT_FALSE(info.contains("image_stride"));
    EXPECT_EQ(info["images"], json::parse(R"([{"index":0,"offset":64,"window_complete":true,
        "model":"KELU    ZXR-0131K       1.00","firmware_id":"4B31"}])"));
    EXPECT_EQ(info["selected_image"], 0);
}

TEST(ImageInfo, MultiImageListsEveryImage) {
    std::vector<DemoFirmwareRecipe> recipes(3);
    recipes[1].firmwareId = {0xAB, 0x0C};
    recipes[2].product = "ZXR-0160K";
    const auto image = BuildDemoMultiFirmware(recipes);
    ASSERT_TRUE(image.ok) << image.error;
    TempDir folder;
    const json info = ImageInfo(folder.Write("multi.kfs", image.bytes));
    EXPECT_EQ(info["valid"], true);
    EXPECT_EQ(info["layout"], "multi");
    EXPECT_EQ(info["checksum"], 3);
    EXPECT_EQ(info["image_stride"], 0x8000);
    ASSERT_EQ(info["images"].size(), 3u);
    EXPECT_EQ(info["images"][1]["offset"], 64 + 0x8000);
    EXPECT_EQ(info["images"][1]["firmware_id"], "AB0C");
    EXPECT_EQ(info["images"][2]["model"], "KELU    ZXR-0160K       1.00");
    EXPECT_EQ(info["selected_image"], 2);
}

TEST(ImageInfo, InvalidFiles) {
    TempDir folder;
    const auto image = BuildDemoFirmware({});
    ASSERT_TRUE(image.ok);

    auto badSum = image.bytes;
    badSum[70] ^= 0x01;
    const json sum = ImageInfo(folder.Write("sum.kfs", badSum));
    EXPECT_EQ(sum["valid"], false);
    EXPECT_EQ(sum["message"], kMessageFileChecksumError);
    EXPECT_NE(sum["computed_checksum"], sum["checksum"]);
    EXPECT_EQ(sum["selected_image"], 0) << "the open does not validate";

    auto cut = image.bytes;
    cut.resize(100000);  // inside block 1
    const json shortFile = ImageInfo(folder.Write("cut.kfs", cut));
    EXPECT_EQ(shortFile["valid"], false);
    EXPECT_EQ(shortFile["message"], "Err:Block 1 of the firmware file is short: 34402 of 61440 bytes!!");
    EXPECT_TRUE(shortFile["computed_checksum"].is_null());

    const json other = ImageInfo(folder.Write("fw.bin", image.bytes));
    EXPECT_EQ(other["valid"], true);
    EXPECT_EQ(other["kfs_extension"], false);
    EXPECT_EQ(other["images"].size(), 1u);
    EXPECT_TRUE(other["selected_image"].is_null());

    const json absent = ImageInfo(folder.File("absent.kfs"));
    EXPECT_EQ(absent["valid"], false);
    EXPECT_EQ(absent["message"], kMessageOpenFirmwareFileError);
    EXPECT_TRUE(absent["images"].empty());
    EXPECT_TRUE(absent["selected_image"].is_null());
    EXPECT_NE(ImageInfoText(absent).find("not valid: Err:Open Firmware file Error!!"), std::string::npos);
}

// Runs keluflash-cli with the image commands and the common options given;
// returns its exit code.
int RunCli(std::vector<std::string> args, std::string* errors = nullptr, CommonOptions options = {},
           std::string* output = nullptr) {
    CLI::App app;
    app.require_subcommand(1);
    int exitCode = kExitOk;
    RegisterImageCommands(app, options, exitCode);
    std::reverse(args.begin(), args.end());  // CLI11 takes them last first
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    try {
        app.parse(args);
    } catch (const CLI::ParseError&) {
        exitCode = kExitUsage;
    }
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    if (errors) *errors = err;
    if (output) *output = out;
    return exitCode;
}

// info --device: the revision rows show an image's revision (and the
// drive's) with its control characters escaped, as every other row does.
TEST(InfoCommand, TheRevisionRowEscapesWhatTheImageCarries) {
    TempDir folder;
    DemoFirmwareRecipe recipe;
    recipe.revision = "\x1b[2J";
    const auto image = BuildDemoFirmware(recipe);
    ASSERT_TRUE(image.ok);
    CommonOptions options;
    options.simulate = true;
    options.device = "0";
    std::string output;
    std::string errors;
    RunCli({"info", folder.Write("fw.kfs", image.bytes)}, &errors, options, &output);
    EXPECT_NE(output.find("Revision:         drive 1.00, image \\x1b[2J"), std::string::npos) << output << errors;
    EXPECT_EQ(output.find('\x1b'), std::string::npos) << output;
}

TEST(PackCommand, WritesWhatInfoAccepts) {
    TempDir folder;
    const auto blocks = BuildDemoImageBlocks({});
    std::vector<std::string> args{"pack", folder.File("out.kfs"), "--scramble", "--block"};
    for (size_t i = 0; i < blocks.size(); ++i) args.push_back(folder.Write("b" + std::to_string(i), blocks[i]));
    ASSERT_EQ(RunCli(args), kExitOk);
    EXPECT_EQ(RunCli({"info", folder.File("out.kfs")}), kExitOk);
    const json info = ImageInfo(folder.File("out.kfs"));
    EXPECT_EQ(info["scrambled"], true);
    EXPECT_EQ(info["images"][0]["firmware_id"], "4B31");
}

TEST(PackCommand, Refusals) {
    TempDir folder;
    const std::string small = folder.Write("small", {0x02, 0x01});
    const std::string odd = folder.Write("odd", {0x03, 0x01});
    const std::string empty = folder.Write("empty", {});
    const std::string large = folder.Write("large", std::vector<uint8_t>(65536, 0x02));
    const std::string out = folder.File("out.kfs");
    const auto blocksOf = [&](size_t n) { return std::vector<std::string>(n, small); };
    struct Case {
        std::string name;
        std::vector<std::string> args;
        int exitCode;
        std::string errorPart;
    };
    std::vector<Case> cases{
        {"15 blocks", {"pack", out, "--block"}, kExitFailed, "at most 14 blocks"},
        {"9 blocks per image", {"pack", out, "--multi", "9", "--block"}, kExitFailed, "at most 8 blocks"},
        {"empty block", {"pack", out, "--block", small, empty}, kExitFailed, "block 1 is 0 bytes"},
        {"65,536-byte block", {"pack", out, "--block", large}, kExitFailed, "block 0 is 65536 bytes"},
        {"scrambled block not starting with 02", {"pack", out, "--scramble", "--block", small, odd}, kExitFailed,
         "block 1 starts with 0x03"},
        {"blocks not a multiple of the image size", {"pack", out, "--multi", "2", "--block", small}, kExitFailed,
         "do not make images"},
        {"no block", {"pack", out}, kExitUsage, ""},
        {"missing block file", {"pack", out, "--block", folder.File("none")}, kExitFailed, "cannot read"},
        {"info without a file", {"info"}, kExitUsage, ""},
    };
    for (const auto& b : blocksOf(15)) cases[0].args.push_back(b);
    for (const auto& b : blocksOf(9)) cases[1].args.push_back(b);
    for (const Case& c : cases) {
        std::string errors;
        EXPECT_EQ(RunCli(c.args, &errors), c.exitCode) << c.name;
        EXPECT_NE(errors.find(c.errorPart), std::string::npos) << c.name << ": " << errors;
    }
    // None of them wrote a file.
    EXPECT_FALSE(std::filesystem::exists(out));
}

}  // namespace
}  // namespace keluflash::cli
