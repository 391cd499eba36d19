#pragma once
// GoogleTest on mingw-w64's win32 thread model, whose GCC 12 library has no
// std::mutex: GoogleTest's own Windows mutex and threads serve, and only its
// Notification, which it would build on std::mutex, is given here (a flag
// that the waiting thread polls). Found before GoogleTest's own empty file of
// this name.
#include <atomic>

#define GTEST_HAS_NOTIFICATION_ 1

extern "C" __declspec(dllimport) void __stdcall Sleep(unsigned long milliseconds);

namespace testing {
namespace internal {

class Notification {
public:
    Notification() = default;
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;
    void Notify() { m_notified.store(true); }
    void WaitForNotification() {
        while (!m_notified.load()) Sleep(1);
    }

private:
    std::atomic<bool> m_notified{false};
};

}  // namespace internal
}  // namespace testing
