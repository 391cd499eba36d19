#pragma once
// The transport every command of keluflash-cli talks through: once a signal
// has interrupted the command, no further command is sent to a drive (each
// comes back as not sent), so the command runs to its own end at once and
// reports the interruption from there. A signal held while the drive is
// written never interrupts: the update's commands go on.
#include "drive/forwarding_transport.h"

namespace keluflash::cli {

class SignalWatch;

class InterruptibleTransport final : public ForwardingTransport {
public:
    InterruptibleTransport(Transport& inner, const SignalWatch& signals)
        : ForwardingTransport(inner), m_signals(signals) {}

    void Execute(const DeviceEntry& device, const uint8_t* cdb, uint8_t* data, uint32_t length, uint8_t direction,
                 CommandResult& result) override;

private:
    const SignalWatch& m_signals;
};

}  // namespace keluflash::cli
