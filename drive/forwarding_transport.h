#pragma once
// A transport laid over another: every call passes to the one below unless a
// subclass takes it. The command line's interruptible transport and the
// tests' stopping transport are such, and see only what they change.
#include <string>
#include <vector>

#include "drive/transport.h"

namespace keluflash {

class ForwardingTransport : public Transport {
public:
    explicit ForwardingTransport(Transport& inner) : m_inner(inner) {}

    bool PassThrough() const override { return m_inner.PassThrough(); }
    int Scan(DeviceTable& table, const Identify& identify) override { return m_inner.Scan(table, identify); }
    void Execute(const DeviceEntry& device, const uint8_t* cdb, uint8_t* data, uint32_t length, uint8_t direction,
                 CommandResult& result) override {
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
};

}  // namespace keluflash
