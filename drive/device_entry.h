#pragma once
// One optical drive found at start-up and the small value types around it.
#include <array>
#include <cstdint>
#include <string>

namespace keluflash {

// An operating-system device handle as the core sees it: an opaque number.
// The port that opened it owns the real handle.
using DeviceHandle = uintptr_t;

// Direction codes, the values of the ASPI direction flags.
inline constexpr uint8_t kDirectionNone = 0;
inline constexpr uint8_t kDirectionIn = 8;
inline constexpr uint8_t kDirectionOut = 16;

inline constexpr uint8_t kStatusGood = 1;  // success on both paths

struct SenseTriple {
    uint8_t key = 0;   // sense byte 2, whole byte
    uint8_t asc = 0;   // sense byte 12
    uint8_t ascq = 0;  // sense byte 13
    bool operator==(const SenseTriple&) const = default;
};

struct DeviceEntry {
    DeviceHandle handle = 0;
    uint8_t hostAdapter = 0;
    uint8_t target = 0;
    uint8_t lun = 0;
    std::array<char, 50> identification{};  // INQUIRY bytes 8-31, zero-terminated
    std::array<char, 8> revision{};          // INQUIRY bytes 32-35, zero-terminated

    std::string IdentificationText() const { return std::string(identification.data()); }
    std::string RevisionText() const { return std::string(revision.data()); }
};

inline constexpr int kDeviceTableSize = 20;

// The SCSI peripheral device type of a CD/DVD drive (INQUIRY byte 0, the
// ASPI probe's answer, sysfs' type file).
inline constexpr uint8_t kScsiTypeCdrom = 5;

// INQUIRY's answer as the scans ask for it, and where its texts lie.
inline constexpr size_t kInquiryLength = 50;

// Puts the INQUIRY identification (bytes 8-31) and revision (bytes 32-35)
// into the entry's text fields, always zero-terminated. With
// identificationUntilZero a zero byte ends the identification early (the
// revision always ends at a zero byte).
void FillInquiryTexts(DeviceEntry& entry, const uint8_t* inquiry, bool identificationUntilZero);

}  // namespace keluflash
