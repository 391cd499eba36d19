#pragma once
// Holds back SIGINT, SIGTERM, SIGHUP and SIGQUIT while the drive is written:
// a ^C, a ^\, a closed terminal or a `kill` then neither ends the program in
// the middle of the download nor between the trigger and the drive's return;
// ^Z and a background terminal's stop signals are ignored meanwhile, so the
// update is never stopped half-way either. The first
// such signal is noted and answered once on standard error; after the update
// it ends the program as it would have at once. On Windows the same holds
// for Ctrl+C, Ctrl+Break and closing the console window.
#include <atomic>
#include <string>
#include <thread>

#include "app/cli/terminal_line.h"

#if !defined(_WIN32)
#include <signal.h>
#endif

namespace keluflash::cli {

class SignalDeferral {
public:
    // `notice` is said on standard error (`err`) when the first signal
    // arrives, on a line of its own.
    SignalDeferral(std::string notice, ErrorLine& err);
    ~SignalDeferral();
    SignalDeferral(const SignalDeferral&) = delete;
    SignalDeferral& operator=(const SignalDeferral&) = delete;

    // From here the signals wait.
    void Begin();
    // New signals act again at once, unless one is already held: then they
    // keep waiting for DeliverHeld.
    void End();
    // Ends the program with the held signal, if there is one and the signal
    // was not ignored when the program started; otherwise nothing.
    void DeliverHeld();
    int Held() const { return m_held.load(); }

#if defined(_WIN32)
    // The exit code of a program that Ctrl+C or Ctrl+Break ended.
    static constexpr unsigned long kControlExitCode = 0xC000013AUL;
    // Called from the console's handler thread: the first event is held.
    void Note(int signal);

private:
    void Release();
#else
private:
#endif
    void Watch();

    std::string m_notice;
    ErrorLine& m_err;
    std::atomic<int> m_held{0};
    std::atomic<bool> m_stop{false};
    std::thread m_watcher;
    bool m_blocked = false;
#if !defined(_WIN32)
    sigset_t m_signals{};
    sigset_t m_previous{};
    struct sigaction m_stopActions[3] {};
    bool m_stopsIgnored = false;
#endif
};

}  // namespace keluflash::cli
