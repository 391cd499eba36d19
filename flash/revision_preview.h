#pragma once
// What a flash will change, said before it happens: the firmware revision the
// drive reports (INQUIRY bytes 32-35) beside the one the image installs
// (characters 24-27 of its model text), compared as version numbers. The
// checks leave the revision out on purpose; the preview only informs, and a
// downgrade is asked about before the first write.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace keluflash {

// What the image's revision is to the drive's.
enum class RevisionChange : uint8_t {
    Newer,      // the image's version is higher
    Same,       // the same text: flashing again only repairs
    Older,      // the image's version is lower: a downgrade
    Different,  // either is not a plain version number (or both read the same as numbers): no order claimed
};

struct RevisionPreview {
    std::string drive;  // without surrounding spaces; empty when the drive reports none
    std::string image;
    RevisionChange change = RevisionChange::Different;

    bool Downgrade() const { return change == RevisionChange::Older; }
};

// Digits and dots only, every dot-separated part at least one digit: the
// order of `a` against `b` (-1, 0, 1), part by part numerically ("1.10" is
// above "1.9"), missing parts read as 0. Nothing when either is not such a
// number.
std::optional<int> CompareVersionNumbers(std::string_view a, std::string_view b);
RevisionChange CompareRevisions(std::string_view drive, std::string_view image);
// Characters 24-27 of a model text, without surrounding spaces (empty when
// the text is shorter).
std::string ImageRevision(std::string_view modelText);
RevisionPreview PreviewRevisions(std::string_view driveRevision, std::string_view modelText);

// "drive 1.00, image 1.05 (newer)", and the message line "Revision: " + that.
std::string RevisionText(const RevisionPreview& preview);
std::string RevisionLine(const RevisionPreview& preview);
// The question asked before the first write of a downgrade.
std::string DowngradeQuestion(const RevisionPreview& preview);
// The line of a downgrade nobody agreed to.
std::string DowngradeRefusedLine(const RevisionPreview& preview);
// "newer", "same", "older", "different" for JSON.
std::string_view RevisionChangeName(RevisionChange change);

}  // namespace keluflash
