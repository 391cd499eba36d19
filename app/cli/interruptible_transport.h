#pragma once
// The transport every command of keluflash-cli talks through: once a signal
// has interrupted the command, no further command is sent to a drive (each
// comes back as not sent), so the command runs to its own end at once and
// reports the interruption from there. A signal held while the drive is
// written never interrupts: the update's commands go on.
#include "drive/transport.h"

namespace keluflash::cli {

class SignalWatch;

class InterruptibleTransport final : public Transport {
public:
    InterruptibleTransport(Transport& inner, const SignalWatch& signals) : m_inner(inner), m_signals(signals) {}

    bool PassThrough() const override { return m_inner.PassThrough(); }
    int Scan(DeviceTable& table, const Identify& identify) override { return m_inner.Scan(table, identify); }
    void Execute(const DeviceEntry& device, const uint8_t* cdb, uint8_t* data, uint32_t length, uint8_t direction,
                 CommandResult& result) override;
    std::string DevicePath(const DeviceEntry& device) const override { return m_inner.DevicePath(device); }
    std::vector<std::string> OtherNames(const DeviceEntry& device) const override {
        return m_inner.OtherNames(device);
    }
    std::vector<UnlistedDrive> Unlisted() const override { return m_inner.Unlisted(); }
    DriveHold HoldForUpdate(const DeviceEntry& device) override { return m_inner.HoldForUpdate(device); }
    void ReleaseHold(const DeviceEntry& device) override { m_inner.ReleaseHold(device); }

private:
    Transport& m_inner;
    const SignalWatch& m_signals;
};

}  // namespace keluflash::cli
