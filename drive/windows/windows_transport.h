#pragma once
// The transport a Windows program uses, chosen once from the platform:
// SCSI pass-through on the NT family, ASPI on Windows 95/98/Me.
#include <memory>

#include "drive/transport.h"
#include "drive/windows/windows_ports.h"

namespace keluflash {

std::unique_ptr<Transport> MakeWindowsTransport(const WindowsPorts& ports);

}  // namespace keluflash
