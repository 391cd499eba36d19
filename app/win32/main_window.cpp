#include "app/win32/main_window.h"

#include <algorithm>
#include <exception>
#include <iterator>

#include "app/win32/resource_ids.h"
#include "app/win32/system_function.h"
#include "drive/win32/win32_platform_port.h"

#include <commdlg.h>

namespace keluflash {

namespace {

constexpr const char* kWindowClass = "TForm1";
constexpr int kLeft = 400;  // screen pixels at every DPI
constexpr int kTop = 166;
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;  // fixed size

// The window as designed, in pixels at 96 DPI; at any other DPI every edge
// is scaled (Scaled), so neighbours stay neighbours.
constexpr int kDesignDpi = 96;
struct Place {
    int left, top, width, height;
};
constexpr Place kClient{0, 0, 267, 292};
constexpr Place kGroupBox1{4, -1, 261, 65};  // one pixel above the client area
constexpr Place kSelDevice{4 + 30, -1 + 25, 201, 21};  // places within the group boxes, in the window
constexpr Place kGroupBox2{4, 71, 261, 81};
constexpr Place kEdit1{4 + 31, 71 + 16, 201, 21};
constexpr Place kBitBtn1{4 + 86, 71 + 48, 75, 25};
constexpr Place kBitBtn2{33, 160, 75, 25};
constexpr Place kBitBtn3{161, 160, 75, 25};
constexpr Place kListBox1{0, 190, 267, 83};
constexpr Place kStatusBar1{0, 273, 267, 19};
constexpr Place kProgressBar1{169, 2, 97, 17};  // within StatusBar1
constexpr int kFontHeight = 11;                 // "MS Sans Serif" 8 point
constexpr int kItemHeight = 13;
constexpr int kSelDeviceDropItems = 8;         // lines of the opened drive list
constexpr int kSelDeviceFieldItemHeight = 15;  // the drive list's field is 21 pixels high with it
constexpr int kGlyphMargin = 2;
constexpr int kTextMargin = 6;  // beside the widest line of the message list

constexpr int kGlyphSize = 16;
constexpr COLORREF kGlyphTransparent = RGB(0x80, 0x80, 0x00);  // the glyphs' olive

// Messages of per-monitor DPI (Windows 8.1 and 10), which older headers lack.
constexpr UINT kWmDpiChanged = 0x02E0;
constexpr UINT kWmGetDpiScaledSize = 0x02E4;

int Scaled(int pixels, int dpi) { return MulDiv(pixels, dpi, kDesignDpi); }

RECT Scaled(const Place& place, int dpi) {
    return {Scaled(place.left, dpi), Scaled(place.top, dpi), Scaled(place.left + place.width, dpi),
            Scaled(place.top + place.height, dpi)};
}

// A child's place within its parent, scaled by its edges in the window, so
// that it ends where its parent ends.
RECT Scaled(const Place& place, const Place& parent, int dpi) {
    const RECT r = Scaled({parent.left + place.left, parent.top + place.top, place.width, place.height}, dpi);
    const int x = Scaled(parent.left, dpi);
    const int y = Scaled(parent.top, dpi);
    return {r.left - x, r.top - y, r.right - x, r.bottom - y};
}

void MoveTo(HWND control, const RECT& r) {
    MoveWindow(control, r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
}

// The DPI of the window's monitor where the system has one per monitor
// (Windows 10), else the system's own (LOGPIXELSY works back to XP).
int WindowDpi(HWND window) {
    using GetDpiForWindow = UINT(WINAPI*)(HWND);
    if (const auto dpiOf = SystemFunction<GetDpiForWindow>("user32.dll", "GetDpiForWindow")) {
        if (const UINT dpi = dpiOf(window)) return static_cast<int>(dpi);
    }
    const HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : kDesignDpi;
}

// The window's outer size for its client area at DPI: the frame and caption
// at that DPI where the system scales them per monitor (Windows 10).
SIZE FrameSize(int dpi) {
    RECT frame = Scaled(kClient, dpi);
    using AdjustForDpi = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
    const auto adjustForDpi = SystemFunction<AdjustForDpi>("user32.dll", "AdjustWindowRectExForDpi");
    if (adjustForDpi == nullptr || !adjustForDpi(&frame, kWindowStyle, FALSE, 0, static_cast<UINT>(dpi))) {
        AdjustWindowRectEx(&frame, kWindowStyle, FALSE, 0);
    }
    return {frame.right - frame.left, frame.bottom - frame.top};
}

enum ControlId : int {
    kIdGroupBox1 = 100,
    kIdSelDevice,
    kIdGroupBox2,
    kIdEdit1,
    kIdBitBtn1,
    kIdListBox1,
    kIdBitBtn2,
    kIdBitBtn3,
    kIdStatusBar1,
    kIdProgressBar1,
};

// A memory device context compatible with the screen, deleted on scope exit.
class MemoryDc {
public:
    MemoryDc() : m_dc(CreateCompatibleDC(nullptr)) {}
    ~MemoryDc() { DeleteDC(m_dc); }
    MemoryDc(const MemoryDc&) = delete;
    MemoryDc& operator=(const MemoryDc&) = delete;
    HDC Get() const { return m_dc; }

private:
    HDC m_dc;
};

// Keeps an object selected into a device context for its own lifetime.
class Selection {
public:
    Selection(HDC dc, HGDIOBJ object) : m_dc(dc), m_previous(SelectObject(dc, object)) {}
    ~Selection() { SelectObject(m_dc, m_previous); }
    Selection(const Selection&) = delete;
    Selection& operator=(const Selection&) = delete;

private:
    HDC m_dc;
    HGDIOBJ m_previous;
};

using UniqueBitmap = std::unique_ptr<std::remove_pointer_t<HBITMAP>, GdiObjectDeleter>;

// A button's pictures, one per push-button state (normal, hot, pressed,
// disabled, default, stylus hot): the greyed half of the picture for the
// disabled state, the normal half for every other. Each SIDE pixels square:
// the 16-pixel glyph grown by whole pixels, so its pixels stay sharp.
UniqueImageList ButtonGlyphs(HINSTANCE instance, int bitmap, int side) {
    const UniqueBitmap picture{static_cast<HBITMAP>(
        LoadImageA(instance, MAKEINTRESOURCEA(bitmap), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION))};
    if (!picture) return nullptr;
    constexpr int kStates = 6;
    constexpr int kDisabledState = 3;
    const HDC screen = GetDC(nullptr);
    UniqueBitmap strip{CreateCompatibleBitmap(screen, side * kStates, side)};
    ReleaseDC(nullptr, screen);
    {
        const MemoryDc from;
        const MemoryDc to;
        const Selection fromPicture(from.Get(), picture.get());
        const Selection toStrip(to.Get(), strip.get());
        SetStretchBltMode(to.Get(), COLORONCOLOR);
        for (int state = 0; state < kStates; ++state) {
            const int half = state == kDisabledState ? kGlyphSize : 0;
            StretchBlt(to.Get(), state * side, 0, side, side, from.Get(), half, 0, kGlyphSize, kGlyphSize, SRCCOPY);
        }
    }
    UniqueImageList glyphs{ImageList_Create(side, side, ILC_COLOR24 | ILC_MASK, kStates, 0)};
    if (glyphs) ImageList_AddMasked(glyphs.get(), strip.get(), kGlyphTransparent);
    return glyphs;
}

void RegisterWindowClass(HINSTANCE instance, WNDPROC procedure) {
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    // The icon's sizes for the system's DPI (32 and 16 at 96), from the
    // icon's own pictures of every size.
    windowClass.hIcon = static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(KELUFLASH_ICON), IMAGE_ICON,
                                                      GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON),
                                                      LR_DEFAULTCOLOR));
    windowClass.hIconSm = static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(KELUFLASH_ICON), IMAGE_ICON,
                                                        GetSystemMetrics(SM_CXSMICON),
                                                        GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
    windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kWindowClass;
    // A second window in the same process (tests) finds the class registered.
    RegisterClassExA(&windowClass);
}

}  // namespace

std::string OpenFileNameFilter(const std::string& filter) {
    std::string result = filter;
    for (char& c : result) {
        if (c == '|') c = '\0';
    }
    result.push_back('\0');
    result.push_back('\0');
    return result;
}

MainWindow::MainWindow(HINSTANCE instance, Win32UserInterface& ui) : m_instance(instance), m_ui(ui) {
    // ICC_STANDARD_CLASSES came with comctl32 6.0; an older one (Windows 98,
    // Me, 2000) refuses the whole call for it, and the progress bar would
    // never be registered: asked again without it.
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    if (!InitCommonControlsEx(&controls)) {
        controls.dwICC = ICC_WIN95_CLASSES;
        InitCommonControlsEx(&controls);
    }
    RegisterWindowClass(instance, &MainWindow::WindowProc);

    // Created at the system's DPI, then laid out for its monitor's.
    const SIZE frame = FrameSize(WindowDpi(nullptr));
    m_window = CreateWindowExA(0, kWindowClass, "", kWindowStyle, kLeft, kTop, frame.cx, frame.cy, nullptr, nullptr,
                               instance, this);

    // Created in tab order; LayOut puts them in their places.
    m_groupBox1 = CreateControl(WC_BUTTONA, "Select Source : ", BS_GROUPBOX, kIdGroupBox1);
    m_selDevice = CreateControl(WC_COMBOBOXA, "", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, kIdSelDevice);
    m_groupBox2 = CreateControl(WC_BUTTONA, "Select File : ", BS_GROUPBOX, kIdGroupBox2);
    m_edit1 = CreateControl(WC_EDITA, "", ES_READONLY | ES_AUTOHSCROLL | WS_TABSTOP, kIdEdit1, WS_EX_CLIENTEDGE);
    m_bitBtn1 = CreateBitBtn("&Open", kIdBitBtn1);
    m_listBox1 = CreateControl(WC_LISTBOXA, "", LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_HSCROLL | WS_TABSTOP,
                               kIdListBox1, WS_EX_CLIENTEDGE);
    m_bitBtn2 = CreateBitBtn("&Start", kIdBitBtn2);
    m_bitBtn3 = CreateBitBtn("&Exit", kIdBitBtn3);

    // The status bar keeps the place it is given; its one panel reaches to
    // its right end, and the progress bar covers the right part of it.
    m_statusBar1 = CreateControl(STATUSCLASSNAMEA, "", CCS_NORESIZE | CCS_NOPARENTALIGN, kIdStatusBar1);
    int panelEnds[1] = {-1};
    SendMessageA(m_statusBar1, SB_SETPARTS, 1, reinterpret_cast<LPARAM>(panelEnds));
    m_progressBar1 = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE | PBS_SMOOTH, 0, 0, 0, 0,
                                     m_statusBar1, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kIdProgressBar1)),
                                     m_instance, nullptr);
    SendMessageA(m_progressBar1, PBM_SETRANGE32, 0, 100);
    LayOut(WindowDpi(m_window));
    const SIZE laidOut = FrameSize(m_dpi);
    SetWindowPos(m_window, nullptr, 0, 0, laidOut.cx, laidOut.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    m_ui.SetKeyboardWindow(m_window);
    m_ui.SetOwnerWindow(m_window);
}

MainWindow::~MainWindow() {
    m_ui.SetKeyboardWindow(nullptr);
    m_ui.SetOwnerWindow(nullptr);
    if (IsWindow(m_window)) DestroyWindow(m_window);
}

HWND MainWindow::CreateControl(const char* windowClass, const char* text, DWORD style, int id, DWORD exStyle) {
    return CreateWindowExA(exStyle, windowClass, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, m_window,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), m_instance, nullptr);
}

HWND MainWindow::CreateBitBtn(const char* caption, int id) {
    return CreateControl(WC_BUTTONA, caption, BS_PUSHBUTTON | WS_TABSTOP, id);
}

void MainWindow::LayOut(int dpi) {
    m_dpi = dpi;
    const auto scaled = [dpi](int pixels) { return Scaled(pixels, dpi); };

    // The font first: the combo box measures its field with it.
    UniqueFont font{CreateFontA(-scaled(kFontHeight), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET,
                                OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                                "MS Sans Serif")};
    for (HWND control : {m_groupBox1, m_selDevice, m_groupBox2, m_edit1, m_bitBtn1, m_listBox1, m_bitBtn2, m_bitBtn3,
                         m_statusBar1}) {
        SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
    }
    m_font = std::move(font);  // the old font only now: the controls no longer use it

    MoveTo(m_groupBox1, Scaled(kGroupBox1, dpi));
    MoveTo(m_groupBox2, Scaled(kGroupBox2, dpi));
    MoveTo(m_edit1, Scaled(kEdit1, dpi));
    MoveTo(m_bitBtn1, Scaled(kBitBtn1, dpi));
    MoveTo(m_bitBtn2, Scaled(kBitBtn2, dpi));
    MoveTo(m_bitBtn3, Scaled(kBitBtn3, dpi));
    MoveTo(m_listBox1, Scaled(kListBox1, dpi));
    SendMessageA(m_listBox1, LB_SETITEMHEIGHT, 0, scaled(kItemHeight));
    // The lines' widths in the new font.
    SendMessageA(m_listBox1, LB_SETHORIZONTALEXTENT, 0, 0);
    const LRESULT lines = SendMessageA(m_listBox1, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < lines; ++i) {
        std::string line(static_cast<size_t>(SendMessageA(m_listBox1, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0)), '\0');
        SendMessageA(m_listBox1, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(line.data()));
        WidenListBox1For(line);
    }
    MoveTo(m_statusBar1, Scaled(kStatusBar1, dpi));
    MoveTo(m_progressBar1, Scaled(kProgressBar1, kStatusBar1, dpi));

    // A drop-down list is as high as its field, whatever height it is given
    // (that height is the opened list's). The field's item height, scaled,
    // makes it as high as designed once corrected by what its frame adds here.
    RECT field = Scaled(kSelDevice, dpi);
    const int fieldHeight = field.bottom - field.top;
    field.bottom = field.top + fieldHeight + kSelDeviceDropItems * scaled(kItemHeight);
    MoveTo(m_selDevice, field);
    SendMessageA(m_selDevice, CB_SETITEMHEIGHT, 0, scaled(kItemHeight));
    SendMessageA(m_selDevice, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), scaled(kSelDeviceFieldItemHeight));
    RECT shown{};
    GetWindowRect(m_selDevice, &shown);
    SendMessageA(m_selDevice, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1),
                 scaled(kSelDeviceFieldItemHeight) + fieldHeight - (shown.bottom - shown.top));

    // The glyphs grow by whole pixels: twice as large from 192 DPI on.
    const int glyphSide = kGlyphSize * std::max(1, dpi / kDesignDpi);
    const struct {
        HWND button;
        int bitmap;
    } buttons[] = {{m_bitBtn1, KELUFLASH_BITMAP_OPEN}, {m_bitBtn2, KELUFLASH_BITMAP_START},
                   {m_bitBtn3, KELUFLASH_BITMAP_EXIT}};
    for (size_t i = 0; i < std::size(buttons); ++i) {
        UniqueImageList glyphs = ButtonGlyphs(m_instance, buttons[i].bitmap, glyphSide);
        if (glyphs) {
            BUTTON_IMAGELIST list{glyphs.get(), {scaled(kGlyphMargin), 0, 0, 0}, BUTTON_IMAGELIST_ALIGN_LEFT};
            SendMessageA(buttons[i].button, BCM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(&list));
        }
        m_glyphs[i] = std::move(glyphs);
    }
}

void MainWindow::Attach(TForm1& form) {
    m_form = &form;
    FillSelDevice();
    ControlsChanged();
    Edit1Changed();
    ProgressChanged();
    CaptionChanged();
    SendMessageA(m_listBox1, LB_RESETCONTENT, 0, 0);
    for (const std::string& line : form.Messages()) MessageAdded(line);
}

void MainWindow::Show(int showCommand) {
    ShowWindow(m_window, showCommand);
    UpdateWindow(m_window);
}

void MainWindow::FillSelDevice() {
    SendMessageA(m_selDevice, CB_RESETCONTENT, 0, 0);
    for (const std::string& item : m_form->SelDeviceItems()) {
        SendMessageA(m_selDevice, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
    }
}

void MainWindow::ControlsChanged() {
    if (m_form == nullptr) return;
    if (static_cast<size_t>(SendMessageA(m_selDevice, CB_GETCOUNT, 0, 0)) != m_form->SelDeviceItems().size()) {
        FillSelDevice();
    }
    SendMessageA(m_selDevice, CB_SETCURSEL, static_cast<WPARAM>(m_form->SelDeviceIndex()), 0);
    EnableWindow(m_selDevice, m_form->SelDeviceEnabled());
    EnableWindow(m_bitBtn1, m_form->BitBtn1Enabled());
    EnableWindow(m_bitBtn2, m_form->BitBtn2Enabled());
    EnableWindow(m_bitBtn3, m_form->BitBtn3Enabled());
    SendMessageA(m_statusBar1, SB_SETTEXTA, 0, reinterpret_cast<LPARAM>(m_form->StatusPanelText().c_str()));
}

void MainWindow::MessageAdded(const std::string& line) {
    SendMessageA(m_listBox1, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
    WidenListBox1For(line);
    // Painted at once: the operation that reported the line may keep the
    // thread busy for a long time.
    UpdateWindow(m_listBox1);
    const LRESULT count = SendMessageA(m_listBox1, LB_GETCOUNT, 0, 0);
    SendMessageA(m_listBox1, LB_SETCURSEL, static_cast<WPARAM>(count - 1), 0);
    UpdateWindow(m_listBox1);
}

void MainWindow::WidenListBox1For(const std::string& line) {
    // A line wider than the list can be scrolled to its end.
    if (const HDC dc = GetDC(m_listBox1)) {
        SIZE size{};
        {
            const Selection font(dc, m_font.get());
            GetTextExtentPoint32A(dc, line.c_str(), static_cast<int>(line.size()), &size);
        }
        ReleaseDC(m_listBox1, dc);
        const int extent = static_cast<int>(size.cx) + Scaled(kTextMargin, m_dpi);
        if (extent > SendMessageA(m_listBox1, LB_GETHORIZONTALEXTENT, 0, 0))
            SendMessageA(m_listBox1, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(extent), 0);
    }
}

void MainWindow::ProgressChanged() {
    if (m_form == nullptr) return;
    const ProgressState& progress = m_form->Progress();
    SendMessageA(m_progressBar1, PBM_SETRANGE32, static_cast<WPARAM>(progress.min), progress.max);
    SendMessageA(m_progressBar1, PBM_SETPOS, static_cast<WPARAM>(progress.position), 0);
    UpdateWindow(m_progressBar1);
}

void MainWindow::Edit1Changed() {
    if (m_form != nullptr) SetWindowTextA(m_edit1, m_form->Edit1Text().c_str());
}

void MainWindow::CaptionChanged() {
    if (m_form != nullptr) SetWindowTextA(m_window, m_form->Caption().c_str());
}

bool MainWindow::ExecuteOpenDialog(std::string& fileName) {
    const std::string filter = OpenFileNameFilter(kOpenDialogFilter);
    char file[MAX_PATH] = {};
    fileName.copy(file, sizeof(file) - 1);
    OPENFILENAMEA dialog{};
    // Windows 95, 98 and Me refuse the structure with the fields Windows 2000
    // added at its end; they know it by its older size.
    dialog.lStructSize = Win32PlatformPort().IsNtFamily() ? sizeof(dialog) : OPENFILENAME_SIZE_VERSION_400A;
    dialog.hwndOwner = m_window;
    dialog.lpstrFilter = filter.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file;
    dialog.nMaxFile = sizeof(file);
    dialog.Flags = OFN_HIDEREADONLY | OFN_ENABLESIZING | OFN_EXPLORER;
    if (!GetOpenFileNameA(&dialog)) return false;
    fileName = file;
    return true;
}

void MainWindow::CloseWindow() { PostQuitMessage(0); }

LRESULT CALLBACK MainWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self == nullptr || self->m_window == nullptr) return DefWindowProcA(window, message, wParam, lParam);
    return self->Handle(message, wParam, lParam);
}

LRESULT MainWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            // An exception must not cross the system's dispatch: it is shown
            // here, and the message loop goes on.
            try {
                Command(LOWORD(wParam), HIWORD(wParam));
            } catch (const std::exception& error) {
                MessageBoxA(m_window, error.what(), kApplicationTitle, MB_OK | MB_ICONSTOP);
            }
            return 0;
        case WM_CTLCOLORSTATIC:
            // The read-only Edit1 keeps the white of a text field.
            if (reinterpret_cast<HWND>(lParam) == m_edit1) {
                const HDC dc = reinterpret_cast<HDC>(wParam);
                SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
                SetBkColor(dc, GetSysColor(COLOR_WINDOW));
                return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
            }
            break;
        case kWmGetDpiScaledSize: {
            // The size for a monitor of another DPI, asked before the move:
            // the client area as designed, scaled, inside that DPI's frame.
            *reinterpret_cast<SIZE*>(lParam) = FrameSize(static_cast<int>(wParam));
            return TRUE;
        }
        case kWmDpiChanged: {
            // Moved to a monitor of another DPI: the system suggests the
            // window's new place and size.
            const RECT& suggested = *reinterpret_cast<const RECT*>(lParam);
            SetWindowPos(m_window, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                         suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
            LayOut(LOWORD(wParam));
            return 0;
        }
        case WM_QUERYENDSESSION:
            // A shutdown in the middle of an update would leave the drive
            // half-written: refuse it while the update runs.
            if (m_form != nullptr && m_form->Updating()) return FALSE;
            break;
        case WM_CLOSE:
            // Ends the message loop, which then destroys the window. A close
            // while a handler runs takes effect once the handler returns.
            if (m_form != nullptr) m_form->CloseDeferred();
            PostQuitMessage(0);
            return 0;
        default:
            break;
    }
    return DefWindowProcA(m_window, message, wParam, lParam);
}

void MainWindow::Command(int id, int code) {
    if (m_form == nullptr) return;
    switch (id) {
        case kIdSelDevice:
            if (code == CBN_SELCHANGE) {
                const LRESULT index = SendMessageA(m_selDevice, CB_GETCURSEL, 0, 0);
                if (index != CB_ERR) m_form->SelDeviceChange(static_cast<int>(index));
            }
            break;
        case kIdBitBtn1:
            if (code == BN_CLICKED) m_form->BitBtn1Click();
            break;
        case kIdBitBtn2:
            if (code == BN_CLICKED) m_form->BitBtn2Click();
            break;
        case kIdBitBtn3:
            if (code == BN_CLICKED) m_form->BitBtn3Click();
            break;
        default:
            break;
    }
}

}  // namespace keluflash
