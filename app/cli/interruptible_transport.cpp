#include "app/cli/interruptible_transport.h"

#include "app/cli/signal_watch.h"

namespace keluflash::cli {

void InterruptibleTransport::Execute(const DeviceEntry& device, const uint8_t* cdb, uint8_t* data, uint32_t length,
                                     uint8_t direction, CommandResult& result) {
    if (m_signals.Interrupted() != 0) {
        result = CommandResult{};
        result.outcome = CommandOutcome::NotSent;
        return;
    }
    ForwardingTransport::Execute(device, cdb, data, length, direction, result);
}

}  // namespace keluflash::cli
