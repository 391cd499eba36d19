// What a person sees of another program's windows, for the Wine program test
// (tools/wine/program_test.sh), which then acts with the real mouse:
//   window_probe center CAPTION TEXT   the screen point at the middle of the
//                                      control labelled TEXT in the top-level
//                                      window CAPTION ("x y")
//   window_probe lines CAPTION         the lines of that window's list box
// Exit code 1 when the window or the control is not there.
#include <cstdio>
#include <string>

#include <windows.h>

namespace {

struct Search {
    std::string text;
    std::string windowClass;
    HWND found = nullptr;
};

BOOL CALLBACK Visit(HWND control, LPARAM context) {
    auto& search = *reinterpret_cast<Search*>(context);
    char text[256] = {};
    char windowClass[64] = {};
    GetWindowTextA(control, text, sizeof(text));
    GetClassNameA(control, windowClass, sizeof(windowClass));
    const bool textMatches = search.text.empty() || search.text == text;
    const bool classMatches = search.windowClass.empty() || lstrcmpiA(search.windowClass.c_str(), windowClass) == 0;
    if (textMatches && classMatches && IsWindowVisible(control)) {
        search.found = control;
        return FALSE;
    }
    return TRUE;
}

HWND FindControl(HWND window, const std::string& text, const std::string& windowClass) {
    Search search{text, windowClass};
    EnumChildWindows(window, &Visit, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: window_probe center CAPTION TEXT | lines CAPTION\n");
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
    if (command == "lines") {
        HWND list = FindControl(window, "", "ListBox");
        if (list == nullptr) return 1;
        // Wide text: Wine hands another process's list box lines over as UTF-16.
        const LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
            const LRESULT length = SendMessageW(list, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
            if (length < 0) return 1;
            std::wstring line(static_cast<size_t>(length) + 1, L'\0');
            SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(line.data()));
            char utf8[1024] = {};
            WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, utf8, sizeof(utf8) - 1, nullptr, nullptr);
            std::printf("%s\n", utf8);
        }
        return 0;
    }
    std::fprintf(stderr, "window_probe: unknown command %s\n", command.c_str());
    return 2;
}
