#include "drive/windows_transport.h"

#include "drive/aspi_transport.h"
#include "drive/nt_pass_through_transport.h"

namespace keluflash {

std::unique_ptr<Transport> MakeWindowsTransport(const WindowsPorts& ports) {
    if (ports.platform.IsNtFamily()) {
        return std::make_unique<NtPassThroughTransport>(ports);
    }
    return std::make_unique<AspiTransport>(ports);
}

}  // namespace keluflash
