// The Windows window of TForm1, under Wine: its frame and controls at their
// places, and the form's state reaching the controls and back.
#include <gtest/gtest.h>

#include <string>

#include "app/form1.h"
#include "app/recording_system_services.h"
#include "app/win32/main_window.h"
#include "drive/atapi.h"
#include "drive/sim/simulated_windows_machine.h"
#include "tests/drive/fake_drive_ports.h"

namespace keluflash {
namespace {

struct Rect {
    int left, top, width, height;
    bool operator==(const Rect&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Rect& r) {
    return out << r.left << "," << r.top << " " << r.width << "x" << r.height;
}

// A control's place within its parent's client area.
Rect PlaceOf(HWND control) {
    RECT r{};
    GetWindowRect(control, &r);
    MapWindowPoints(HWND_DESKTOP, GetParent(control), reinterpret_cast<POINT*>(&r), 2);
    return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

std::string TextOf(HWND window) {
    char text[256] = {};
    GetWindowTextA(window, text, sizeof(text));
    return text;
}

// A machine, the drive-access object, the form and the real window.
class WindowBench {
public:
    explicit WindowBench(const char* profile)
        : machine(FindSimulatedProfile(profile)->config, driveUi),
          atapi(machine.DriveTransport(), machine.Ui()),
          window(GetModuleHandleA(nullptr), ui),
          form(atapi, machine.Clock(), system, window) {
        window.Attach(form);
        form.FormCreate();
    }

    // The drive layer's boxes ("WNASPI32.DLL not found") are recorded, not shown.
    test::RecordingUi driveUi;
    Win32UserInterface ui;
    SimulatedWindowsMachine machine;
    TAtapi atapi;
    RecordingSystemServices system;
    MainWindow window;
    TForm1 form;
};

TEST(Win32Window, FrameAndControlsSitWhereTheFormPutsThem) {
    WindowBench bench("default");
    MainWindow& w = bench.window;

    EXPECT_EQ(TextOf(w.Window()), "KELU Flash V1.0B6 Trial 0.4");
    RECT client{};
    GetClientRect(w.Window(), &client);
    EXPECT_EQ(client.right, 267);
    EXPECT_EQ(client.bottom, 292);
    RECT frame{};
    GetWindowRect(w.Window(), &frame);
    EXPECT_EQ(frame.left, 400);
    EXPECT_EQ(frame.top, 166);
    const LONG style = GetWindowLongA(w.Window(), GWL_STYLE);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_FALSE(style & WS_THICKFRAME);

    const struct {
        const char* name;
        HWND control;
        Rect place;
        const char* text;
    } controls[] = {
        {"GroupBox1", w.GroupBox1(), {4, -1, 261, 65}, "Select Source : "},
        {"SelDevice", w.SelDevice(), {34, 24, 201, 21}, nullptr},
        {"GroupBox2", w.GroupBox2(), {4, 71, 261, 81}, "Select File : "},
        {"Edit1", w.Edit1(), {35, 87, 201, 21}, ""},
        {"BitBtn1", w.BitBtn1(), {90, 119, 75, 25}, "&Open"},
        {"BitBtn2", w.BitBtn2(), {33, 160, 75, 25}, "&Start"},
        {"BitBtn3", w.BitBtn3(), {161, 160, 75, 25}, "&Exit"},
        {"ListBox1", w.ListBox1(), {0, 190, 267, 83}, nullptr},
        {"StatusBar1", w.StatusBar1(), {0, 273, 267, 19}, nullptr},
        {"ProgressBar1 (in StatusBar1)", w.ProgressBar1(), {169, 2, 97, 17}, nullptr},
    };
    for (const auto& c : controls) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(PlaceOf(c.control), c.place);
        if (c.text) {
            EXPECT_EQ(TextOf(c.control), c.text);
        }
    }
    EXPECT_EQ(GetParent(w.ProgressBar1()), w.StatusBar1());
    EXPECT_TRUE(GetWindowLongA(w.ProgressBar1(), GWL_STYLE) & PBS_SMOOTH);
    EXPECT_TRUE(GetWindowLongA(w.Edit1(), GWL_STYLE) & ES_READONLY);
    EXPECT_EQ(GetWindowLongA(w.SelDevice(), GWL_STYLE) & 3, CBS_DROPDOWNLIST);

    // Tab order: the drive list, Edit1, Open, the message list, Start, Exit.
    const HWND order[] = {w.SelDevice(), w.Edit1(), w.BitBtn1(), w.ListBox1(), w.BitBtn2(), w.BitBtn3()};
    for (size_t i = 0; i + 1 < std::size(order); ++i) {
        EXPECT_EQ(GetNextDlgTabItem(w.Window(), order[i], FALSE), order[i + 1]) << i;
    }
}

TEST(Win32Window, ButtonsCarryTheirPictureForEveryState) {
    WindowBench bench("default");
    for (HWND button : {bench.window.BitBtn1(), bench.window.BitBtn2(), bench.window.BitBtn3()}) {
        BUTTON_IMAGELIST list{};
        ASSERT_TRUE(SendMessageA(button, BCM_GETIMAGELIST, 0, reinterpret_cast<LPARAM>(&list)));
        ASSERT_NE(list.himl, nullptr);
        EXPECT_EQ(ImageList_GetImageCount(list.himl), 6);  // normal, hot, pressed, disabled, default, stylus
    }
}

TEST(Win32Window, DriveListFollowsTheFormBothWays) {
    WindowBench bench("two-drives");
    MainWindow& w = bench.window;
    ASSERT_EQ(SendMessageA(w.SelDevice(), CB_GETCOUNT, 0, 0), 2);
    char item[64] = {};
    SendMessageA(w.SelDevice(), CB_GETLBTEXT, 1, reinterpret_cast<LPARAM>(item));
    EXPECT_EQ(std::string(item), bench.form.SelDeviceItems()[1]);
    EXPECT_EQ(SendMessageA(w.SelDevice(), CB_GETCURSEL, 0, 0), 0);
    EXPECT_EQ(TextOf(w.StatusBar1()), bench.form.SelDeviceItems()[0]);
    EXPECT_TRUE(IsWindowEnabled(w.BitBtn2()));

    // The operator picks the second drive.
    SendMessageA(w.SelDevice(), CB_SETCURSEL, 1, 0);
    SendMessageA(w.Window(), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(w.SelDevice()), CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(w.SelDevice()));
    EXPECT_EQ(bench.form.SelDeviceIndex(), 1);
    EXPECT_EQ(bench.atapi.SelectedHandle(), bench.atapi.Device(1).handle);
    EXPECT_EQ(TextOf(w.StatusBar1()), bench.form.SelDeviceItems()[1]);
}

TEST(Win32Window, NoDriveLeavesStartDisabled) {
    WindowBench bench("no-aspi");
    EXPECT_EQ(SendMessageA(bench.window.SelDevice(), CB_GETCOUNT, 0, 0), 0);
    EXPECT_EQ(SendMessageA(bench.window.SelDevice(), CB_GETCURSEL, 0, 0), CB_ERR);
    EXPECT_EQ(TextOf(bench.window.StatusBar1()), "");
    EXPECT_FALSE(IsWindowEnabled(bench.window.BitBtn2()));
    ASSERT_EQ(bench.driveUi.boxes.size(), 1u);
    EXPECT_EQ(bench.driveUi.boxes[0].text, "WNASPI32.DLL not found");
    EXPECT_TRUE(IsWindowEnabled(bench.window.BitBtn1()));
    EXPECT_TRUE(IsWindowEnabled(bench.window.BitBtn3()));
}

TEST(Win32Window, MessagesAndProgressReachTheirControls) {
    WindowBench bench("default");
    MainWindow& w = bench.window;
    bench.form.AddMessage("first");
    bench.form.AddMessage("");
    bench.form.AddMessage("Ok:Flash Complete!!");
    ASSERT_EQ(SendMessageA(w.ListBox1(), LB_GETCOUNT, 0, 0), 3);
    EXPECT_EQ(SendMessageA(w.ListBox1(), LB_GETCURSEL, 0, 0), 2);
    char line[64] = {};
    SendMessageA(w.ListBox1(), LB_GETTEXT, 2, reinterpret_cast<LPARAM>(line));
    EXPECT_EQ(std::string(line), "Ok:Flash Complete!!");

    // A line wider than the list scrolls to its end.
    const std::string longLine =
        "Err:The drive refused the image's checksum: a block did not reach it whole, though its write was "
        "reported done.";
    bench.form.AddMessage(longLine);
    RECT client{};
    GetClientRect(w.ListBox1(), &client);
    EXPECT_GT(SendMessageA(w.ListBox1(), LB_GETHORIZONTALEXTENT, 0, 0), client.right - client.left + 100);
    EXPECT_NE(GetWindowLongA(w.ListBox1(), GWL_STYLE) & WS_HSCROLL, 0);

    bench.form.SetProgress(40);
    EXPECT_EQ(SendMessageA(w.ProgressBar1(), PBM_GETPOS, 0, 0), 40);
    // The read-back's own range, beyond 16 bits.
    bench.form.SetProgressRange(0, 0x10000);
    bench.form.SetProgressPosition(0xF000);
    EXPECT_EQ(SendMessageA(w.ProgressBar1(), PBM_GETRANGE, FALSE, 0), 0x10000);
    EXPECT_EQ(SendMessageA(w.ProgressBar1(), PBM_GETPOS, 0, 0), 0xF000);
}

TEST(Win32Window, ClosingEndsTheLoopButLeavesTheWindowToTheRunningHandler) {
    WindowBench bench("default");
    PostMessageA(bench.window.Window(), WM_CLOSE, 0, 0);
    bench.ui.ProcessMessages();  // as an update's read-back does
    EXPECT_TRUE(bench.ui.QuitRequested());
    EXPECT_TRUE(IsWindow(bench.window.Window()));
}

TEST(Win32Window, ExitButtonClosesTheWindow) {
    WindowBench bench("default");
    SendMessageA(bench.window.BitBtn3(), BM_CLICK, 0, 0);
    bench.ui.ProcessMessages();
    EXPECT_TRUE(bench.ui.QuitRequested());
}

TEST(Win32Window, OpenDialogFilterInTheDialogsForm) {
    EXPECT_EQ(OpenFileNameFilter(kOpenDialogFilter),
              std::string("KFS file(*.kfs)\0*.kfs\0All File (*.*)\0*.*\0\0", 42));
}

}  // namespace
}  // namespace keluflash
