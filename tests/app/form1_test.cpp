// The main window's own rules: the drive list, the status panel, the message
// list, the bar, Exit, and which controls are enabled when.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/app/window_fixture.h"

namespace keluflash::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

SimulatedMachineConfig TwoDrives() {
    SimulatedMachineConfig config;
    SimulatedDriveConfig second;
    second.product = "ZXR-0160K";
    second.revision = "2.10";
    config.drives = {SimulatedDriveConfig{}, second};
    return config;
}

SimulatedMachineConfig NoDrive() {
    SimulatedMachineConfig config;
    config.drives = {};
    return config;
}

TEST(Form1Test, ListsEveryDriveAndSelectsTheFirst) {
    WindowBench window(TwoDrives());
    EXPECT_THAT(window.form.SelDeviceItems(),
                ElementsAre("KELU    ZXR-0131K        1.00", "KELU    ZXR-0160K        2.10"));
    EXPECT_EQ(window.form.SelDeviceIndex(), 0);
    EXPECT_EQ(window.form.StatusPanelText(), "KELU    ZXR-0131K        1.00");
    EXPECT_EQ(window.form.Caption(), "KELU Flash V1.0B6 Trial 0.4");
    EXPECT_EQ(window.view.captionChanged, 1);
    EXPECT_EQ(window.Controls(), (ControlsState{true, true, true, true}));
    EXPECT_EQ(window.form.Progress().min, 0);
    EXPECT_EQ(window.form.Progress().max, 100);
    EXPECT_THAT(window.form.Messages(), IsEmpty());
}

// A drive the user may not open is not listed, and the message list says
// which one, why and what to do; the usable drive is still the selected one.
TEST(Form1Test, ADriveThatCannotBeOpenedIsNamedWithReasonAndFix) {
    struct Case {
        const char* name;
        SimulatedMachineConfig config;
        const char* line;
    };
    std::vector<Case> cases;
    SimulatedMachineConfig nt = TwoDrives();
    nt.platform = SimulatedPlatform::WindowsNt;
    nt.windows.unopenableCdromLetters = {'E'};
    cases.push_back({"a limited user on Windows NT", nt,
                     "Cannot use \\\\.\\E: (Access is denied.): run keluflash as administrator"});
#if defined(__linux__)
    SimulatedMachineConfig linuxMachine = TwoDrives();
    linuxMachine.linuxAccess.unopenable = {1};
    cases.push_back({"a user outside the drive's group on Linux", linuxMachine,
                     "Cannot use /dev/sg1 (permission denied): log in at the machine's own seat, or add yourself to "
                     "the group that owns /dev/sg1 (cdrom)"});
#endif
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // The machine of the case's platform (the bench's is always a Windows one).
        RecordingView view;
        const std::unique_ptr<SimulatedMachine> machine = MakeSimulatedMachine(c.config, view);
        TAtapi atapi(machine->DriveTransport(), machine->Ui());
        RecordingSystemServices system;
        TForm1 form(atapi, machine->Clock(), system, view);
        form.FormCreate();
        EXPECT_THAT(form.SelDeviceItems(), ElementsAre("KELU    ZXR-0131K        1.00"));
        EXPECT_TRUE(form.BitBtn2Enabled());
        EXPECT_THAT(form.Messages(), ElementsAre(c.line));
        EXPECT_THAT(view.shown, ElementsAre(c.line)) << "the view is told, not only the state";
    }
}

TEST(Form1Test, PickingADriveMovesEveryLaterCommandToIt) {
    WindowBench window(TwoDrives());
    window.form.SelDeviceChange(1);
    EXPECT_EQ(window.form.SelDeviceIndex(), 1);
    EXPECT_EQ(window.form.StatusPanelText(), "KELU    ZXR-0160K        2.10");
    EXPECT_GT(window.view.controlsChanged, 0);

    TempDir dir;
    window.Open(SaveDemoImage(dir).path);
    window.form.CheckUpdate();  // the checks send INQUIRY
    EXPECT_THAT(window.Drive(0).Commands(), IsEmpty());
    EXPECT_FALSE(window.Drive(1).Commands().empty());

    window.form.SelDeviceChange(7);  // no such item: nothing changes
    EXPECT_EQ(window.form.SelDeviceIndex(), 1);
}

TEST(Form1Test, WithoutADriveStartStaysDisabledAndTheChecksRefuse) {
    WindowBench window(NoDrive());
    EXPECT_THAT(window.form.SelDeviceItems(), IsEmpty());
    EXPECT_EQ(window.form.SelDeviceIndex(), -1);
    EXPECT_EQ(window.form.StatusPanelText(), "");
    EXPECT_EQ(window.Controls(), (ControlsState{true, true, false, true}));

    window.form.SetOpenDialogFileName("/nonexistent/x.kfs");
    window.Start();
    EXPECT_THAT(window.form.Messages(), IsEmpty()) << "a disabled Start does nothing";
    TempDir dir;
    window.Open(SaveDemoImage(dir).path);
    EXPECT_FALSE(window.form.CheckUpdate());
    EXPECT_THAT(window.form.Messages(), ElementsAre("Err:No drive selected!!"));

    window.form.BitBtn3Click();
    EXPECT_TRUE(window.view.closed);
}

TEST(Form1Test, EveryMessageIsOneLineAndTheNewestIsSelected) {
    WindowBench window;
    for (const char* line : {"first", "", "third"}) {
        window.form.AddMessage(line);
        EXPECT_EQ(window.form.ListBoxItemIndex(), static_cast<int>(window.form.Messages().size()) - 1);
    }
    EXPECT_THAT(window.form.Messages(), ElementsAre("first", "", "third"));
    EXPECT_THAT(window.view.shown, ElementsAre("first", "", "third"));
}

TEST(Form1Test, TheBarStaysInsideItsRange) {
    WindowBench window;
    window.form.SetProgress(150);
    EXPECT_EQ(window.form.Progress().position, 100);
    window.form.SetProgressRange(0, 65536);
    window.form.SetProgressPosition(0xF000);
    EXPECT_EQ(window.form.Progress().position, 0xF000);
    window.form.SetProgressRange(0, 100);
    EXPECT_EQ(window.form.Progress().position, 100);
    EXPECT_EQ(window.view.bar.size(), 4u);
}

TEST(Form1Test, ACancelledDialogChangesNothing) {
    WindowBench window;
    window.form.SetOpenDialogFileName("/some/earlier.kfs");
    window.view.dialogAnswer.reset();
    window.form.BitBtn1Click();
    EXPECT_EQ(window.view.dialogs, 1);
    EXPECT_EQ(window.form.OpenDialogFileName(), "/some/earlier.kfs");
    EXPECT_EQ(window.view.edit1Changed, 0);
    EXPECT_THAT(window.form.Messages(), IsEmpty());
}

}  // namespace
}  // namespace keluflash::test
