#pragma once
// What a flash will change, said before it happens: the firmware revision the
// drive reports (INQUIRY bytes 32-35) beside the one the image installs
// (characters 24-27 of its model text), compared as version numbers. The
// checks leave the revision out on purpose: an image that is older than the
// drive's firmware, or whose revision cannot be ordered against it, is asked
// about before the first write, and everything else flashes without a word.
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
    Different,  // cannot be ordered: either is not a plain version number, or both read the same as numbers
};

struct RevisionPreview {
    std::string drive;  // without the padding spaces at its end; empty when the drive reports none
    std::string image;
    RevisionChange change = RevisionChange::Different;

    bool Downgrade() const { return change == RevisionChange::Older; }
    // A revision that cannot be ordered may as well be older: letter
    // suffixes ("1.0A") are common in drive firmware. Either needs a person's
    // Yes (or --allow-downgrade) before anything is written.
    bool NeedsAgreement() const { return change == RevisionChange::Older || change == RevisionChange::Different; }
};

// Digits and dots only, every dot-separated part at least one digit: the
// order of `a` against `b` (-1, 0, 1), part by part numerically ("1.10" is
// above "1.9"), missing parts read as 0. Nothing when either is not such a
// number.
std::optional<int> CompareVersionNumbers(std::string_view a, std::string_view b);
RevisionChange CompareRevisions(std::string_view drive, std::string_view image);
// Characters 24-27 of a model text, without the spaces that pad its end
// (empty when the text is shorter).
std::string ImageRevision(std::string_view modelText);
RevisionPreview PreviewRevisions(std::string_view driveRevision, std::string_view modelText);

// "drive 1.00, image 1.05 (newer)", and the message line "Revision: " + that.
std::string RevisionText(const RevisionPreview& preview);
std::string RevisionLine(const RevisionPreview& preview);
// The question asked before the first write of an image that NeedsAgreement:
// it names whether the image is older or cannot be ordered.
std::string DowngradeQuestion(const RevisionPreview& preview);
// The line of such an image nobody agreed to.
std::string DowngradeRefusedLine(const RevisionPreview& preview);
// "newer", "same", "older", "different" for JSON.
std::string_view RevisionChangeName(RevisionChange change);

}  // namespace keluflash
