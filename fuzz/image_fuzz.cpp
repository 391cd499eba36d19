// Arbitrary bytes as a .kfs file: the validation and the open (with a drive
// check that takes or refuses images by their id) must neither crash nor read
// outside their buffers, and must keep their promises about the selection.
#include <array>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "fuzz/fuzz_folder.h"
#include "image/image_file.h"

namespace {

class NullReport : public keluflash::OperatorReport {
public:
    void AddMessage(std::string_view) override { ++lines; }
    void SetProgress(int) override {}
    int lines = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const keluflash::fuzz::FuzzFolder folder("keluflash-image-fuzz-");
    const std::string file = folder.File("image.kfs");
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }

    NullReport report;
    keluflash::ImageHeader header;
    keluflash::ImageCopy copy;
    copy.Load(file);
    const bool valid = keluflash::ValidateImageFile(copy, header, report);
    if (valid && report.lines != 0) std::abort();          // a valid file adds no line
    if (!valid && report.lines > 1) std::abort();          // at most one line
    if (valid && (size < keluflash::kHeaderSize || !header.BlockCountInRange())) std::abort();

    keluflash::ImageSelection selection;
    selection.ImageIndex = 99;  // from an earlier file: must not survive
    std::string edit1 = "stale";
    keluflash::OpenImageFile(
        copy, header, selection, edit1,
        [](const std::array<uint8_t, 2>& id) { return (id[0] & 1) == 0; }, report);
    if (selection.identified) {
        if (selection.ImageIndex < 0 || edit1.size() > keluflash::kModelTextMax) std::abort();
        if (header.IsMultiImage() && selection.ImageIndex >= keluflash::kImageChecksumSlots) std::abort();
    } else if (selection.ImageIndex != 0 || !edit1.empty()) {
        std::abort();
    }
    return 0;
}
