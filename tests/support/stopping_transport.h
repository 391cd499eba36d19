#pragma once
// A transport that stops sending at a chosen command: that command and every
// later one come back as not sent, as over a command line whose run was
// interrupted or a replay that stopped. Until then every call passes to the
// transport below.
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "drive/transport.h"

namespace keluflash::test {

class StoppingTransport final : public Transport {
public:
    // The CDB of a command about to be sent; true stops sending from it on.
    using Predicate = std::function<bool(const uint8_t* cdb)>;

    explicit StoppingTransport(Transport& inner) : m_inner(inner) {}

    void StopWhen(Predicate when) { m_when = std::move(when); }
    bool Stopped() const { return m_stopped; }

    bool PassThrough() const override { return m_inner.PassThrough(); }
    int Scan(DeviceTable& table, const Identify& identify) override { return m_inner.Scan(table, identify); }
    void Execute(const DeviceEntry& device, const uint8_t* cdb, uint8_t* data, uint32_t length, uint8_t direction,
                 CommandResult& result) override {
        if (!m_stopped && m_when && m_when(cdb)) m_stopped = true;
        if (m_stopped) {
            result = CommandResult{};
            result.outcome = CommandOutcome::NotSent;
            return;
        }
        m_inner.Execute(device, cdb, data, length, direction, result);
    }
    std::string DevicePath(const DeviceEntry& device) const override { return m_inner.DevicePath(device); }
    std::vector<std::string> OtherNames(const DeviceEntry& device) const override {
        return m_inner.OtherNames(device);
    }
    std::vector<UnlistedDrive> Unlisted() const override { return m_inner.Unlisted(); }
    DriveHold HoldForUpdate(const DeviceEntry& device) override { return m_inner.HoldForUpdate(device); }
    void ReleaseHold(const DeviceEntry& device) override { m_inner.ReleaseHold(device); }

private:
    Transport& m_inner;
    Predicate m_when;
    bool m_stopped = false;
};

}  // namespace keluflash::test
