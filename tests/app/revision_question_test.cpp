// The revision preview in the window: a line when an image is opened or the
// drive changes, and one Yes/No question before the first write of a
// downgrade, and for nothing else.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "flash/revision_preview.h"
#include "tests/app/window_fixture.h"

namespace keluflash::test {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr unsigned kDowngradeBox = kMbYesNo | kMbIconWarning | kMbDefButton2;

std::vector<MessageBoxCall> YesNoBoxes(const RecordingView& view) {
    std::vector<MessageBoxCall> boxes;
    for (const MessageBoxCall& box : view.boxes)
        if ((box.flags & 0xF) == kMbYesNo) boxes.push_back(box);
    return boxes;
}

DemoFirmwareRecipe WithRevision(const std::string& revision) {
    DemoFirmwareRecipe recipe;
    recipe.revision = revision;
    return recipe;
}

class RevisionQuestionTest : public ::testing::Test {
protected:
    TempDir dir;
};

// Only a downgrade asks; a "No" (here the box's default answer) keeps the
// drive untouched. Every other comparison flashes without a question.
TEST_F(RevisionQuestionTest, OnlyADowngradeAsks) {
    struct Row {
        const char* drive;
        const char* image;
        const char* line;
        bool asks;
    };
    const Row rows[] = {
        {"1.00", "1.05", "Revision: drive 1.00, image 1.05 (newer)", false},
        {"1.00", "1.00", "Revision: drive 1.00, image 1.00 (the same: flashing again only repairs)", false},
        {"1.05", "1.00", "Revision: drive 1.05, image 1.00 (older: a downgrade)", true},
        {"1.9", "1.10", "Revision: drive 1.9, image 1.10 (newer)", false},
        {"1.10", "1.9", "Revision: drive 1.10, image 1.9 (older: a downgrade)", true},
        {"1.0A", "1.00", "Revision: drive 1.0A, image 1.00 (different: not plain version numbers, no order)", false},
        {"1.00", "1.0B", "Revision: drive 1.00, image 1.0B (different: not plain version numbers, no order)", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.drive) + " -> " + row.image);
        SimulatedDriveConfig drive;
        drive.revision = row.drive;
        WindowBench window(drive);
        const ImageOnDisk image = SaveDemoImage(dir, "fw.kfs", WithRevision(row.image));
        window.Open(image.path);
        EXPECT_THAT(window.form.Messages(), ElementsAre(row.line));
        window.view.answer = kIdNo;

        window.Start();

        const UpdateReport& report = window.form.LastReport();
        ASSERT_TRUE(report.revision.has_value());
        EXPECT_EQ(RevisionLine(*report.revision), row.line);
        EXPECT_EQ(YesNoBoxes(window.view).size(), row.asks ? 1u : 0u);
        if (row.asks) {
            EXPECT_EQ(report.result, UpdateResult::Refused);
            EXPECT_EQ(report.state, DriveState::Untouched);
            EXPECT_THAT(CommandsWhere(window.Drive(), IsWritingCommand), IsEmpty());
            EXPECT_EQ(window.form.Messages().back(), DowngradeRefusedLine(*report.revision));
            ASSERT_FALSE(report.checks.empty());
            EXPECT_EQ(report.checks.back().name, "downgrade");
            EXPECT_FALSE(report.checks.back().passed);
            EXPECT_EQ(report.cause, window.form.Messages().back());
            // Start, Exit and the drive list come back as after any refusal.
            EXPECT_EQ(window.Controls(), (ControlsState{true, true, true, true}));
        } else {
            EXPECT_EQ(report.result, UpdateResult::Verified);
        }
    }
}

// Yes flashes: the question comes once, after the checks and the last look
// at the image, before any command that writes, as a warning whose default
// button is No.
TEST_F(RevisionQuestionTest, ADowngradeAnsweredYesIsFlashedAfterOneQuestion) {
    SimulatedDriveConfig drive;
    drive.revision = "2.00";
    WindowBench window(drive);
    const ImageOnDisk image = SaveDemoImage(dir, "fw.kfs", WithRevision("1.00"));
    window.Open(image.path);
    window.Drive().ClearCommands();
    size_t commandsBeforeQuestion = 0;
    window.view.onShowMessage = [&](const MessageBoxCall& box) {
        if ((box.flags & 0xF) != kMbYesNo) return;
        commandsBeforeQuestion = window.Drive().Commands().size();
        window.view.answer = kIdYes;
    };

    window.Start();

    const std::vector<MessageBoxCall> boxes = YesNoBoxes(window.view);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Warning");
    EXPECT_EQ(boxes[0].flags, kDowngradeBox);
    EXPECT_EQ(boxes[0].text, "The image holds firmware 1.00, older than the drive's 2.00: a downgrade.\nFlash it anyway ?");
    // STOP PLAY/SCAN, STOP UNIT and the checks' two INQUIRYs; nothing that writes.
    const auto& commands = window.Drive().Commands();
    ASSERT_EQ(commandsBeforeQuestion, 4u);
    for (size_t i = 0; i < commandsBeforeQuestion; ++i) EXPECT_FALSE(IsWritingCommand(commands[i])) << CdbText(commands[i]);
    EXPECT_EQ(window.form.LastUpdateResult(), UpdateResult::Verified);
    EXPECT_EQ(window.Drive().TriggersAccepted(), 1);
    ASSERT_FALSE(window.form.LastReport().checks.empty());
    EXPECT_EQ(window.form.LastReport().checks.back().name, "downgrade");
    EXPECT_TRUE(window.form.LastReport().checks.back().passed);
}

// An image a check refuses is refused by the check: no question first.
TEST_F(RevisionQuestionTest, ARefusedImageAsksNothing) {
    SimulatedDriveConfig drive;
    drive.revision = "2.00";
    WindowBench window(drive);
    DemoFirmwareRecipe recipe = WithRevision("1.00");
    recipe.product = "ZXR-0150K";  // passes the list of products, not the model match
    const ImageOnDisk image = SaveDemoImage(dir, "fw.kfs", recipe);
    window.Open(image.path);
    window.Start();
    EXPECT_THAT(YesNoBoxes(window.view), IsEmpty());
    EXPECT_EQ(window.form.Messages().back(), "The Firmware isn't support this device !!(3)");
}

// The line follows the drive: picking another drive says what flashing the
// open image into it would change. No image, no line.
TEST_F(RevisionQuestionTest, TheLineFollowsTheSelectedDrive) {
    SimulatedMachineConfig config;
    config.platform = SimulatedPlatform::WindowsNt;
    SimulatedDriveConfig older;
    older.revision = "0.90";
    SimulatedDriveConfig newer;
    newer.revision = "1.20";
    config.drives = {older, newer};
    WindowBench window(config);
    window.form.SelDeviceChange(1);
    EXPECT_THAT(window.form.Messages(), IsEmpty());

    const ImageOnDisk image = SaveDemoImage(dir, "fw.kfs", WithRevision("1.00"));
    window.Open(image.path);
    window.form.SelDeviceChange(0);
    EXPECT_THAT(window.form.Messages(), ElementsAre("Revision: drive 1.20, image 1.00 (older: a downgrade)",
                                                    "Revision: drive 0.90, image 1.00 (newer)"));
    ASSERT_TRUE(window.form.PreviewRevision().has_value());
    EXPECT_EQ(window.form.PreviewRevision()->change, RevisionChange::Newer);
}

}  // namespace
}  // namespace keluflash::test
