#include "app/cli/signal_deferral.h"

#include <iterator>
#include <utility>

#if !defined(_WIN32)
#include <pthread.h>
#include <time.h>
#include <unistd.h>
#endif

namespace keluflash::cli {

SignalDeferral::SignalDeferral(std::string notice) : m_notice(std::move(notice)) {
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
        if (m_held.compare_exchange_strong(none, signal)) {
            // A closed terminal makes this write fail: nothing depends on it.
            [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, m_notice.data(), m_notice.size());
        }
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

void SignalDeferral::Begin() {}
void SignalDeferral::Watch() {}
void SignalDeferral::End() {}
void SignalDeferral::DeliverHeld() {}

#endif

}  // namespace keluflash::cli
