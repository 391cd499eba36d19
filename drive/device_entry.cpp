#include "drive/device_entry.h"

#include <algorithm>

namespace keluflash {

namespace {

constexpr size_t kIdentificationOffset = 8;  // vendor (8) and product (16) identification
constexpr size_t kIdentificationLength = 24;
constexpr size_t kRevisionOffset = 32;
constexpr size_t kRevisionLength = 4;

template <size_t N>
void CopyInquiryText(std::array<char, N>& field, const uint8_t* from, size_t count, bool untilZero) {
    field.fill(0);
    count = std::min(count, N - 1);
    for (size_t i = 0; i < count && !(untilZero && from[i] == 0); ++i) {
        field[i] = static_cast<char>(from[i]);
    }
}

}  // namespace

void FillInquiryTexts(DeviceEntry& entry, const uint8_t* inquiry, bool identificationUntilZero) {
    CopyInquiryText(entry.identification, inquiry + kIdentificationOffset, kIdentificationLength,
                    identificationUntilZero);
    CopyInquiryText(entry.revision, inquiry + kRevisionOffset, kRevisionLength, true);
}

}  // namespace keluflash
