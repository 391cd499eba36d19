// What a person sees of another program's windows, for the Wine program test
// (tests/win32/program_test.sh), which then acts with the real mouse:
//   window_probe center CAPTION TEXT   the screen point at the middle of the
//                                      control labelled TEXT in the top-level
//                                      window CAPTION ("x y")
//   window_probe lines CAPTION         the lines of that window's list box
//   window_probe items CAPTION         the entries of that window's drop-down list
//   window_probe text CAPTION CLASS    the texts of that window's controls of
//                                      CLASS (Static: a message box's text,
//                                      Button: its buttons, msctls_statusbar32:
//                                      the status bar's first panel), one a
//                                      line; empty texts are left out
//   window_probe enabled CAPTION TEXT  "enabled" or "disabled": the control
//                                      labelled TEXT
// Only visible controls count. Exit code 1 when the window or the control is
// not there.
#include <cstdio>
#include <string>
#include <vector>

#include <windows.h>

namespace {

struct Search {
    std::string text;
    std::string windowClass;
    std::vector<HWND> found;
};

// Another process's text, read through a message Wine carries across
// processes in UTF-16, printed as UTF-8.
std::string Utf8(const std::wstring& text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return {};
    std::string utf8(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, utf8.data(), size, nullptr, nullptr);
    utf8.resize(static_cast<size_t>(size) - 1);
    return utf8;
}

// The control's own text as it answers WM_GETTEXT (a status bar: its first
// panel), not the copy the system keeps for another process.
std::string ControlText(HWND control) {
    const LRESULT length = SendMessageW(control, WM_GETTEXTLENGTH, 0, 0);
    if (length <= 0) return {};
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    SendMessageW(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    return Utf8(text.c_str());
}

BOOL CALLBACK Visit(HWND control, LPARAM context) {
    auto& search = *reinterpret_cast<Search*>(context);
    char text[256] = {};
    char windowClass[64] = {};
    GetWindowTextA(control, text, sizeof(text));
    GetClassNameA(control, windowClass, sizeof(windowClass));
    const bool textMatches = search.text.empty() || search.text == text;
    const bool classMatches = search.windowClass.empty() || lstrcmpiA(search.windowClass.c_str(), windowClass) == 0;
    if (textMatches && classMatches && IsWindowVisible(control)) search.found.push_back(control);
    return TRUE;
}

// The window's visible controls labelled TEXT and of CLASS (either empty: any).
std::vector<HWND> FindControls(HWND window, const std::string& text, const std::string& windowClass) {
    Search search{text, windowClass, {}};
    EnumChildWindows(window, &Visit, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND FindControl(HWND window, const std::string& text, const std::string& windowClass) {
    const std::vector<HWND> found = FindControls(window, text, windowClass);
    return found.empty() ? nullptr : found.front();
}

// The lines of a list box (LB_ messages) or a drop-down list (CB_ messages).
struct ListMessages {
    UINT count, length, text;
};
constexpr ListMessages kListBoxMessages{LB_GETCOUNT, LB_GETTEXTLEN, LB_GETTEXT};
constexpr ListMessages kComboBoxMessages{CB_GETCOUNT, CB_GETLBTEXTLEN, CB_GETLBTEXT};

int PrintLines(HWND list, const ListMessages& messages) {
    if (list == nullptr) return 1;
    const LRESULT count = SendMessageW(list, messages.count, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        const LRESULT length = SendMessageW(list, messages.length, static_cast<WPARAM>(i), 0);
        if (length < 0) return 1;
        std::wstring line(static_cast<size_t>(length) + 1, L'\0');
        SendMessageW(list, messages.text, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(line.data()));
        std::printf("%s\n", Utf8(line.c_str()).c_str());
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr,
                     "usage: window_probe center CAPTION TEXT | lines CAPTION | items CAPTION | "
                     "text CAPTION CLASS | enabled CAPTION TEXT\n");
        return 2;
    }
    const std::string command = argv[1];
    HWND window = FindWindowA(nullptr, argv[2]);
    if (window == nullptr) return 1;
    if (command == "center" && argc == 4) {
        HWND control = FindControl(window, argv[3], "");
        if (control == nullptr) return 1;
        RECT r{};
        GetWindowRect(control, &r);
        std::printf("%ld %ld\n", (r.left + r.right) / 2, (r.top + r.bottom) / 2);
        return 0;
    }
    if (command == "lines") return PrintLines(FindControl(window, "", "ListBox"), kListBoxMessages);
    if (command == "items") return PrintLines(FindControl(window, "", "ComboBox"), kComboBoxMessages);
    if (command == "text" && argc == 4) {
        const std::vector<HWND> controls = FindControls(window, "", argv[3]);
        if (controls.empty()) return 1;
        for (HWND control : controls) {
            const std::string text = ControlText(control);
            if (!text.empty()) std::printf("%s\n", text.c_str());
        }
        return 0;
    }
    if (command == "enabled" && argc == 4) {
        HWND control = FindControl(window, argv[3], "");
        if (control == nullptr) return 1;
        std::printf("%s\n", IsWindowEnabled(control) ? "enabled" : "disabled");
        return 0;
    }
    std::fprintf(stderr, "window_probe: unknown command %s\n", command.c_str());
    return 2;
}
