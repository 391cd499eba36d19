#pragma once
// The checks that tie an image to the selected drive. Each adds exactly one
// line and returns false when it refuses.
#include <array>
#include <cstdint>
#include <string>

#include "image/operator_report.h"

namespace keluflash {

class TAtapi;

bool CheckDriveFamily(TAtapi& atapi, const std::array<uint8_t, 2>& firmwareId, OperatorReport& report);
bool CheckFirmwareIdBytes(TAtapi& atapi, const std::array<uint8_t, 2>& firmwareId, OperatorReport& report);
// driveText: identification text of the selected entry (24 characters).
bool CheckVendor(const std::string& driveText, OperatorReport& report);
// listText: the selected drive-list line, "%s %s" of identification and revision.
bool CheckSupportedModel(const std::string& listText, OperatorReport& report);
// modelText: Edit1's text, the model text found by the open.
bool CheckModelMatch(const std::string& modelText, const std::string& driveText, OperatorReport& report);

}  // namespace keluflash
