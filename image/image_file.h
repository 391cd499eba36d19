#pragma once
// Validating a firmware image file and opening it (identification of its
// image or images).
#include <functional>
#include <string>

#include "image/image_header.h"
#include "image/operator_report.h"

namespace keluflash {

// Reads the header into `header`, tests magic and checksum. False after at
// most one message line.
bool ValidateImageFile(const std::string& fileName, ImageHeader& header, OperatorReport& report);

// The open without its dialog: header, extension test, images, identification.
// Clears `selection` and `edit1` first. `checkFirmwareId` is called for each
// identified image of a multi-image file (the drive's INQUIRY check); it adds
// its own message when it fails.
using FirmwareIdCheck = std::function<bool(const std::array<uint8_t, 2>& firmwareId)>;
void OpenImageFile(const std::string& fileName, ImageHeader& header, ImageSelection& selection,
                   std::string& edit1, const FirmwareIdCheck& checkFirmwareId, OperatorReport& report);

}  // namespace keluflash
