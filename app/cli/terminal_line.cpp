#include "app/cli/terminal_line.h"

#include <algorithm>
#include <cstdio>
#include <ostream>

#ifdef _WIN32
#include <io.h>

#include "drive/win32/windows_api.h"
#else
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>
#endif

namespace keluflash::cli {

namespace {
constexpr int kDefaultColumns = 80;
}  // namespace

#ifdef _WIN32

struct ErrorLine::WindowsLock {
    WindowsLock() { InitializeCriticalSection(&section); }
    ~WindowsLock() { DeleteCriticalSection(&section); }
    WindowsLock(const WindowsLock&) = delete;
    WindowsLock& operator=(const WindowsLock&) = delete;
    CRITICAL_SECTION section;
};

class ErrorLine::Held {
public:
    explicit Held(const ErrorLine& line) : m_lock(*line.m_lock) { EnterCriticalSection(&m_lock.section); }
    ~Held() { LeaveCriticalSection(&m_lock.section); }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

private:
    WindowsLock& m_lock;
};

ErrorLine::ErrorLine(std::ostream& err) : m_lock(std::make_unique<WindowsLock>()), m_err(err) {}

#else

class ErrorLine::Held {
public:
    explicit Held(const ErrorLine& line) : m_guard(line.m_mutex) {}

private:
    std::lock_guard<std::mutex> m_guard;
};

ErrorLine::ErrorLine(std::ostream& err) : m_err(err) {}

#endif

ErrorLine::~ErrorLine() = default;

void ErrorLine::Draw(const std::string& text, size_t columns) {
    const Held held(*this);
    DrawLocked(text, columns);
}

void ErrorLine::DrawLocked(const std::string& text, size_t columns) {
    m_columns = columns;
    // A shorter line than the one drawn leaves no tail of it behind; on a
    // terminal made narrower the blanks stop before its last column.
    const size_t tail = std::min(m_drawn, columns > 0 ? columns - 1 : 0);
    std::string line = "\r" + text;
    if (text.size() < tail) line += std::string(tail - text.size(), ' ') + "\r" + text;
    m_err << line;
    m_err.flush();
    m_drawn = text.empty() ? 0 : text.size();
}

void ErrorLine::Clear() {
    const Held held(*this);
    ClearLocked();
}

void ErrorLine::ClearLocked() {
    if (m_drawn == 0) return;
    // "\r", blanks over the line as far as it can be on the terminal, "\r".
    std::string blank(std::min(m_drawn, m_columns > 0 ? m_columns - 1 : m_drawn) + 2, ' ');
    blank.front() = '\r';
    blank.back() = '\r';
    m_err << blank;
    m_err.flush();
    m_drawn = 0;
}

void ErrorLine::Finish(const std::string& text, size_t columns) {
    const Held held(*this);
    DrawLocked(text, columns);
    m_err << "\n";
    m_err.flush();
    m_drawn = 0;
}

void ErrorLine::Say(const std::string& lines) {
    const Held held(*this);
    ClearLocked();
    // One write: a line that other output cannot split.
    m_err << lines;
    m_err.flush();
}

bool ErrorIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return ::isatty(STDERR_FILENO) != 0;
#endif
}

#ifdef _WIN32

void TerminalWidth::HoldResizes() {}

TerminalWidth::TerminalWidth() : m_columns(Ask()) {}

int TerminalWidth::Ask() const {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) return kDefaultColumns;
    const int columns = info.srWindow.Right - info.srWindow.Left + 1;
    return columns > 0 ? columns : kDefaultColumns;
}

// The console has no resize signal: the width is asked again each time.
bool TerminalWidth::Resized() {
    const int columns = Ask();
    if (columns == m_columns) return false;
    m_columns = columns;
    return true;
}

#else

namespace {
sigset_t ResizeSignal() {
    sigset_t resize;
    sigemptyset(&resize);
    sigaddset(&resize, SIGWINCH);
    return resize;
}
}  // namespace

void TerminalWidth::HoldResizes() {
    const sigset_t resize = ResizeSignal();
    pthread_sigmask(SIG_BLOCK, &resize, nullptr);
}

TerminalWidth::TerminalWidth() : m_columns(Ask()) {}

int TerminalWidth::Ask() const {
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return kDefaultColumns;
    return size.ws_col;
}

bool TerminalWidth::Resized() {
    constexpr timespec kNow{0, 0};
    const sigset_t resize = ResizeSignal();
    bool resized = false;
    while (sigtimedwait(&resize, nullptr, &kNow) == SIGWINCH) resized = true;
    if (resized) m_columns = Ask();
    return resized;
}

#endif

}  // namespace keluflash::cli
