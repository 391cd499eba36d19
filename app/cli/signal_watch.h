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
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "app/cli/terminal_line.h"

#if !defined(_WIN32)
#include <signal.h>
#endif

namespace keluflash::cli {

class SignalWatch {
public:
    // Runs on the thread that took a signal, after it read the watch's state
    // and before it changes it (again on each retry): a test runs Hold() or
    // Release() there to force the interleavings that matter. Empty in the
    // program.
    using StepHook = std::function<void(SignalWatch&)>;

    // `json`: the shortest report is a JSON document rather than a line.
    // What is said on standard error goes through `err`, on a line of its own.
    SignalWatch(bool json, ErrorLine& err, StepHook betweenSteps = {});
    ~SignalWatch();
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

    // From here signals wait; `notice` is written to standard error when the
    // first one arrives. A signal that interrupted the command before it is
    // not undone: nothing is held, and the drive is sent nothing.
    void Hold(std::string notice);
    // New signals interrupt again, unless one was held: the program is then
    // ending anyway, and later signals are held too.
    void Release();
    // The signal held during a Hold; 0 when none.
    int Held() const { return SignalIn(Phase::Held); }
    // The signal that interrupted the command; 0 when none.
    int Interrupted() const { return SignalIn(Phase::Interrupted); }

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
    // Called from the console's handler thread: true when the event is held
    // (the first one is said), false when nothing is being held and the
    // event ends the program as usual.
    bool Note(int signal);
#endif

private:
    // Holding and interrupting are one state, changed only by
    // compare-exchange, so a Hold() and an arriving signal cannot interleave
    // into "interrupted while holding":
    //   Idle -> Holding (Hold), Holding -> Idle (Release),
    //   Holding -> Held (a signal; stays, later signals are held too),
    //   Idle -> Interrupted (a signal; stays, a Hold is refused).
    // One word: the phase in the low byte, the signal above it.
    enum class Phase : uint32_t { Idle, Holding, Held, Interrupted };
    static constexpr uint32_t StateOf(Phase phase, int signal = 0) {
        return static_cast<uint32_t>(phase) | static_cast<uint32_t>(signal) << 8;
    }
    static constexpr Phase PhaseOf(uint32_t state) { return static_cast<Phase>(state & 0xFFu); }
    int SignalIn(Phase phase) const {
        const uint32_t state = m_state.load();
        return PhaseOf(state) == phase ? static_cast<int>(state >> 8) : 0;
    }
    // Takes one signal into the state: held while holding (the first one
    // said), an interruption when idle. Returns the phase it found.
    Phase Take(int signal);
    // Idle -> Holding; false when the state was not idle.
    bool BeginHolding();

    void Watch();
    void EndNow(int signal);

    bool m_json;
    ErrorLine& m_err;
    StepHook m_betweenSteps;
    std::string m_notice;  // written only while idle, read only on Holding -> Held
    std::atomic<uint32_t> m_state{StateOf(Phase::Idle)};
    std::atomic<bool> m_everHeld{false};  // a Hold began: the drive may have been written
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
