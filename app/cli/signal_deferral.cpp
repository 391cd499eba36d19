#include "app/cli/signal_deferral.h"

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

SignalDeferral::SignalDeferral(std::string notice, ErrorLine& err) : m_notice(std::move(notice)), m_err(err) {
#if !defined(_WIN32)
    sigemptyset(&m_signals);
    sigaddset(&m_signals, SIGINT);
    sigaddset(&m_signals, SIGTERM);
    sigaddset(&m_signals, SIGHUP);
    sigaddset(&m_signals, SIGQUIT);
#endif
}

#if !defined(_WIN32)
namespace {
constexpr int kStopSignals[] = {SIGTSTP, SIGTTIN, SIGTTOU};
}  // namespace
#endif

SignalDeferral::~SignalDeferral() {
    End();
#if !defined(_WIN32)
    if (m_blocked) pthread_sigmask(SIG_SETMASK, &m_previous, nullptr);
#else
    if (m_blocked) Release();
#endif
}

#if !defined(_WIN32)

void SignalDeferral::Begin() {
    if (m_watcher.joinable()) return;
    if (!m_blocked) {
        pthread_sigmask(SIG_BLOCK, &m_signals, &m_previous);
        m_blocked = true;
    }
    if (!m_stopsIgnored) {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        for (size_t i = 0; i < std::size(kStopSignals); ++i) sigaction(kStopSignals[i], &ignore, &m_stopActions[i]);
        m_stopsIgnored = true;
    }
    m_stop = false;
    // The watcher inherits the blocked mask and takes the signals itself, so
    // no handler and no global is needed.
    m_watcher = std::thread([this] { Watch(); });
}

void SignalDeferral::Watch() {
    constexpr timespec kPoll{0, 50'000'000};
    while (!m_stop.load()) {
        const int signal = sigtimedwait(&m_signals, nullptr, &kPoll);
        if (signal <= 0) continue;
        int none = 0;
        // A closed terminal makes this write fail: nothing depends on it.
        if (m_held.compare_exchange_strong(none, signal)) m_err.Say(m_notice);
    }
}

void SignalDeferral::End() {
    if (m_watcher.joinable()) {
        m_stop = true;
        m_watcher.join();
    }
    if (m_stopsIgnored) {
        for (size_t i = 0; i < std::size(kStopSignals); ++i) sigaction(kStopSignals[i], &m_stopActions[i], nullptr);
        m_stopsIgnored = false;
    }
    if (m_blocked && m_held.load() == 0) {
        pthread_sigmask(SIG_SETMASK, &m_previous, nullptr);
        m_blocked = false;
    }
}

void SignalDeferral::DeliverHeld() {
    End();
    const int signal = m_held.exchange(0);
    if (m_blocked) {
        pthread_sigmask(SIG_SETMASK, &m_previous, nullptr);
        m_blocked = false;
    }
    if (signal == 0) return;
    struct sigaction action {};
    sigaction(signal, nullptr, &action);
    if (action.sa_handler == SIG_IGN) return;
    // As if it had arrived now: the default action ends the program.
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(signal, &action, nullptr);
    raise(signal);
}

#else

namespace {
// The console calls its control handler as a bare function on a thread of
// its own, with no way to pass this object: the one deferral that is
// holding publishes itself here while it holds.
std::atomic<SignalDeferral*> g_holding{nullptr};

// Ctrl+C, Ctrl+Break and a closed console window. A close cannot be refused:
// the console ends the program once this returns, or after its own grace
// time (about five seconds), so the handler keeps it waiting for as long
// as the system lets it.
BOOL WINAPI HoldConsoleEvent(DWORD event) {
    SignalDeferral* const holding = g_holding.load();
    if (holding == nullptr) return FALSE;
    holding->Note(static_cast<int>(event) + 1);
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        while (g_holding.load() != nullptr) Sleep(50);
    }
    return TRUE;
}
}  // namespace

void SignalDeferral::Begin() {
    if (m_blocked) return;
    SignalDeferral* none = nullptr;
    if (!g_holding.compare_exchange_strong(none, this)) return;
    SetConsoleCtrlHandler(HoldConsoleEvent, TRUE);
    m_blocked = true;
}

void SignalDeferral::Watch() {}

void SignalDeferral::Note(int signal) {
    int none = 0;
    if (!m_held.compare_exchange_strong(none, signal)) return;
    m_err.Say(m_notice);
}

void SignalDeferral::End() {
    if (!m_blocked) return;
    // The handler stays while an event waits for DeliverHeld, so a second
    // ^C in between is held too.
    if (m_held.load() != 0) return;
    Release();
}

void SignalDeferral::Release() {
    SetConsoleCtrlHandler(HoldConsoleEvent, FALSE);
    g_holding.store(nullptr);
    m_blocked = false;
}

void SignalDeferral::DeliverHeld() {
    const int signal = m_held.exchange(0);
    if (m_blocked) Release();
    if (signal == 0) return;
    // As the console's default handler would have ended it.
    ExitProcess(static_cast<UINT>(kControlExitCode));
}

#endif

}  // namespace keluflash::cli
