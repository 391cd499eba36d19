#include "app/linux/logind_inhibitor.h"

#include <fcntl.h>
#include <systemd/sd-bus.h>

#include <memory>

namespace keluflash {
namespace {

struct BusUnref {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
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
