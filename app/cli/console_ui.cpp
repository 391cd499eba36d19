#include "app/cli/console_ui.h"

#include "app/cli/text_escape.h"

#include <cstdio>
#include <istream>
#include <ostream>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace keluflash::cli {

namespace {

constexpr unsigned kButtonMask = 0xF;

std::string WithoutTrailingNewlines(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    return text;
}

}  // namespace

int ConsoleUi::ShowMessage(const std::string& text, const std::string& caption, unsigned flags) {
    // One write: a line that a notice from another thread cannot split.
    m_out << caption + ": " + PrintableLines(WithoutTrailingNewlines(text)) + "\n";
    if ((flags & kButtonMask) != kMbOkCancel) {
        m_out.flush();
        return kIdOk;
    }
    if (!m_interactive) {
        m_out << "(no terminal to answer: Cancel)\n";
        m_out.flush();
        return kIdCancel;
    }
    m_out << "OK? [y/N] ";
    m_out.flush();
    std::string answer;
    if (!std::getline(m_in, answer)) {
        return kIdCancel;
    }
    return answer == "y" || answer == "Y" || answer == "yes" || answer == "YES" ? kIdOk : kIdCancel;
}

bool ConsoleIsInteractive() {
#ifdef _WIN32
    return _isatty(_fileno(stdin)) != 0 && _isatty(_fileno(stderr)) != 0;
#else
    return ::isatty(STDIN_FILENO) != 0 && ::isatty(STDERR_FILENO) != 0;
#endif
}

}  // namespace keluflash::cli
