#pragma once
// Standard error as the step lines share it. A step's line is drawn without
// its line end and redrawn in place, as wide as the terminal allows; anything
// else said on standard error meanwhile (a held signal's notice, from the
// thread that took the signal) first erases it, so every line said starts on
// a line of its own, and the step's line is drawn again below. One lock
// orders the writes of all threads.
#include <iosfwd>
#include <memory>
#include <string>

#if !defined(_WIN32)
#include <mutex>
#endif

namespace keluflash::cli {

class ErrorLine {
public:
    explicit ErrorLine(std::ostream& err);
    ~ErrorLine();
    ErrorLine(const ErrorLine&) = delete;
    ErrorLine& operator=(const ErrorLine&) = delete;

    // Replaces the open line with `text` (one line, no line end, narrower
    // than `columns`) and leaves it open.
    void Draw(const std::string& text, size_t columns);
    // Erases the open line; the cursor is at the start of an empty line.
    void Clear();
    // Draws `text` as Draw does and ends the line there.
    void Finish(const std::string& text, size_t columns);
    // Whole lines, each ending with '\n', on lines of their own. Any thread.
    void Say(const std::string& lines);

private:
    class Held;  // the lock, held for as long as it lives
    void ClearLocked();
    void DrawLocked(const std::string& text, size_t columns);

#if defined(_WIN32)
    // The win32 thread model has no std::mutex: a critical section instead.
    struct WindowsLock;
    std::unique_ptr<WindowsLock> m_lock;
#else
    mutable std::mutex m_mutex;
#endif
    std::ostream& m_err;
    size_t m_drawn = 0;    // the open line's length; 0: none is open
    size_t m_columns = 0;  // the terminal's width when it was drawn
};

// Standard error is a terminal: the step lines are drawn on it.
bool ErrorIsTerminal();

// The width of the terminal standard error is on, followed as the window is
// resized. A resize (SIGWINCH) stays pending, blocked, until Resized() takes
// it: no handler and no shared flag.
class TerminalWidth {
public:
    // Blocks SIGWINCH in the calling thread and every thread it makes from
    // then on; called in main before any other thread, since a thread that
    // does not block it would take it and, by default, drop it.
    static void HoldResizes();

    TerminalWidth();

    // Columns of the terminal; 80 when the terminal does not say.
    int Columns() const { return m_columns; }
    // True once after each resize; Columns() then has the new width.
    bool Resized();

private:
    int Ask() const;

    int m_columns;
};

}  // namespace keluflash::cli
