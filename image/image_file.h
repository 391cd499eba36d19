#pragma once
// Validating a firmware image file and opening it (identification of its
// image or images).
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "image/image_copy.h"
#include "image/image_file_reader.h"
#include "image/image_header.h"
#include "image/operator_report.h"

namespace keluflash {

// Operator lines of the validation and the open.
inline constexpr const char* kMessageOpenFirmwareFileError = "Err:Open Firmware file Error!!";
inline constexpr const char* kMessageNotKeluFileSystem = "Err:Not KELU File system!!";
inline constexpr const char* kMessageMemoryAllocation = "Err:Memory allocation";
inline constexpr const char* kMessageFileChecksumError = "Err:File check sum error!!";
// A header that counts more blocks than it has length slots for.
inline constexpr const char* kMessageBlockCountError = "Err:Firmware file block count error!!";
// "Err:Open File: %s Error!!" with the full file name.
std::string OpenFileErrorLine(const std::string& fileName);
// A multi-image file whose matching image has no checksum slot (index 6 or
// more): "Err:Image %d has no checksum slot, not selected!!".
std::string ImageWithoutChecksumLine(int32_t index);

// The file as the open read it: its header into `header`, then the magic,
// the block count and the checksum of blocks 0 to BlockCount-1 tested. False
// after one message line (a copy that could not be read says why).
bool ValidateImageFile(const ImageCopy& copy, ImageHeader& header, OperatorReport& report);
// A block the validation cannot read in full:
// "Err:Block %d of the firmware file is short: %u of %u bytes!!" (a length
// of 0: "Err:Block %d of the firmware file has length 0!!").
std::string ShortBlockLine(int block, uint64_t got, uint16_t size);

// The open without its dialog, over the file as `copy` read it: header,
// extension test, images, identification.
// Clears `selection` and `edit1` first. `checkFirmwareId` is called for each
// identified image of a multi-image file (the drive's INQUIRY check); it adds
// its own message when it fails. An empty check passes every image (tools that
// read a file without a drive). An image the drive takes that has no checksum
// slot (index 6 or more) is not selected: one "Err:" line, the selection is
// cleared (so Start refuses the file) and the open ends. `selection.identified`
// says whether an image was recorded.
using FirmwareIdCheck = std::function<bool(const std::array<uint8_t, 2>& firmwareId)>;
void OpenImageFile(const ImageCopy& copy, ImageHeader& header, ImageSelection& selection, std::string& edit1,
                   const FirmwareIdCheck& checkFirmwareId, OperatorReport& report);

// The text after the last '.' of the path is "kfs" in any letter case.
bool HasKfsExtension(std::string_view fileName);

// Identification block: laid out like INQUIRY data, found in an image's first
// 65,536 bytes at 64 bytes or more from the image start.
inline constexpr size_t kIdentificationSize = 40;
inline constexpr size_t kIdentificationMinOffset = 64;
inline constexpr size_t kModelTextOffset = 8;
inline constexpr size_t kModelTextMax = 28;
inline constexpr size_t kFirmwareIdOffset = 38;

// The lowest position p >= 64 in the window where an identification block
// starts with all its 40 bytes inside the window; nothing when there is none.
std::optional<size_t> FindIdentificationBlock(const uint8_t* window, size_t size);
// The model text of the block at `block`: up to its first 00, at most 28 characters.
std::string ModelTextOf(const uint8_t* block);
std::array<uint8_t, 2> FirmwareIdOf(const uint8_t* block);

// One image as the open sees it.
struct ImageIdentity {
    int32_t index = 0;
    uint64_t offset = 0;          // where the image starts in the file
    bool windowComplete = false;  // its 65,536-byte window could be read in full
    bool identified = false;      // an identification block was found
    std::string modelText;
    std::array<uint8_t, 2> firmwareId{};
};

// Visits the images the open visits, in order: one for a single-image file,
// Checksum many for a multi-image file (`stride` apart). Stops after the first
// image whose window cannot be read in full (it is visited with
// windowComplete false), or when `visit` returns false. `window` is the
// open's one window buffer.
using ImageVisitor = std::function<bool(const ImageIdentity& image)>;
void ScanImages(const ImageCopy& copy, const ImageHeader& header, uint16_t stride, BlockBuffer& window,
                const ImageVisitor& visit);

}  // namespace keluflash
