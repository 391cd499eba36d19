#pragma once
// The Windows window of TForm1: the controls at their fixed places, drawn
// from the form's state whenever it changes, and the controls' events handed
// to the form's handlers.
#include <memory>
#include <string>
#include <type_traits>

#include "app/form1.h"
#include "app/win32/win32_user_interface.h"
#include "drive/win32/windows_api.h"

#include <commctrl.h>

namespace keluflash {

// The toolkit's filter ("label|pattern|label|pattern") in the form the open
// dialog takes: each part ends with a zero, the list with one more.
std::string OpenFileNameFilter(const std::string& filter);

struct GdiObjectDeleter {
    void operator()(HGDIOBJ object) const { DeleteObject(object); }
};
using UniqueFont = std::unique_ptr<std::remove_pointer_t<HFONT>, GdiObjectDeleter>;

struct ImageListDeleter {
    void operator()(HIMAGELIST list) const { ImageList_Destroy(list); }
};
using UniqueImageList = std::unique_ptr<std::remove_pointer_t<HIMAGELIST>, ImageListDeleter>;

class MainWindow final : public View {
public:
    // Creates the window and its controls, not yet shown. The host service
    // part of the view (message queue, message boxes) is `ui`.
    MainWindow(HINSTANCE instance, Win32UserInterface& ui);
    ~MainWindow() override;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // The dots per inch the window is laid out for: 96 lays it out exactly
    // in the pixels of its design, any other scales every edge and the font
    // with it. The system's at first (the monitor's where each has its own),
    // then the monitor's that the window is moved to.
    int Dpi() const { return m_dpi; }

    // The form whose state the window shows; draws all of it once.
    void Attach(TForm1& form);
    void Show(int showCommand);

    // UserInterface.
    void PumpMessage() override { m_ui.PumpMessage(); }
    void ProcessMessages() override { m_ui.ProcessMessages(); }
    int ShowMessage(const std::string& text, const std::string& caption, unsigned flags) override {
        return m_ui.ShowMessage(text, caption, flags);
    }

    // View.
    void ControlsChanged() override;
    void MessageAdded(const std::string& line) override;
    void ProgressChanged() override;
    void Edit1Changed() override;
    void CaptionChanged() override;
    bool ExecuteOpenDialog(std::string& fileName) override;
    void CloseWindow() override;

    // The controls, for tests.
    HWND Window() const { return m_window; }
    HWND GroupBox1() const { return m_groupBox1; }
    HWND SelDevice() const { return m_selDevice; }
    HWND GroupBox2() const { return m_groupBox2; }
    HWND Edit1() const { return m_edit1; }
    HWND BitBtn1() const { return m_bitBtn1; }
    HWND BitBtn2() const { return m_bitBtn2; }
    HWND BitBtn3() const { return m_bitBtn3; }
    HWND ListBox1() const { return m_listBox1; }
    HWND StatusBar1() const { return m_statusBar1; }
    HWND ProgressBar1() const { return m_progressBar1; }

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void Command(int id, int code);
    HWND CreateControl(const char* windowClass, const char* text, DWORD style, int id, DWORD exStyle = 0);
    HWND CreateBitBtn(const char* caption, int id);
    void LayOut(int dpi);
    void FillSelDevice();
    void WidenListBox1For(const std::string& line);

    HINSTANCE m_instance;
    Win32UserInterface& m_ui;
    TForm1* m_form = nullptr;
    int m_dpi = 0;
    UniqueFont m_font;
    UniqueImageList m_glyphs[3];
    HWND m_window = nullptr;
    HWND m_groupBox1 = nullptr;
    HWND m_selDevice = nullptr;
    HWND m_groupBox2 = nullptr;
    HWND m_edit1 = nullptr;
    HWND m_bitBtn1 = nullptr;
    HWND m_bitBtn2 = nullptr;
    HWND m_bitBtn3 = nullptr;
    HWND m_listBox1 = nullptr;
    HWND m_statusBar1 = nullptr;
    HWND m_progressBar1 = nullptr;
};

}  // namespace keluflash
