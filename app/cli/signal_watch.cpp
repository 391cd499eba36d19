#include "app/cli/signal_watch.h"

#include <iterator>
#include <utility>

#if defined(_WIN32)
#include <windows.h>
#else
#include <pthread.h>
#include <time.h>
#include <unistd.h>
#endif

namespace keluflash::cli {

SignalWatch::Asking::Asking(SignalWatch* watch) : m_watch(watch) {
    if (m_watch != nullptr) m_watch->m_asking = true;
}

SignalWatch::Asking::~Asking() {
    if (m_watch != nullptr) m_watch->m_asking = false;
}

bool SignalWatch::ClaimReport() {
    int nobody = 0;
    return m_reporter.compare_exchange_strong(nobody, 1) || nobody == 1;
}

SignalWatch::Phase SignalWatch::Take(int signal) {
    uint32_t state = m_state.load();
    for (;;) {
        if (m_betweenSteps) m_betweenSteps(*this);
        const Phase found = PhaseOf(state);
        uint32_t next = 0;
        if (found == Phase::Holding)
            next = StateOf(Phase::Held, signal);
        else if (found == Phase::Idle)
            next = StateOf(Phase::Interrupted, signal);
        else
            return found;  // held or interrupted already: the first signal decided
        if (m_state.compare_exchange_strong(state, next)) {
            if (found == Phase::Holding) m_err.Say(m_notice);
            return found;
        }
        // A Hold or Release came in between: `state` is what it left, decide again.
    }
}

bool SignalWatch::BeginHolding() {
    uint32_t idle = StateOf(Phase::Idle);
    if (!m_state.compare_exchange_strong(idle, StateOf(Phase::Holding))) return false;
    m_everHeld = true;
    return true;
}

#if !defined(_WIN32)

namespace {

constexpr int kStopSignals[] = {SIGTSTP, SIGTTIN, SIGTTOU};
// A command that noted the signal ends within a command's time; one that has
// not ended by then is waiting for something that will not come.
constexpr auto kGrace = std::chrono::seconds(10);

void WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0) return;  // a closed terminal: nothing depends on it
        done += static_cast<size_t>(n);
    }
}

}  // namespace

SignalWatch::SignalWatch(bool json, ErrorLine& err, StepHook betweenSteps)
    : m_json(json), m_err(err), m_betweenSteps(std::move(betweenSteps)) {
    sigemptyset(&m_signals);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&m_signals, signal);
    // Every thread made from here inherits the mask: only the watcher takes
    // the signals, so no handler and no global is needed.
    pthread_sigmask(SIG_BLOCK, &m_signals, &m_previous);
    m_watcher = std::thread([this] { Watch(); });
}

SignalWatch::~SignalWatch() {
    m_stop = true;
    m_watcher.join();
    Release();
    pthread_sigmask(SIG_SETMASK, &m_previous, nullptr);
}

void SignalWatch::Hold(std::string notice) {
    if (PhaseOf(m_state.load()) != Phase::Idle) return;
    // The watcher reads it only after the compare-exchange below published it.
    m_notice = std::move(notice);
    // A signal that came first interrupted the command: the drive is sent
    // nothing, so there is nothing to hold.
    if (!BeginHolding()) return;
    // The drive is written only once this returns: ^Z cannot stop it half-way.
    if (!m_stopsIgnored.exchange(true)) {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        for (size_t i = 0; i < std::size(kStopSignals); ++i) sigaction(kStopSignals[i], &ignore, &m_stopActions[i]);
    }
}

void SignalWatch::Release() {
    if (m_stopsIgnored.exchange(false)) {
        for (size_t i = 0; i < std::size(kStopSignals); ++i) sigaction(kStopSignals[i], &m_stopActions[i], nullptr);
    }
    // Held stays held: the program is ending anyway.
    uint32_t holding = StateOf(Phase::Holding);
    m_state.compare_exchange_strong(holding, StateOf(Phase::Idle));
}

void SignalWatch::Watch() {
    constexpr timespec kPoll{0, 50'000'000};
    std::chrono::steady_clock::time_point deadline{};
    while (!m_stop.load()) {
        const int signal = sigtimedwait(&m_signals, nullptr, &kPoll);
        if (signal > 0) {
            const Phase found = Take(signal);
            if (found == Phase::Idle)
                deadline = std::chrono::steady_clock::now() + kGrace;
            else if (found == Phase::Interrupted)
                EndNow(Interrupted());  // a second signal: the person insists
        }
        // Interrupted is never holding: nothing is being written to the drive.
        const int interrupted = Interrupted();
        if (interrupted != 0 && (m_asking.load() || std::chrono::steady_clock::now() >= deadline))
            EndNow(interrupted);
    }
}

void SignalWatch::EndNow(int signal) {
    // The command is writing its own report, and ends right after it.
    int nobody = 0;
    if (!m_reporter.compare_exchange_strong(nobody, 2)) return;
    const std::string what = "interrupted by " + SignalName(signal) + " before the command could end";
    const std::string drive =
        m_everHeld.load() ? "the update had ended; its report was not written" : "nothing was written to the drive";
    if (m_json)
        WriteAll(STDOUT_FILENO, "{\n  \"error\": \"" + what + "; " + drive + "\",\n  \"kind\": \"interrupted\"\n}\n");
    else
        m_err.Say("keluflash-cli: " + what + "; " + drive + "\n");
    _exit(ExitCodeOf(signal));
}

std::string SignalWatch::SignalName(int signal) {
    switch (signal) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    case SIGQUIT: return "SIGQUIT";
    }
    return "signal " + std::to_string(signal);
}

#else

namespace {
// The console calls its control handler as a bare function on a thread of
// its own, with no way to pass this object: the one watch that is holding
// publishes itself here while it holds.
std::atomic<SignalWatch*> g_holding{nullptr};

// Ctrl+C, Ctrl+Break and a closed console window. A close cannot be refused:
// the console ends the program once this returns, or after its own grace
// time (about five seconds), so the handler keeps it waiting for as long
// as the system lets it.
BOOL WINAPI HoldConsoleEvent(DWORD event) {
    SignalWatch* const holding = g_holding.load();
    if (holding == nullptr || !holding->Note(static_cast<int>(event) + 1)) return FALSE;
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        while (g_holding.load() != nullptr) Sleep(50);
    }
    return TRUE;
}
}  // namespace

SignalWatch::SignalWatch(bool json, ErrorLine& err, StepHook betweenSteps)
    : m_json(json), m_err(err), m_betweenSteps(std::move(betweenSteps)) {}

SignalWatch::~SignalWatch() {
    if (g_holding.load() == this) {
        SetConsoleCtrlHandler(HoldConsoleEvent, FALSE);
        g_holding.store(nullptr);
    }
}

void SignalWatch::Hold(std::string notice) {
    if (PhaseOf(m_state.load()) != Phase::Idle) return;
    m_notice = std::move(notice);
    SignalWatch* none = nullptr;
    if (!g_holding.compare_exchange_strong(none, this)) return;
    // Until the state is Holding the handler lets events end the program:
    // nothing has been written yet.
    SetConsoleCtrlHandler(HoldConsoleEvent, TRUE);
    if (BeginHolding()) return;
    SetConsoleCtrlHandler(HoldConsoleEvent, FALSE);  // an event came first and is ending the program
    g_holding.store(nullptr);
}

void SignalWatch::Release() {
    // Once an event was held the program is ending: the state stays Held and
    // the handler stays, so a second ^C is held too until the report is
    // written.
    uint32_t holding = StateOf(Phase::Holding);
    if (!m_state.compare_exchange_strong(holding, StateOf(Phase::Idle))) return;
    SetConsoleCtrlHandler(HoldConsoleEvent, FALSE);
    g_holding.store(nullptr);
}

bool SignalWatch::Note(int signal) {
    const Phase found = Take(signal);
    return found == Phase::Holding || found == Phase::Held;
}

void SignalWatch::Watch() {}
void SignalWatch::EndNow(int) {}

std::string SignalWatch::SignalName(int signal) {
    switch (signal - 1) {
    case CTRL_C_EVENT: return "Ctrl+C";
    case CTRL_BREAK_EVENT: return "Ctrl+Break";
    case CTRL_CLOSE_EVENT: return "closing the console";
    case CTRL_LOGOFF_EVENT: return "the user logging off";
    case CTRL_SHUTDOWN_EVENT: return "the system shutting down";
    }
    return "console event " + std::to_string(signal - 1);
}

#endif

}  // namespace keluflash::cli
