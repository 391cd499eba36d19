#include "flash/revision_preview.h"

namespace keluflash {
namespace {

constexpr size_t kRevisionOffset = 24;  // in the model text, as in INQUIRY data from byte 8
constexpr size_t kRevisionLength = 4;

// INQUIRY pads its texts with spaces at the end, and so does the image's
// copy of them. A leading space is no padding: it stays, and such a text is
// no plain version number.
std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

bool PlainVersion(std::string_view text) {
    if (text.empty() || text.front() == '.' || text.back() == '.') return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '.') {
            if (text[i + 1] == '.') return false;  // an empty part
        } else if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

// The next dot-separated part from `text`, without its leading zeros ("" for
// a missing part, which reads as 0).
std::string_view NextPart(std::string_view& text) {
    const size_t dot = text.find('.');
    std::string_view part = text.substr(0, dot);
    text = dot == std::string_view::npos ? std::string_view{} : text.substr(dot + 1);
    while (!part.empty() && part.front() == '0') part.remove_prefix(1);
    return part;
}

std::string Shown(const std::string& revision) { return revision.empty() ? std::string("none") : revision; }

// In a sentence about a revision that cannot be ordered the text may be
// anything: quoted, so that spaces and punctuation show.
std::string Quoted(const std::string& revision) {
    return revision.empty() ? std::string("none") : "\"" + revision + "\"";
}

}  // namespace

std::optional<int> CompareVersionNumbers(std::string_view a, std::string_view b) {
    if (!PlainVersion(a) || !PlainVersion(b)) return std::nullopt;
    while (!a.empty() || !b.empty()) {
        const std::string_view left = NextPart(a);
        const std::string_view right = NextPart(b);
        // Without leading zeros the longer number is the larger; numbers of any
        // length compare without overflow.
        if (left.size() != right.size()) return left.size() < right.size() ? -1 : 1;
        if (const int order = left.compare(right); order != 0) return order < 0 ? -1 : 1;
    }
    return 0;
}

RevisionChange CompareRevisions(std::string_view drive, std::string_view image) {
    drive = Trimmed(drive);
    image = Trimmed(image);
    if (!drive.empty() && drive == image) return RevisionChange::Same;
    // "1.05" and "1.5" are equal as numbers but not the same text: no claim.
    const std::optional<int> order = CompareVersionNumbers(image, drive);
    if (!order || *order == 0) return RevisionChange::Different;
    return *order > 0 ? RevisionChange::Newer : RevisionChange::Older;
}

std::string ImageRevision(std::string_view modelText) {
    if (modelText.size() <= kRevisionOffset) return {};
    return std::string(Trimmed(modelText.substr(kRevisionOffset, kRevisionLength)));
}

RevisionPreview PreviewRevisions(std::string_view driveRevision, std::string_view modelText) {
    RevisionPreview preview;
    preview.drive = std::string(Trimmed(driveRevision));
    preview.image = ImageRevision(modelText);
    preview.change = CompareRevisions(preview.drive, preview.image);
    return preview;
}

std::string RevisionText(const RevisionPreview& preview) {
    std::string text = "drive " + Shown(preview.drive) + ", image " + Shown(preview.image) + " (";
    switch (preview.change) {
        case RevisionChange::Newer: return text + "newer)";
        case RevisionChange::Same: return text + "the same: flashing again only repairs)";
        case RevisionChange::Older: return text + "older: a downgrade)";
        case RevisionChange::Different: break;
    }
    return text + "cannot be ordered: it may be a downgrade)";
}

std::string RevisionLine(const RevisionPreview& preview) { return "Revision: " + RevisionText(preview); }

std::string DowngradeQuestion(const RevisionPreview& preview) {
    if (preview.Downgrade())
        return "The image holds firmware " + Shown(preview.image) + ", older than the drive's " +
               Shown(preview.drive) + ": a downgrade.\nFlash it anyway ?";
    return "The image's firmware revision " + Quoted(preview.image) + " cannot be ordered against the drive's " +
           Quoted(preview.drive) + ": it may be a downgrade.\nFlash it anyway ?";
}

std::string DowngradeRefusedLine(const RevisionPreview& preview) {
    if (preview.Downgrade())
        return "Err:Downgrade from " + Shown(preview.drive) + " to " + Shown(preview.image) +
               " not confirmed: nothing was written!!";
    return "Err:Revision " + Quoted(preview.image) + " cannot be ordered against the drive's " +
           Quoted(preview.drive) + ", not confirmed: nothing was written!!";
}

std::string_view RevisionChangeName(RevisionChange change) {
    switch (change) {
        case RevisionChange::Newer: return "newer";
        case RevisionChange::Same: return "same";
        case RevisionChange::Older: return "older";
        case RevisionChange::Different: break;
    }
    return "different";
}

}  // namespace keluflash
