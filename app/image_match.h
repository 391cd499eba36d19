#pragma once
// Which files of a folder fit the selected drive, found without writing
// anything to it: each regular file is opened and checked as Start checks it
// up to its first write (the validation, the open's identification, the
// checks, the last look at the image). Only INQUIRY reaches the drive.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/form1.h"
#include "flash/revision_preview.h"

namespace keluflash {

// Why a valid file holds no image the open would flash.
inline constexpr const char* kNotKfsName =
    "the open looks for an image only in a file whose name ends in .kfs; rename it";
inline constexpr const char* kNoImageIdentified =
    "no image carries an identification block, so the open selects none";

enum class MatchVerdict : uint8_t {
    Fits,     // every check passed
    Refused,  // a check refused it: its own line
    Invalid,  // not a valid image: the validation's line, the last look's, or why nothing was identified
};

struct MatchRow {
    std::string file;
    bool identified = false;       // the open selected an image: the next four hold it
    int32_t imageIndex = 0;
    std::string model;             // the model text (vendor, product and revision)
    std::string revision;          // the revision the image installs
    std::array<uint8_t, 2> firmwareId{};
    MatchVerdict verdict = MatchVerdict::Invalid;
    std::string line;              // why not (empty when it fits)
    std::optional<RevisionPreview> preview;  // the drive's revision beside the image's
};

// An entry of the folder that is not checked, and why.
struct SkippedEntry {
    std::string path;
    std::string reason;
};

struct MatchResult {
    std::vector<MatchRow> rows;
    std::vector<SkippedEntry> skipped;
    std::string error;  // the folder itself cannot be read; then nothing else is set
};

// Checks every regular file of `folder` (and of its sub-folders with
// `recursive`) against the drive `form` selects, in name order. Symbolic
// links are not followed, to files or to folders. The rows come best fit
// first (SortBestFirst). `form` is the checking's own window: each file is
// opened in it.
MatchResult MatchFolder(TForm1& form, const std::string& folder, bool recursive);
// One file, as MatchFolder checks it.
MatchRow MatchFile(TForm1& form, const std::string& file);

// Fits first: newer than the drive (the newest first), the same, different,
// older (a downgrade, the newest first); then the refused files, then those
// that are not valid images; ties in name order.
void SortBestFirst(std::vector<MatchRow>& rows);
std::string_view MatchVerdictName(MatchVerdict verdict);  // "fits", "refused", "invalid"

}  // namespace keluflash
