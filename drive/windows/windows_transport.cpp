#include "drive/windows/windows_transport.h"

#include "drive/windows/aspi_transport.h"
#include "drive/windows/nt_pass_through_transport.h"

namespace keluflash {

std::unique_ptr<Transport> MakeWindowsTransport(const WindowsPorts& ports) {
    if (ports.platform.IsNtFamily()) {
        return std::make_unique<NtPassThroughTransport>(ports);
    }
    return std::make_unique<AspiTransport>(ports);
}

}  // namespace keluflash
