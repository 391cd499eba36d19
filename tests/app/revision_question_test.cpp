// The revision preview in the window: a line when an image is opened or the
// drive changes, and one Yes/No question before the first write of an image
// that is older than the drive's firmware or cannot be ordered against it,
// and for nothing else.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "flash/revision_preview.h"
#include "tests/app/window_fixture.h"

namespace keluflash::test {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
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

constexpr const char* kNoRevision = "\0\0\0\0";  // the model text ends before its revision

// An older image and one whose revision cannot be ordered ask, and the
// question says which of the two it is; a "No" (here the box's default
// answer) keeps the drive untouched. A newer image and the same revision
// flash without a question.
TEST_F(RevisionQuestionTest, AnOlderOrUnorderedImageAsksAndNoWritesNothing) {
    constexpr const char* kOlder = "older than the drive's";
    constexpr const char* kUnordered = "cannot be ordered against the drive's";
    struct Row {
        const char* drive;
        std::string image;  // as the identification block holds it, padded with spaces
        const char* line;
        const char* asks;   // what the question names; null: no question
    };
    const Row rows[] = {
        {"1.00", "1.05", "Revision: drive 1.00, image 1.05 (newer)", nullptr},
        {"1.00", "1.00", "Revision: drive 1.00, image 1.00 (the same: flashing again only repairs)", nullptr},
        {"1.9", "1.10", "Revision: drive 1.9, image 1.10 (newer)", nullptr},
        {"1.1", "1.1", "Revision: drive 1.1, image 1.1 (the same: flashing again only repairs)", nullptr},
        {"1.05", "1.00", "Revision: drive 1.05, image 1.00 (older: a downgrade)", kOlder},
        {"1.10", "1.9", "Revision: drive 1.10, image 1.9 (older: a downgrade)", kOlder},
        {"1.0A", "1.00", "Revision: drive 1.0A, image 1.00 (cannot be ordered: it may be a downgrade)", kUnordered},
        // Against a drive at 1.10, every form that cannot be ordered.
        {"1.10", "1.0A", "Revision: drive 1.10, image 1.0A (cannot be ordered: it may be a downgrade)", kUnordered},
        {"1.10", "0.9a", "Revision: drive 1.10, image 0.9a (cannot be ordered: it may be a downgrade)", kUnordered},
        {"1.10", ".110", "Revision: drive 1.10, image .110 (cannot be ordered: it may be a downgrade)", kUnordered},
        {"1.10", "1,05", "Revision: drive 1.10, image 1,05 (cannot be ordered: it may be a downgrade)", kUnordered},
        {"1.10", "+1.0", "Revision: drive 1.10, image +1.0 (cannot be ordered: it may be a downgrade)", kUnordered},
        {"1.10", "\xD9\xA1\xD9\xA0", "Revision: drive 1.10, image \xD9\xA1\xD9\xA0 (cannot be ordered: it may be a downgrade)",
         kUnordered},
        {"1.10", "    ", "Revision: drive 1.10, image none (cannot be ordered: it may be a downgrade)", kUnordered},
        {"1.10", std::string(kNoRevision, 4), "Revision: drive 1.10, image none (cannot be ordered: it may be a downgrade)",
         kUnordered},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.drive) + " -> \"" + row.image + "\"");
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
        const std::vector<MessageBoxCall> boxes = YesNoBoxes(window.view);
        EXPECT_EQ(boxes.size(), row.asks ? 1u : 0u);
        if (row.asks) {
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_THAT(boxes[0].text, HasSubstr(row.asks));
            EXPECT_EQ(boxes[0].text, DowngradeQuestion(*report.revision));
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
// button is No; for an older image and for one that cannot be ordered alike.
TEST_F(RevisionQuestionTest, AnsweredYesItIsFlashedAfterOneQuestion) {
    const struct {
        const char* image;
        const char* question;
    } rows[] = {
        {"1.00", "The image holds firmware 1.00, older than the drive's 2.00: a downgrade.\nFlash it anyway ?"},
        {"2.0A", "The image's firmware revision \"2.0A\" cannot be ordered against the drive's \"2.00\": it may be a "
                 "downgrade.\nFlash it anyway ?"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.image);
        SimulatedDriveConfig drive;
        drive.revision = "2.00";
        WindowBench window(drive);
        const ImageOnDisk image = SaveDemoImage(dir, "fw.kfs", WithRevision(row.image));
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
        EXPECT_EQ(boxes[0].text, row.question);
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
