#include "flash/compatibility_checks.h"

#include "drive/atapi.h"

namespace keluflash {
namespace {

constexpr size_t kFirmwareIdByte = 38;
constexpr size_t kFamilyTextOffset = 8;
constexpr size_t kFamilyTextLength = 17;
constexpr size_t kListProductOffset = 8;
constexpr size_t kProductLength = 16;
constexpr size_t kDriveTextLength = 24;

std::array<uint8_t, kCheckInquiryBufferSize> FreshInquiry(TAtapi& atapi) {
    std::array<uint8_t, kCheckInquiryBufferSize> reply{};
    atapi.Inquiry(reply.data());  // its status is not consulted: a failure leaves 00 bytes
    return reply;
}

std::string_view CharactersFrom(std::string_view text, size_t offset) {
    return offset < text.size() ? text.substr(offset) : std::string_view{};
}

}  // namespace

bool TextsEqual(std::string_view a, std::string_view b, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const char ca = i < a.size() ? a[i] : '\0';
        const char cb = i < b.size() ? b[i] : '\0';
        if (ca != cb) return false;
        if (ca == '\0') return true;
    }
    return true;
}

bool CheckFirmwareIdBytes(TAtapi& atapi, const std::array<uint8_t, 2>& firmwareId, OperatorReport& report) {
    const auto reply = FreshInquiry(atapi);
    if (reply[kFirmwareIdByte] == firmwareId[0] && reply[kFirmwareIdByte + 1] == firmwareId[1]) return true;
    report.AddMessage(kMessageFirmwareIdRefused);
    return false;
}

bool CheckDriveFamily(TAtapi& atapi, const std::array<uint8_t, 2>& firmwareId, OperatorReport& report) {
    const auto reply = FreshInquiry(atapi);
    if (reply[kFirmwareIdByte] != 'W' || reply[kFirmwareIdByte + 1] != '0')
        return CheckFirmwareIdBytes(atapi, firmwareId, report);
    // A W0-family drive: its vendor and the first 9 product characters decide;
    // the image's firmware id plays no part.
    const std::string_view family(reinterpret_cast<const char*>(reply.data()) + kFamilyTextOffset, kFamilyTextLength);
    for (const std::string_view model : kFamilyModels)
        if (TextsEqual(family, model, kFamilyTextLength)) return true;
    report.AddMessage(kMessageFamilyRefused);
    return false;
}

bool CheckVendor(const std::string& driveText, OperatorReport& report) {
    if (TextsEqual(std::string_view(driveText).substr(0, kDriveTextLength), "KELU", 4)) return true;
    report.AddMessage(kMessageVendorRefused);
    return false;
}

bool CheckSupportedModel(const std::string& listText, OperatorReport& report) {
    // A list line shorter than 24 characters reads as 00 where it has none,
    // which no row holds.
    const std::string_view product = CharactersFrom(listText, kListProductOffset);
    for (const std::string_view row : kSupportedProducts)
        if (TextsEqual(product, row, kProductLength)) return true;
    report.AddMessage(kMessageProductRefused);
    return false;
}

bool CheckModelMatch(const std::string& modelText, const std::string& driveText, OperatorReport& report) {
    const std::string_view model = std::string_view(modelText).substr(0, kDriveTextLength);
    const std::string_view drive = std::string_view(driveText).substr(0, kDriveTextLength);
    if (TextsEqual(model, drive, kDriveTextLength)) return true;
    report.AddMessage(kMessageModelRefused);
    return false;
}

}  // namespace keluflash
