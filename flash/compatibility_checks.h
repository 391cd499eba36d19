#pragma once
// The checks that tie an image to the selected drive. Each adds exactly one
// line and returns false when it refuses.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "image/operator_report.h"

namespace keluflash {

class TAtapi;

inline constexpr const char* kMessageFamilyRefused = "Err: Cannot update this device use this update file!!";
inline constexpr const char* kMessageFirmwareIdRefused = "Err:The firmware is not support this device!!(4)";
inline constexpr const char* kMessageVendorRefused = "The Firmware isn't support this device !!(6)";
inline constexpr const char* kMessageProductRefused = "The Firmware isn't support this device !!(2)";
inline constexpr const char* kMessageModelRefused = "The Firmware isn't support this device !!(3)";

// Product identifications the update supports: 16 characters each, padded
// with spaces.
inline constexpr std::array<std::string_view, 10> kSupportedProducts{
    "DVD-ROM M100    ", "ZXR-0110K       ", "ZXR-0120K       ", "ZXR-0131K       ", "ZXR-0140K       ",
    "ZXR-0150K       ", "ZXR-0151K       ", "ZXR-0160K       ", "ZXB-0110        ", "ZXB-0120        "};
// Vendor and the first 9 product characters of the W0 family: 17 characters each.
inline constexpr std::array<std::string_view, 6> kFamilyModels{
    "KELU    ZXR-0110K", "KELU    ZXR-0120K", "KELU    ZXR-0130K",
    "KELU    ZXR-0140K", "KELU    ZXR-0150K", "KELU    ZXR-0160K"};

// The reply buffer of a fresh INQUIRY: 50 bytes asked for, 100 held, all 00
// before the command, so a failed command reads as 00 bytes.
inline constexpr size_t kCheckInquiryBufferSize = 100;

// Compares up to `count` characters as the C library does for texts: stops at
// the first difference or at a 00 common to both. Characters past the end of
// a text read as 00.
bool TextsEqual(std::string_view a, std::string_view b, size_t count);

bool CheckDriveFamily(TAtapi& atapi, const std::array<uint8_t, 2>& firmwareId, OperatorReport& report);
bool CheckFirmwareIdBytes(TAtapi& atapi, const std::array<uint8_t, 2>& firmwareId, OperatorReport& report);
// driveText: identification text of the selected entry (24 characters).
bool CheckVendor(const std::string& driveText, OperatorReport& report);
// listText: the selected drive-list line, "%s %s" of identification and revision.
bool CheckSupportedModel(const std::string& listText, OperatorReport& report);
// modelText: Edit1's text, the model text found by the open.
bool CheckModelMatch(const std::string& modelText, const std::string& driveText, OperatorReport& report);

}  // namespace keluflash
