#pragma once
// A transport that stops sending at a chosen command: that command and every
// later one come back as not sent, as over a command line whose run was
// interrupted or a replay that stopped. Until then every call passes to the
// transport below.
#include <cstdint>
#include <functional>
#include <utility>

#include "drive/forwarding_transport.h"

namespace keluflash::test {

class StoppingTransport final : public ForwardingTransport {
public:
    // The CDB of a command about to be sent; true stops sending from it on.
    using Predicate = std::function<bool(const uint8_t* cdb)>;

    explicit StoppingTransport(Transport& inner) : ForwardingTransport(inner) {}

    void StopWhen(Predicate when) { m_when = std::move(when); }
    bool Stopped() const { return m_stopped; }

    void Execute(const DeviceEntry& device, const uint8_t* cdb, uint8_t* data, uint32_t length, uint8_t direction,
                 CommandResult& result) override {
        if (!m_stopped && m_when && m_when(cdb)) m_stopped = true;
        if (m_stopped) {
            result = CommandResult{};
            result.outcome = CommandOutcome::NotSent;
            return;
        }
        ForwardingTransport::Execute(device, cdb, data, length, direction, result);
    }

private:
    Predicate m_when;
    bool m_stopped = false;
};

}  // namespace keluflash::test
