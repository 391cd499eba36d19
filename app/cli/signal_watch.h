#pragma once
// What SIGINT, SIGTERM, SIGHUP and SIGQUIT do to keluflash-cli, for its
// whole run. One object, made first in main (before any other thread), takes
// them on a thread of its own:
// - While the drive is written (Hold to Release) a signal is held: said once
//   on standard error, and the update goes on to its end; ^Z and a
//   background terminal's stop signals are ignored meanwhile, so the update
//   is never stopped half-way either. The command then reports what the
//   update did, with its own exit code, and says the signal was held.
// - Otherwise a signal interrupts the command: it is noted, the drive
//   commands that follow are not sent (InterruptibleTransport), and the
//   command ends by its own failure path, which reports "interrupted" with
//   exit code 128 + the signal and removes its temporary files. Only when
//   the command cannot get there (a person is being asked, a second signal,
//   or nothing ended within a grace time) the watcher ends the program
//   itself, with the shortest report.
// On Windows Ctrl+C, Ctrl+Break and closing the console are held the same
// way while the drive is written; outside, they end the program as usual.
#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "app/cli/terminal_line.h"

#if !defined(_WIN32)
#include <signal.h>
#endif

namespace keluflash::cli {

class SignalWatch {
public:
    // `json`: the shortest report is a JSON document rather than a line.
    // What is said on standard error goes through `err`, on a line of its own.
    SignalWatch(bool json, ErrorLine& err);
    ~SignalWatch();
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

    // From here signals wait; `notice` is written to standard error when the
    // first one arrives.
    void Hold(std::string notice);
    // New signals interrupt again, unless one was held: the program is then
    // ending anyway, and later signals are held too.
    void Release();
    // The signal held during a Hold; 0 when none.
    int Held() const { return m_held.load(); }
    // The signal that interrupted the command; 0 when none.
    int Interrupted() const { return m_interrupted.load(); }

    // While a person is asked a question nothing else runs that could end
    // the command: a signal then ends the program at once.
    class Asking {
    public:
        explicit Asking(SignalWatch* watch);
        ~Asking();
        Asking(const Asking&) = delete;
        Asking& operator=(const Asking&) = delete;

    private:
        SignalWatch* m_watch;
    };

    // The command's own report is about to be written: from here the
    // watcher never writes one of its own. False when it already has (the
    // program is ending); true again for a command that claimed it before.
    bool ClaimReport();

    // "SIGTERM", "SIGINT", ... (Windows: "Ctrl+C").
    static std::string SignalName(int signal);
    // 128 + the signal, as a shell reports a program a signal ended.
    static int ExitCodeOf(int signal) { return 128 + signal; }

#if defined(_WIN32)
    // Called from the console's handler thread: the first event is held.
    void Note(int signal);
#endif

private:
    void Watch();
    void EndNow(int signal);

    bool m_json;
    ErrorLine& m_err;
    std::string m_notice;
    std::atomic<bool> m_holding{false};
    std::atomic<bool> m_everHeld{false};  // a Hold began: the drive may have been written
    std::atomic<int> m_held{0};
    std::atomic<int> m_interrupted{0};
    std::atomic<bool> m_asking{false};
    std::atomic<int> m_reporter{0};  // 0 nobody yet, 1 the command, 2 the watcher
    std::atomic<bool> m_stop{false};
    std::thread m_watcher;
#if !defined(_WIN32)
    sigset_t m_signals{};
    sigset_t m_previous{};
    struct sigaction m_stopActions[3] {};
    std::atomic<bool> m_stopsIgnored{false};
#endif
};

}  // namespace keluflash::cli
