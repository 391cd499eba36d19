#include "app/win32/main_window.h"

#include <exception>

#include "app/win32/resource_ids.h"

#include <commdlg.h>

namespace keluflash {

namespace {

constexpr const char* kWindowClass = "TForm1";
constexpr int kClientWidth = 267;
constexpr int kClientHeight = 292;
constexpr int kLeft = 400;
constexpr int kTop = 166;
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;  // fixed size

constexpr int kGlyphSize = 16;
constexpr COLORREF kGlyphTransparent = RGB(0x80, 0x80, 0x00);  // the glyphs' olive

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
// disabled state, the normal half for every other.
UniqueImageList ButtonGlyphs(HINSTANCE instance, int bitmap) {
    const UniqueBitmap picture{static_cast<HBITMAP>(
        LoadImageA(instance, MAKEINTRESOURCEA(bitmap), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION))};
    if (!picture) return nullptr;
    constexpr int kStates = 6;
    constexpr int kDisabledState = 3;
    const HDC screen = GetDC(nullptr);
    UniqueBitmap strip{CreateCompatibleBitmap(screen, kGlyphSize * kStates, kGlyphSize)};
    ReleaseDC(nullptr, screen);
    {
        const MemoryDc from;
        const MemoryDc to;
        const Selection fromPicture(from.Get(), picture.get());
        const Selection toStrip(to.Get(), strip.get());
        for (int state = 0; state < kStates; ++state) {
            const int half = state == kDisabledState ? kGlyphSize : 0;
            BitBlt(to.Get(), state * kGlyphSize, 0, kGlyphSize, kGlyphSize, from.Get(), half, 0, SRCCOPY);
        }
    }
    UniqueImageList glyphs{ImageList_Create(kGlyphSize, kGlyphSize, ILC_COLOR24 | ILC_MASK, kStates, 0)};
    if (glyphs) ImageList_AddMasked(glyphs.get(), strip.get(), kGlyphTransparent);
    return glyphs;
}

void RegisterWindowClass(HINSTANCE instance, WNDPROC procedure) {
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    windowClass.hIcon = static_cast<HICON>(
        LoadImageA(instance, MAKEINTRESOURCEA(KELUFLASH_ICON), IMAGE_ICON, 32, 32, LR_DEFAULTCOLOR));
    windowClass.hIconSm = static_cast<HICON>(
        LoadImageA(instance, MAKEINTRESOURCEA(KELUFLASH_ICON), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
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
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    RegisterWindowClass(instance, &MainWindow::WindowProc);

    RECT frame{0, 0, kClientWidth, kClientHeight};
    AdjustWindowRectEx(&frame, kWindowStyle, FALSE, 0);
    m_window = CreateWindowExA(0, kWindowClass, "", kWindowStyle, kLeft, kTop, frame.right - frame.left,
                               frame.bottom - frame.top, nullptr, nullptr, instance, this);
    m_font.reset(CreateFontA(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "MS Sans Serif"));

    // Created in tab order; the group boxes' contents at their places
    // within the group boxes (GroupBox1 at 4,-1, GroupBox2 at 4,71).
    m_groupBox1 = CreateControl(WC_BUTTONA, "Select Source : ", BS_GROUPBOX, 4, -1, 261, 65, kIdGroupBox1);
    m_selDevice = CreateControl(WC_COMBOBOXA, "", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 4 + 30, -1 + 25, 201,
                                21 + 8 * 13, kIdSelDevice);
    SendMessageA(m_selDevice, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), 15);  // a 21-pixel field
    SendMessageA(m_selDevice, CB_SETITEMHEIGHT, 0, 13);
    m_groupBox2 = CreateControl(WC_BUTTONA, "Select File : ", BS_GROUPBOX, 4, 71, 261, 81, kIdGroupBox2);
    m_edit1 = CreateControl(WC_EDITA, "", ES_READONLY | ES_AUTOHSCROLL | WS_TABSTOP, 4 + 31, 71 + 16, 201, 21,
                            kIdEdit1, WS_EX_CLIENTEDGE);
    m_bitBtn1 = CreateBitBtn("&Open", KELUFLASH_BITMAP_OPEN, 4 + 86, 71 + 48, kIdBitBtn1);
    m_listBox1 = CreateControl(WC_LISTBOXA, "", LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_HSCROLL | WS_TABSTOP, 0, 190, 267, 83,
                               kIdListBox1, WS_EX_CLIENTEDGE);
    SendMessageA(m_listBox1, LB_SETITEMHEIGHT, 0, 13);
    m_bitBtn2 = CreateBitBtn("&Start", KELUFLASH_BITMAP_START, 33, 160, kIdBitBtn2);
    m_bitBtn3 = CreateBitBtn("&Exit", KELUFLASH_BITMAP_EXIT, 161, 160, kIdBitBtn3);

    // The status bar keeps the place it is given; its one panel reaches to
    // its right end, and the progress bar covers the right part of it.
    m_statusBar1 = CreateControl(STATUSCLASSNAMEA, "", CCS_NORESIZE | CCS_NOPARENTALIGN, 0, 273, 267, 19,
                                 kIdStatusBar1);
    int panelEnds[1] = {-1};
    SendMessageA(m_statusBar1, SB_SETPARTS, 1, reinterpret_cast<LPARAM>(panelEnds));
    m_progressBar1 = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE | PBS_SMOOTH, 169, 2, 97, 17,
                                     m_statusBar1, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kIdProgressBar1)),
                                     m_instance, nullptr);
    SendMessageA(m_progressBar1, PBM_SETRANGE32, 0, 100);
    m_ui.SetKeyboardWindow(m_window);
    m_ui.SetOwnerWindow(m_window);
}

MainWindow::~MainWindow() {
    m_ui.SetKeyboardWindow(nullptr);
    m_ui.SetOwnerWindow(nullptr);
    if (IsWindow(m_window)) DestroyWindow(m_window);
}

HWND MainWindow::CreateControl(const char* windowClass, const char* text, DWORD style, int x, int y, int width,
                               int height, int id, DWORD exStyle) {
    HWND control = CreateWindowExA(exStyle, windowClass, text, WS_CHILD | WS_VISIBLE | style, x, y, width, height,
                                   m_window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), m_instance, nullptr);
    SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(m_font.get()), FALSE);
    return control;
}

HWND MainWindow::CreateBitBtn(const char* caption, int bitmap, int x, int y, int id) {
    HWND button = CreateControl(WC_BUTTONA, caption, BS_PUSHBUTTON | WS_TABSTOP, x, y, 75, 25, id);
    UniqueImageList& glyphs = m_glyphs[m_glyphCount++];
    glyphs = ButtonGlyphs(m_instance, bitmap);
    if (glyphs) {
        BUTTON_IMAGELIST list{glyphs.get(), {2, 0, 0, 0}, BUTTON_IMAGELIST_ALIGN_LEFT};
        SendMessageA(button, BCM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(&list));
    }
    return button;
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
    // A line wider than the list can be scrolled to its end.
    if (const HDC dc = GetDC(m_listBox1)) {
        SIZE size{};
        {
            const Selection font(dc, m_font.get());
            GetTextExtentPoint32A(dc, line.c_str(), static_cast<int>(line.size()), &size);
        }
        ReleaseDC(m_listBox1, dc);
        constexpr int kTextMargin = 6;
        const int extent = static_cast<int>(size.cx) + kTextMargin;
        if (extent > SendMessageA(m_listBox1, LB_GETHORIZONTALEXTENT, 0, 0))
            SendMessageA(m_listBox1, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(extent), 0);
    }
    // Painted at once: the operation that reported the line may keep the
    // thread busy for a long time.
    UpdateWindow(m_listBox1);
    const LRESULT count = SendMessageA(m_listBox1, LB_GETCOUNT, 0, 0);
    SendMessageA(m_listBox1, LB_SETCURSEL, static_cast<WPARAM>(count - 1), 0);
    UpdateWindow(m_listBox1);
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
    dialog.lStructSize = sizeof(dialog);
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
