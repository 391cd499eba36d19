// keluflash-cli info: what a .kfs file holds, as the validation and the open
// see it. keluflash-cli pack: a .kfs file from raw plain blocks.
#include "app/cli/image_commands.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "app/cli/ansi_text.h"
#include "app/cli/cli_options.h"
#include "app/cli/command_output.h"
#include "app/cli/console_ui.h"
#include "app/cli/drive_setup.h"
#include "app/cli/file_checks.h"
#include "app/cli/safe_file.h"
#include "app/cli/text_escape.h"
#include "app/image_match.h"
#include "flash/compatibility_checks.h"
#include "flash/revision_preview.h"
#include "image/image_blocks.h"
#include "image/image_file.h"
#include "image/image_file_reader.h"
#include "image/image_writer.h"

namespace keluflash::cli {
namespace {

// Keeps the validation's one line, if any.
class CapturedReport : public OperatorReport {
public:
    void AddMessage(std::string_view text) override { lines.emplace_back(text); }
    void SetProgress(int) override {}
    std::vector<std::string> lines;
};

std::string Hex(unsigned value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*x", digits, value);
    return text;
}

nlohmann::json OrNull(bool present, nlohmann::json value) { return present ? std::move(value) : nlohmann::json(); }

constexpr const char* kInfoFooter = R"(Validates FILE as Start does and lists its images as the open finds them,
without a drive (every image passes the drive's firmware id check).

--json prints one object:
  file, valid, message        the line the validation adds ("Err:..."), or null
  header_bytes                how many of the 64 header bytes the file holds
  layout                      "single" or "multi"
  scramble_flag, scrambled    header byte 25; scrambled when it is 1
  checksum, computed_checksum header Checksum and the sum of the blocks
                              (null when a block cannot be read)
  block_count, block_sizes    BlockCount and its length slots
  image_stride, image_checksums   multi-image files only
  kfs_extension               whether the open would look for images at all
  images                      each: index, offset, model (or null),
                              firmware_id (4 hex digits, or null), window_complete
  selected_image              the image the open would select, or null
  open_messages               the lines the open adds, in order
  flashable, not_flashable_reason   whether Start would take the file as it
                              is, and why not (null when it would)
A file that cannot be read or is empty is an error, not a table; a file
that cannot be flashed as it is also carries "error" and "kind".

With --device (and --simulate) it also names that drive and what flashing
the file into it would change: the drive's revision beside the image's
("drive", "revision": {drive, image, comparison, line}). Only INQUIRY is
sent, as by the open of a multi-image file.

Exit status: 0 valid and flashable, 1 not, 2 usage.
)";

constexpr const char* kPackFooter = R"(Builds OUT from raw plain blocks: each --block FILE is one block, taken whole
(1 to 65535 bytes). The header gets the magic, the lengths and the checksums.

  single image (default)  at most 14 blocks
  --multi N               images of N blocks each (N at most 8), in the order
                          given; every image has the same block lengths, adding
                          up to at most 65535 bytes. The header's Checksum holds
                          the image count, which the validation also compares
                          with image 0's sum: pack refuses when they differ,
                          unless --balance lets it change the last bytes of
                          image 0's last block until they agree (test files).
  --scramble              scrambled blocks (flag 1); every block must start
                          with 02, which descrambling always yields
OUT is padded with zero bytes so that the open can read each image's first
65536 bytes (--no-pad: no padding).

OUT is written whole or not at all; an existing OUT is kept unless --force.

Exit status: 0 written, 1 refused, 2 usage.
)";

bool ReadBlockFile(const std::string& fileName, PlainBlock& block, std::string& error) {
    if (const std::optional<std::string> why = ReadProblem(fileName)) {
        error = "cannot read block file " + fileName + ": " + *why;
        return false;
    }
    std::ifstream in(fileName, std::ios::binary);
    if (!in) {
        error = "cannot read block file " + fileName;
        return false;
    }
    // One byte more than a block can hold is enough to refuse it.
    block.assign(kMaxBlockLength + 1, 0);
    in.read(reinterpret_cast<char*>(block.data()), static_cast<std::streamsize>(block.size()));
    block.resize(static_cast<size_t>(in.gcount()));
    return true;
}

struct PackArguments {
    std::string out;
    std::vector<std::string> blocks;
    bool scramble = false;
    int multi = 0;
    bool balance = false;
    bool noPad = false;
};

int RunPack(const PackArguments& args, const CommonOptions& common) {
    const bool json = common.json;
    const bool force = common.force;
    if (!common.device.empty())
        return ReportFailure(common, ErrorKind::Usage, "--device: pack takes no drive, it only writes a file");
    const auto refuse = [&common](const std::string& why) {
        return ReportFailure(common, ErrorKind::Refused, "pack: " + why);
    };
    std::vector<PlainBlock> blocks;
    for (const std::string& name : args.blocks) {
        PlainBlock block;
        std::string error;
        if (!ReadBlockFile(name, block, error)) return ReportFailure(common, ErrorKind::File, "pack: " + error);
        blocks.push_back(std::move(block));
    }
    ImageWriteOptions options;
    options.scramble = args.scramble;
    options.balanceImage0 = args.balance;
    options.padWindows = !args.noPad;
    ImageWriteResult result;
    if (args.multi > 0) {
        if (args.multi > kMaxBlocksPerImage)
            return refuse("an image of a multi-image file holds at most 8 blocks, not " + std::to_string(args.multi));
        if (blocks.size() % static_cast<size_t>(args.multi) != 0)
            return refuse(std::to_string(blocks.size()) + " blocks do not make images of " +
                          std::to_string(args.multi) + " blocks each");
        std::vector<PlainImage> images;
        for (size_t i = 0; i < blocks.size(); i += static_cast<size_t>(args.multi))
            images.emplace_back(blocks.begin() + static_cast<std::ptrdiff_t>(i),
                                blocks.begin() + static_cast<std::ptrdiff_t>(i) + args.multi);
        result = BuildMultiImageFile(std::move(images), options);
    } else {
        result = BuildSingleImageFile(blocks, options);
    }
    if (!result.ok) return refuse(result.error);
    std::string error;
    if (!WriteFileSafely(args.out, result.bytes, force, error))
        return ReportFailure(common, ErrorKind::File, "pack: " + error);
    if (!json)
        for (const std::string& note : result.notes) std::cerr << "keluflash-cli pack: note: " << PrintableText(note) << "\n";

    const ImageHeader& header = result.header;
    nlohmann::json written;
    if (json) {
        written = {{"file", AnsiToUtf8(args.out)},
                               {"bytes", result.bytes.size()},
                               {"layout", header.IsMultiImage() ? "multi" : "single"},
                               {"scrambled", header.Scrambled()},
                               {"checksum", header.Checksum()},
                               {"block_count", header.BlockCount()},
                               {"notes", result.notes}};
    } else {
        std::cout << "wrote " << PrintableText(args.out) << ": " << result.bytes.size() << " bytes, "
                  << (header.IsMultiImage() ? "multi-image" : "single image") << ", " << header.BlockCount()
                  << " blocks" << (header.IsMultiImage() ? " per image" : "")
                  << (header.Scrambled() ? ", scrambled" : ", plain") << ", checksum 0x" << Hex(header.Checksum(), 4)
                  << "\n";
    }
    return ReportSuccess(common, std::move(written));
}

// Why Start would refuse the file as it is, from what `info` found.
std::string NotFlashableReason(const nlohmann::json& info) {
    if (!info["valid"].get<bool>())
        return info["message"].is_null() ? std::string("a block cannot be read in full (the file is cut short)")
                                         : "the validation refuses it: " + info["message"].get<std::string>();
    if (!info["kfs_extension"].get<bool>())
        return kNotKfsName;
    for (const auto& image : info["images"]) {
        if (!image["window_complete"].get<bool>())
            return "the first 65536 bytes of image " + std::to_string(image["index"].get<int>()) +
                   " are not all in the file, so the open cannot identify it (pack pads files for this)";
    }
    if (!info["open_messages"].empty()) return info["open_messages"].back().get<std::string>();
    return kNoImageIdentified;
}

// info --device: the named drive, and the drive's revision beside the image
// the open selects for it (its firmware id check asks the drive, as the
// window's open does). False with the failure reported when there is no such
// drive.
bool AddDrivePreview(const CommonOptions& common, const std::string& fileName, nlohmann::json& info,
                     std::string& rows, int& exitCode) {
    CommonOptions options = common;
    options.commandFiles.push_back(fileName);
    ConsoleUi ui(std::cin, std::cerr, ConsoleIsInteractive());
    SetupError error;
    const std::unique_ptr<DriveSetup> setup = DriveSetup::Create(options, ui, error);
    std::string why = error.message;
    const std::optional<int> index = setup ? setup->SelectDevice(options.device, why) : std::nullopt;
    if (!index) {
        exitCode = ReportFailure(options, setup ? ErrorKind::Drive : error.kind, why, {{"file", fileName}});
        return false;
    }
    TAtapi& atapi = setup->Atapi();
    const DeviceEntry& entry = atapi.Device(*index);
    const std::string drive = setup->DriveName(*index);
    ImageCopy copy;
    copy.Load(fileName);
    ImageHeader header;
    ImageSelection selection;
    std::string edit1;
    CapturedReport lines;
    OpenImageFile(
        copy, header, selection, edit1,
        [&](const std::array<uint8_t, 2>& firmwareId) { return CheckFirmwareIdBytes(atapi, firmwareId, lines); },
        lines);
    std::optional<RevisionPreview> preview;
    if (selection.identified) preview = PreviewRevisions(entry.RevisionText(), edit1);
    info["drive"] = setup->DriveJson(*index);
    info["revision"] = RevisionJson(preview);
    rows = "Drive:            " + PrintableText(drive) + "\n";
    // Both revisions come from outside: the image's file and the drive's INQUIRY.
    rows += "Revision:         " +
            PrintableText(preview ? RevisionText(*preview)
                                  : std::string("unknown: the open selects no image for this drive") +
                                        (lines.lines.empty() ? std::string() : " (" + lines.lines.back() + ")")) +
            "\n";
    if (const std::string lost = setup->TraceFailure(); !lost.empty()) {
        if (options.json)
            info["trace_error"] = lost;
        else
            std::cerr << "keluflash-cli: " + PrintableText(lost) + "\n";
    }
    setup->ReportReplay(options.json, info);
    if (const std::string stopped = setup->ReplayFailure(); !stopped.empty()) {
        exitCode = ReportFailure(options, ErrorKind::Replay, stopped, info);
        return false;
    }
    return true;
}

}  // namespace


nlohmann::json ImageInfo(const std::string& fileName) {
    nlohmann::json info;
    info["file"] = AnsiToUtf8(fileName);

    // The file is read once; everything below looks at that copy.
    ImageCopy copy;
    copy.Load(fileName);
    CapturedReport report;
    ImageHeader header;
    info["valid"] = ValidateImageFile(copy, header, report);
    info["message"] = OrNull(!report.lines.empty(), report.lines.empty() ? "" : report.lines.front());

    const bool opened = copy.Loaded();
    header = copy.Header();
    info["header_bytes"] = std::min<uint64_t>(copy.Size(), kHeaderSize);
    const bool multi = header.IsMultiImage();
    info["layout"] = multi ? "multi" : "single";
    info["scramble_flag"] = header.ScrambleFlag();
    info["scrambled"] = header.Scrambled();
    info["checksum"] = header.Checksum();
    auto buffer = BlockBuffer::Allocate();
    const std::optional<BlockSum> blocks =
        opened && header.BlockCountInRange() ? SumBlocks(copy, header, kHeaderSize) : std::nullopt;
    const bool computed = blocks && blocks->complete;
    info["computed_checksum"] = OrNull(computed, computed ? blocks->sum : 0);
    info["block_count"] = header.BlockCount();
    nlohmann::json sizes = nlohmann::json::array();
    for (int i = 0; i < header.BlockCount() && i < header.MaxBlockCount(); ++i) sizes.push_back(header.BlockSize(i));
    info["block_sizes"] = sizes;
    if (multi) {
        info["image_stride"] = header.StrideFromSlots();
        nlohmann::json slots = nlohmann::json::array();
        for (int k = 0; k < kImageChecksumSlots; ++k) slots.push_back(header.ImageChecksum(k));
        info["image_checksums"] = slots;
    }
    info["kfs_extension"] = HasKfsExtension(fileName);

    nlohmann::json images = nlohmann::json::array();
    if (opened && buffer) {
        ScanImages(copy, header, multi ? header.StrideFromSlots() : 0, *buffer, [&](const ImageIdentity& image) {
            images.push_back({{"index", image.index},
                              {"offset", image.offset},
                              {"window_complete", image.windowComplete},
                              {"model", OrNull(image.identified, image.modelText)},
                              {"firmware_id", OrNull(image.identified, FirmwareIdText(image.firmwareId))}});
            return true;
        });
    }
    info["images"] = images;

    // What the open would record, with a drive that takes every image.
    ImageSelection selection;
    std::string edit1;
    CapturedReport openReport;
    OpenImageFile(copy, header, selection, edit1, {}, openReport);
    info["selected_image"] = OrNull(selection.identified, selection.ImageIndex);
    info["open_messages"] = openReport.lines;
    info["flashable"] = info["valid"].get<bool>() && selection.identified;
    info["not_flashable_reason"] = OrNull(!info["flashable"].get<bool>(), NotFlashableReason(info));
    return info;
}

std::string ImageInfoText(const nlohmann::json& info) {
    std::ostringstream out;
    const auto line = [&out](const std::string& label, const std::string& value) {
        out << label << std::string(label.size() < 18 ? 18 - label.size() : 1, ' ') << value << "\n";
    };
    const auto hex16 = [](const nlohmann::json& value) {
        return value.is_null() ? std::string("unreadable") : "0x" + Hex(value.get<unsigned>(), 4);
    };
    line("File:", PrintableText(info["file"].get<std::string>()));
    line("Validation:", info["valid"].get<bool>() ? std::string("valid")
                        : info["message"].is_null() ? std::string("not valid (a block cannot be read in full)")
                                                    : "not valid: " + info["message"].get<std::string>());
    line("Layout:", (info["layout"] == "multi" ? std::string("multi-image") : std::string("single image")) +
                        (info["scrambled"].get<bool>() ? ", scrambled" : ", plain") + " (flag 0x" +
                        Hex(info["scramble_flag"].get<unsigned>(), 2) + ")");
    line("Checksum:", hex16(info["checksum"]) + " (blocks sum to " + hex16(info["computed_checksum"]) + ")");
    std::string sizes = std::to_string(info["block_count"].get<unsigned>());
    if (!info["block_sizes"].empty()) {
        sizes += ":";
        for (const auto& size : info["block_sizes"]) sizes += " " + std::to_string(size.get<unsigned>());
    }
    line("Blocks:", sizes);
    if (info.contains("image_stride")) line("Image stride:", hex16(info["image_stride"]));
    if (!info["kfs_extension"].get<bool>()) line("Extension:", "not kfs: the open looks for no image");
    for (const auto& image : info["images"]) {
        std::string text = "offset " + std::to_string(image["offset"].get<uint64_t>());
        if (!image["window_complete"].get<bool>())
            text += ", its first 65536 bytes are not all in the file";
        else if (image["model"].is_null())
            text += ", no identification";
        else
            text += ", model \"" + PrintableText(image["model"].get<std::string>()) + "\", firmware id " +
                    image["firmware_id"].get<std::string>();
        line("Image " + std::to_string(image["index"].get<int>()) + ":", text);
    }
    line("Selected image:", info["selected_image"].is_null() ? std::string("none")
                                                             : std::to_string(info["selected_image"].get<int>()));
    for (const auto& message : info["open_messages"]) line("Open:", PrintableText(message.get<std::string>()));
    if (!info["flashable"].get<bool>())
        line("Flashing:", "cannot be flashed as it is: " + PrintableText(info["not_flashable_reason"].get<std::string>()));
    return out.str();
}

void RegisterImageCommands(CLI::App& app, CommonOptions& options, int& exitCode) {
    CLI::App* info = app.add_subcommand("info", "Show what a .kfs image file holds and whether it is valid");
    auto infoFile = std::make_shared<std::string>();
    info->add_option("FILE", *infoFile, "the image file")->required();
    info->add_flag("--json", options.json, "print one JSON object");
    info->footer(kInfoFooter);
    info->callback([infoFile, &options, &exitCode] {
        // A file that cannot be read has nothing to show: no table of zeros.
        if (const std::optional<std::string> problem = ImageFileProblem(*infoFile)) {
            exitCode = ReportFailure(options, ErrorKind::File, *problem, {{"file", *infoFile}});
            return;
        }
        nlohmann::json result = ImageInfo(*infoFile);
        std::string driveRows;
        if (!options.device.empty() && !AddDrivePreview(options, *infoFile, result, driveRows, exitCode)) return;
        if (!options.json) std::cout << ImageInfoText(result) << driveRows;
        if (result["flashable"].get<bool>()) {
            exitCode = ReportSuccess(options, std::move(result));
            return;
        }
        const std::string reason = "cannot be flashed as it is: " + result["not_flashable_reason"].get<std::string>();
        // Without --json the table said why.
        exitCode = options.json ? ReportFailure(options, ErrorKind::File, *infoFile + " " + reason, result)
                                : ReportFailure(options, ErrorKind::File, {}, std::move(result));
    });

    CLI::App* pack = app.add_subcommand("pack", "Build a .kfs image file from raw plain blocks");
    auto args = std::make_shared<PackArguments>();
    pack->add_option("OUT", args->out, "the image file to write")->required();
    pack->add_option("--block", args->blocks, "block files, in order (repeat or list several)")
        ->required()
        ->expected(1, -1);
    pack->add_flag("--scramble", args->scramble, "scramble every block");
    pack->add_option("--multi", args->multi, "a multi-image file of N-block images")->check(CLI::Range(1, 65535));
    pack->add_flag("--balance", args->balance, "multi-image: change image 0's last bytes so its sum is the image count");
    pack->add_flag("--no-pad", args->noPad, "do not pad the file for the open's 65536-byte window");
    pack->add_flag("--json", options.json, "print what was written as JSON");
    pack->footer(kPackFooter);
    pack->add_flag("--force", options.force, "replace OUT when it exists");
    pack->callback([args, &options, &exitCode] { exitCode = RunPack(*args, options); });
}

}  // namespace keluflash::cli
