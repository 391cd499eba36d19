// The Windows window of TForm1, under Wine: its frame and controls at their
// places, and the form's state reaching the controls and back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "app/form1.h"
#include "app/recording_system_services.h"
#include "app/win32/main_window.h"
#include "app/win32/resource_ids.h"
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

// An edge of the window's design at 96 DPI, at DPI: rounded as the system's
// MulDiv rounds. A place scales by its edges, so neighbours stay neighbours.
int AtDpi(int pixels, int dpi) { return MulDiv(pixels, dpi, 96); }

// A child at R in a parent whose client area starts at (X, Y) in the
// window: scaled in the window, then back into the parent.
Rect AtDpi(const Rect& r, int dpi, int x = 0, int y = 0) {
    const int left = AtDpi(x + r.left, dpi);
    const int top = AtDpi(y + r.top, dpi);
    return {left - AtDpi(x, dpi), top - AtDpi(y, dpi), AtDpi(x + r.left + r.width, dpi) - left,
            AtDpi(y + r.top + r.height, dpi) - top};
}

int SystemDpi() {
    const HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi;
}

// How wide TEXT is in FONT, without the accelerator's &.
int TextWidth(HFONT font, std::string text) {
    std::erase(text, '&');
    const HDC screen = GetDC(nullptr);
    const HGDIOBJ previous = SelectObject(screen, font);
    SIZE size{};
    GetTextExtentPoint32A(screen, text.c_str(), static_cast<int>(text.size()), &size);
    SelectObject(screen, previous);
    ReleaseDC(nullptr, screen);
    return size.cx;
}

HFONT FontOf(HWND control) { return reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)); }

// The window as designed, at 96 DPI.
struct Designed {
    const char* name;
    HWND (MainWindow::*control)() const;
    Rect place;
    const char* text;
    int parentTop = 0;  // where the parent's client area starts in the window's, if not the window
};
const Designed kDesign[] = {
    {"GroupBox1", &MainWindow::GroupBox1, {4, -1, 261, 65}, "Select Source : "},
    {"SelDevice", &MainWindow::SelDevice, {34, 24, 201, 21}, nullptr},
    {"GroupBox2", &MainWindow::GroupBox2, {4, 71, 261, 81}, "Select File : "},
    {"Edit1", &MainWindow::Edit1, {35, 87, 201, 21}, ""},
    {"BitBtn1", &MainWindow::BitBtn1, {90, 119, 75, 25}, "&Open"},
    {"BitBtn2", &MainWindow::BitBtn2, {33, 160, 75, 25}, "&Start"},
    {"BitBtn3", &MainWindow::BitBtn3, {161, 160, 75, 25}, "&Exit"},
    {"ListBox1", &MainWindow::ListBox1, {0, 190, 267, 83}, nullptr},
    {"StatusBar1", &MainWindow::StatusBar1, {0, 273, 267, 19}, nullptr},
    {"ProgressBar1 (in StatusBar1)", &MainWindow::ProgressBar1, {169, 2, 97, 17}, nullptr, 273},
};

// The client area, every control and the font as designed, scaled to DPI;
// each control within its parent's client area and each text within its
// control. At 96 DPI: exactly the design's pixels.
void ExpectLaidOutFor(const MainWindow& w, int dpi) {
    SCOPED_TRACE(std::to_string(dpi) + " DPI");
    EXPECT_EQ(w.Dpi(), dpi);
    RECT client{};
    GetClientRect(w.Window(), &client);
    EXPECT_EQ(client.right, AtDpi(267, dpi));
    EXPECT_EQ(client.bottom, AtDpi(292, dpi));
    LOGFONTA font{};
    ASSERT_NE(GetObjectA(FontOf(w.ListBox1()), sizeof(font), &font), 0);
    EXPECT_EQ(font.lfHeight, -AtDpi(11, dpi));
    EXPECT_EQ(std::string(font.lfFaceName), "MS Sans Serif");

    for (const Designed& c : kDesign) {
        SCOPED_TRACE(c.name);
        const HWND control = (w.*c.control)();
        const Rect place = PlaceOf(control);
        EXPECT_EQ(place, AtDpi(c.place, dpi, 0, c.parentTop));
        RECT parent{};
        GetClientRect(GetParent(control), &parent);
        EXPECT_GE(place.left, 0);
        EXPECT_LE(place.left + place.width, parent.right);
        EXPECT_GE(place.top, std::min(0, AtDpi(c.place.top, dpi)));  // GroupBox1 reaches above, as designed
        EXPECT_LE(place.top + place.height, parent.bottom);
        if (c.text) {
            EXPECT_EQ(TextOf(control), c.text);
            // The words fit, beside the button's glyph and its margins.
            const int glyph = GetWindowLongA(control, GWL_STYLE) & BS_GROUPBOX ? 0 : AtDpi(16 + 2 + 4, dpi);
            EXPECT_LE(TextWidth(FontOf(control), c.text) + glyph + AtDpi(8, dpi), place.width)
                << "\"" << c.text << "\" is cut";
        }
        EXPECT_EQ(FontOf(control) == nullptr, control == w.ProgressBar1());
    }
    EXPECT_EQ(GetParent(w.ProgressBar1()), w.StatusBar1());
    // The message list's lines grow with the font. (Wine keeps the drive
    // list's lines at its font's height, whatever the program asks.)
    EXPECT_EQ(SendMessageA(w.ListBox1(), LB_GETITEMHEIGHT, 0, 0), AtDpi(13, dpi));
}

TEST(Win32Window, FrameAndControlsSitWhereTheFormPutsThem) {
    WindowBench bench("default");
    MainWindow& w = bench.window;

    EXPECT_EQ(TextOf(w.Window()), "KELU Flash V1.0B6 Trial 0.4");
    RECT frame{};
    GetWindowRect(w.Window(), &frame);
    EXPECT_EQ(frame.left, 400);
    EXPECT_EQ(frame.top, 166);
    const LONG style = GetWindowLongA(w.Window(), GWL_STYLE);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_FALSE(style & WS_THICKFRAME);

    // At 96 DPI the design's own pixels; at 120 and 144 (the same test with
    // Wine's LogPixels set, tools/wine/at_dpi.sh) all of it scaled.
    if (const char* set = std::getenv("KELUFLASH_WINE_DPI")) {
        ASSERT_EQ(SystemDpi(), std::atoi(set)) << "Wine did not take the DPI";
    }
    ExpectLaidOutFor(w, SystemDpi());
    EXPECT_TRUE(GetWindowLongA(w.ProgressBar1(), GWL_STYLE) & PBS_SMOOTH);
    EXPECT_TRUE(GetWindowLongA(w.Edit1(), GWL_STYLE) & ES_READONLY);
    EXPECT_EQ(GetWindowLongA(w.SelDevice(), GWL_STYLE) & 3, CBS_DROPDOWNLIST);

    // Tab order: the drive list, Edit1, Open, the message list, Start, Exit.
    const HWND order[] = {w.SelDevice(), w.Edit1(), w.BitBtn1(), w.ListBox1(), w.BitBtn2(), w.BitBtn3()};
    for (size_t i = 0; i + 1 < std::size(order); ++i) {
        EXPECT_EQ(GetNextDlgTabItem(w.Window(), order[i], FALSE), order[i + 1]) << i;
    }
}

TEST(Win32Window, CaptionIsShownWholeAtTheSystemDpi) {
    WindowBench bench("default");
    const HWND window = bench.window.Window();
    // The caption's text in the system's caption font, after the icon and
    // before the three caption buttons, within the title bar.
    NONCLIENTMETRICSA metrics{};
    metrics.cbSize = sizeof(metrics);
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0));
    const UniqueFont captionFont{CreateFontIndirectA(&metrics.lfCaptionFont)};
    TITLEBARINFO title{};
    title.cbSize = sizeof(title);
    ASSERT_TRUE(GetTitleBarInfo(window, &title));
    const int bar = title.rcTitleBar.right - title.rcTitleBar.left;
    const int icon = GetSystemMetrics(SM_CXSMICON) + 2;
    const int buttons = 3 * GetSystemMetrics(SM_CXSIZE) + 4;
    const int text = TextWidth(captionFont.get(), TextOf(window));
    EXPECT_LE(icon + text + buttons, bar) << "at " << SystemDpi() << " DPI the title bar is " << bar
                                          << " pixels wide, the caption's text " << text << ", icon " << icon
                                          << ", buttons " << buttons;
}

TEST(Win32Window, AMonitorOfAnotherDpiLaysTheWindowOutAgain) {
    WindowBench bench("default");
    MainWindow& w = bench.window;
    const int system = SystemDpi();
    // Moved to monitors of 120, 144 and 192 DPI, then back: the system
    // suggests each time where the window goes and how large it is.
    for (const int dpi : {120, 144, 192, system}) {
        RECT suggested{0, 0, AtDpi(267, dpi), AtDpi(292, dpi)};
        AdjustWindowRectEx(&suggested, static_cast<DWORD>(GetWindowLongA(w.Window(), GWL_STYLE)), FALSE, 0);
        OffsetRect(&suggested, 500 - suggested.left, 200 - suggested.top);
        SendMessageA(w.Window(), 0x02E0 /* WM_DPICHANGED */, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
        RECT frame{};
        GetWindowRect(w.Window(), &frame);
        EXPECT_EQ(frame.left, 500);
        EXPECT_EQ(frame.top, 200);
        ExpectLaidOutFor(w, dpi);
        // The glyphs grow by whole pixels only.
        BUTTON_IMAGELIST list{};
        SendMessageA(w.BitBtn2(), BCM_GETIMAGELIST, 0, reinterpret_cast<LPARAM>(&list));
        int side = 0;
        int height = 0;
        ImageList_GetIconSize(list.himl, &side, &height);
        EXPECT_EQ(side, 16 * std::max(1, dpi / 96)) << dpi << " DPI";
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

TEST(Win32Window, IconComesInEverySize) {
    // keluflash.ico in the program's resources: 16 colours at 32x32, and
    // RGBA at every size from 16 to 256 for the system to pick from at any DPI.
#pragma pack(push, 2)
    struct Entry {
        BYTE width, height, colours, reserved;
        WORD planes, bits;
        DWORD bytes;
        WORD id;
    };
#pragma pack(pop)
    const HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(KELUFLASH_ICON), MAKEINTRESOURCEA(14));  // RT_GROUP_ICON
    ASSERT_NE(found, nullptr);
    const auto* directory = static_cast<const WORD*>(LockResource(LoadResource(nullptr, found)));
    ASSERT_NE(directory, nullptr);
    const auto* entries = reinterpret_cast<const Entry*>(directory + 3);
    std::vector<std::pair<int, int>> sizes;  // (side, bits per pixel)
    for (WORD i = 0; i < directory[2]; ++i) {
        sizes.emplace_back(entries[i].width == 0 ? 256 : entries[i].width, entries[i].bits);
    }
    std::sort(sizes.begin(), sizes.end());
    const std::vector<std::pair<int, int>> expected = {{16, 32}, {24, 32}, {32, 4},   {32, 32},
                                                       {48, 32}, {64, 32}, {128, 32}, {256, 32}};
    EXPECT_EQ(sizes, expected);
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
        "Err:The drive took the firmware and did not answer within 120 s: it may still be programming; "
        "leave it powered.";
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
