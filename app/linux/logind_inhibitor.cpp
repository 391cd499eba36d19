#include "app/linux/logind_inhibitor.h"

#include <chrono>
#include <fcntl.h>
#include <systemd/sd-bus.h>

#include <memory>

namespace keluflash {
namespace {

constexpr uint64_t kInhibitCallMicroseconds = 3'000'000;

struct BusUnref {
    // No flush: a bus that never answers would hold the close for ever.
    void operator()(sd_bus* bus) const { sd_bus_close_unref(bus); }
};
struct MessageUnref {
    void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};

}  // namespace

bool LogindInhibitor::Hold(const std::string& who, const std::string& why) {
    if (Held()) return true;
    sd_bus* rawBus = nullptr;
    if (sd_bus_open_system(&rawBus) < 0) return false;
    const std::unique_ptr<sd_bus, BusUnref> bus(rawBus);
    // A bus that accepts and never answers must not hold up the update: the
    // lock is a courtesy, and the update goes on without it.
    sd_bus_set_method_call_timeout(bus.get(), kInhibitCallMicroseconds);
    // sd-bus waits for the connection's handshake without a limit: it is
    // driven here, against the same deadline.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::microseconds(kInhibitCallMicroseconds);
    while (sd_bus_is_ready(bus.get()) <= 0) {
        const int processed = sd_bus_process(bus.get(), nullptr);
        if (processed < 0) return false;
        if (processed > 0) continue;
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || sd_bus_wait(bus.get(), static_cast<uint64_t>(left.count())) < 0) return false;
    }
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* rawReply = nullptr;
    const int called = sd_bus_call_method(bus.get(), "org.freedesktop.login1", "/org/freedesktop/login1",
                                          "org.freedesktop.login1.Manager", "Inhibit", &error, &rawReply, "ssss",
                                          "shutdown:sleep:idle", who.c_str(), why.c_str(), "block");
    sd_bus_error_free(&error);
    if (called < 0) return false;
    const std::unique_ptr<sd_bus_message, MessageUnref> reply(rawReply);
    int fd = -1;
    if (sd_bus_message_read(reply.get(), "h", &fd) < 0 || fd < 0) return false;
    // The reply owns its descriptor; the lock lives as long as our own copy.
    m_lock = UniqueFd(fcntl(fd, F_DUPFD_CLOEXEC, 3));
    return Held();
}

void LogindInhibitor::Release() { m_lock = UniqueFd(); }

}  // namespace keluflash
