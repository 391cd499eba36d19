#include "image/image_file.h"

#include "image/descramble.h"
#include "image/image_blocks.h"

namespace keluflash {

std::string OpenFileErrorLine(const std::string& fileName) { return "Err:Open File: " + fileName + " Error!!"; }

std::string ImageWithoutChecksumLine(int32_t index) {
    return "Err:Image " + std::to_string(index) + " has no checksum slot, not selected!!";
}

std::string ShortBlockLine(int block, uint64_t got, uint16_t size) {
    if (size == 0) return "Err:Block " + std::to_string(block) + " of the firmware file has length 0!!";
    return "Err:Block " + std::to_string(block) + " of the firmware file is short: " + std::to_string(got) + " of " +
           std::to_string(size) + " bytes!!";
}

bool ValidateImageFile(const ImageCopy& copy, ImageHeader& header, OperatorReport& report) {
    switch (copy.Result()) {
        case ImageCopy::LoadResult::Loaded: break;
        case ImageCopy::LoadResult::NotLoaded:
        case ImageCopy::LoadResult::CannotOpen: report.AddMessage(kMessageOpenFirmwareFileError); return false;
        case ImageCopy::LoadResult::NotARegularFile:
            report.AddMessage(NotARegularFileLine(copy.NotAFileKind()));
            return false;
        case ImageCopy::LoadResult::NoMemory: report.AddMessage(kMessageMemoryAllocation); return false;
    }
    // A file shorter than the header cannot carry the magic: its missing
    // bytes read as 00 and are never taken from an earlier file.
    header = copy.Header();
    if (copy.Size() < kHeaderSize || !header.MagicMatches()) {
        report.AddMessage(kMessageNotKeluFileSystem);
        return false;
    }
    if (!header.BlockCountInRange()) {
        report.AddMessage(kMessageBlockCountError);
        return false;
    }
    const std::optional<BlockSum> blocks = SumBlocks(copy, header, kHeaderSize);
    if (!blocks) {
        report.AddMessage(kMessageMemoryAllocation);
        return false;
    }
    // A block that cannot be read in full (a length of 0 included) says
    // which block and how much of it is there.
    if (!blocks->complete) {
        report.AddMessage(ShortBlockLine(blocks->shortBlock, blocks->got, header.BlockSize(blocks->shortBlock)));
        return false;
    }
    if (blocks->sum != header.Checksum()) {
        report.AddMessage(kMessageFileChecksumError);
        return false;
    }
    return true;
}

bool HasKfsExtension(std::string_view fileName) {
    const size_t dot = fileName.rfind('.');
    if (dot == std::string_view::npos) return false;
    const std::string_view extension = fileName.substr(dot + 1);
    constexpr std::string_view kKfs = "kfs";
    if (extension.size() != kKfs.size()) return false;
    for (size_t i = 0; i < kKfs.size(); ++i) {
        char c = extension[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != kKfs[i]) return false;
    }
    return true;
}

std::optional<size_t> FindIdentificationBlock(const uint8_t* window, size_t size) {
    // Only blocks whose 40 bytes all lie inside the window count.
    for (size_t p = kIdentificationMinOffset; p + kIdentificationSize <= size; ++p) {
        if (window[p] == 0x05 && window[p + 1] == 0x80 && window[p + 2] == 0x00 &&
            (window[p + 4] == 0x1F || window[p + 4] == 0x5B))
            return p;
    }
    return std::nullopt;
}

std::string ModelTextOf(const uint8_t* block) {
    std::string text;
    for (size_t i = 0; i < kModelTextMax && block[kModelTextOffset + i] != 0; ++i)
        text.push_back(static_cast<char>(block[kModelTextOffset + i]));
    return text;
}

std::array<uint8_t, 2> FirmwareIdOf(const uint8_t* block) {
    return {block[kFirmwareIdOffset], block[kFirmwareIdOffset + 1]};
}

void ScanImages(const ImageCopy& copy, const ImageHeader& header, uint16_t stride, BlockBuffer& window,
                const ImageVisitor& visit) {
    const uint32_t count = header.IsMultiImage() ? header.Checksum() : 1;
    uint64_t runningOffset = 0;  // at most 65,534 x 65,535: no wrap
    for (uint32_t k = 0; k < count; ++k) {
        if (k >= 1) runningOffset += stride;
        ImageIdentity image;
        image.index = static_cast<int32_t>(k);
        image.offset = kHeaderSize + runningOffset;
        image.windowComplete = copy.Read(image.offset, window.Data(), window.Size()) == window.Size();
        if (!image.windowComplete) {
            visit(image);
            return;
        }
        // One run over the whole window with the key of the image's first byte.
        if (header.Scrambled()) DescrambleBlock(window.Data(), static_cast<uint32_t>(window.Size()));
        if (const std::optional<size_t> p = FindIdentificationBlock(window.Data(), window.Size())) {
            image.identified = true;
            image.modelText = ModelTextOf(window.Data() + *p);
            image.firmwareId = FirmwareIdOf(window.Data() + *p);
        }
        if (!visit(image)) return;
    }
}

void OpenImageFile(const ImageCopy& copy, ImageHeader& header, ImageSelection& selection, std::string& edit1,
                   const FirmwareIdCheck& checkFirmwareId, OperatorReport& report) {
    // Whatever an earlier open recorded belonged to another file.
    selection = ImageSelection{};
    edit1.clear();

    switch (copy.Result()) {
        case ImageCopy::LoadResult::Loaded: break;
        case ImageCopy::LoadResult::NotARegularFile: report.AddMessage(NotARegularFileLine(copy.NotAFileKind())); return;
        case ImageCopy::LoadResult::NoMemory: report.AddMessage(kMessageMemoryAllocation); return;
        case ImageCopy::LoadResult::NotLoaded:
        case ImageCopy::LoadResult::CannotOpen: report.AddMessage(OpenFileErrorLine(copy.FileName())); return;
    }
    header = copy.Header();
    auto window = BlockBuffer::Allocate();
    if (!window) {
        report.AddMessage(kMessageMemoryAllocation);
        return;
    }
    if (!HasKfsExtension(copy.FileName())) return;

    const bool multi = header.IsMultiImage();
    if (multi) selection.ImageStride = header.StrideFromSlots();

    ScanImages(copy, header, selection.ImageStride, *window, [&](const ImageIdentity& image) {
        if (!image.windowComplete) return false;  // ends quietly; earlier records stay
        if (!image.identified) return true;
        selection.FirmwareId = image.firmwareId;
        if (multi) {
            // The check adds its own line; what earlier images recorded stays.
            if (checkFirmwareId && !checkFirmwareId(image.firmwareId)) return false;
            // The downloads would pass a checksum from past the header's slots
            // for this image: select nothing, so Start refuses the file.
            if (image.index >= kImageChecksumSlots) {
                report.AddMessage(ImageWithoutChecksumLine(image.index));
                const uint16_t stride = selection.ImageStride;
                selection = ImageSelection{};
                selection.ImageStride = stride;
                edit1.clear();
                return false;
            }
        }
        selection.ImageIndex = image.index;
        selection.identified = true;
        edit1 = image.modelText;
        return true;
    });
}

}  // namespace keluflash
