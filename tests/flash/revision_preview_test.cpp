// The revision preview's comparison: version numbers part by part, and no
// order claimed for anything else; an image that is older or cannot be
// ordered needs agreement, and its question says which of the two it is.
#include <gtest/gtest.h>

#include "flash/revision_preview.h"

namespace keluflash {
namespace {

struct RevisionCase {
    const char* drive;
    const char* image;
    RevisionChange change;
};

TEST(RevisionPreview, ComparesVersionsNumericallyByPart) {
    const RevisionCase cases[] = {
        {"1.00", "1.05", RevisionChange::Newer},
        {"1.05", "1.00", RevisionChange::Older},
        {"1.00", "1.00", RevisionChange::Same},
        {"1.9", "1.10", RevisionChange::Newer},   // by part, not as text
        {"1.10", "1.9", RevisionChange::Older},
        {"1.00", "2", RevisionChange::Newer},     // a missing part reads as 0
        {"1", "1.0.1", RevisionChange::Newer},
        {"0010", "9", RevisionChange::Older},     // leading zeros count for nothing
        {"99999999999999999999.1", "99999999999999999999.2", RevisionChange::Newer},  // no overflow
        {"1.1 ", "1.1", RevisionChange::Same},    // INQUIRY pads with spaces at the end
        {"1.10", "1.0 ", RevisionChange::Older},
        {" 1.0", "1.0", RevisionChange::Different},  // a leading space is no padding
        {"1.00", " 2.0", RevisionChange::Different},
        // Letters or other forms: no order is claimed.
        {"1.0A", "1.00", RevisionChange::Different},
        {"1.00", "1.0A", RevisionChange::Different},
        {"1.0A", "1.0B", RevisionChange::Different},
        {"1.0A", "1.0A", RevisionChange::Same},   // the same text is the same firmware
        {"1..0", "1.00", RevisionChange::Different},
        {".1", "0.1", RevisionChange::Different},
        {"1.", "1.1", RevisionChange::Different},
        {"1-0", "1.1", RevisionChange::Different},
        {"", "1.00", RevisionChange::Different},  // the drive reports none
        {"1.00", "", RevisionChange::Different},
        {"", "", RevisionChange::Different},
        // Equal as numbers, yet not the same text: neither order nor sameness.
        {"1.05", "1.5", RevisionChange::Different},
    };
    for (const RevisionCase& c : cases) {
        EXPECT_EQ(CompareRevisions(c.drive, c.image), c.change) << "drive \"" << c.drive << "\", image \"" << c.image
                                                                << "\"";
    }
}

// Against a drive at 1.10: only a newer image and the same text flash without
// a question. Letter suffixes and every other form that cannot be ordered may
// be older, and ask as an older image does.
TEST(RevisionPreview, AnOlderOrUnorderedImageNeedsAgreement) {
    const struct {
        std::string image;  // the model text's characters 24-27
        RevisionChange change;
    } rows[] = {
        {"1.20", RevisionChange::Newer},
        {"1.10", RevisionChange::Same},
        {"1.9", RevisionChange::Older},
        {"1.1", RevisionChange::Older},
        {"1.0A", RevisionChange::Different},
        {"0.9a", RevisionChange::Different},
        {".110", RevisionChange::Different},
        {"1,05", RevisionChange::Different},
        {"+1.0", RevisionChange::Different},
        {"\xD9\xA1\xD9\xA0", RevisionChange::Different},  // Arabic-Indic "10" in UTF-8
        {"    ", RevisionChange::Different},  // padding only: no revision
        {"", RevisionChange::Different},      // the model text ends before it
    };
    for (const auto& row : rows) {
        SCOPED_TRACE("image \"" + row.image + "\"");
        const RevisionPreview preview = PreviewRevisions("1.10", "KELU    ZXR-0131K       " + row.image);
        EXPECT_EQ(preview.change, row.change);
        const bool older = row.change == RevisionChange::Older;
        const bool asks = older || row.change == RevisionChange::Different;
        EXPECT_EQ(preview.NeedsAgreement(), asks);
        EXPECT_EQ(preview.Downgrade(), older);
    }
}

TEST(RevisionPreview, TheQuestionSaysOlderOrCannotBeOrdered) {
    const RevisionPreview older = PreviewRevisions("1.10", "KELU    ZXR-0131K       1.05");
    EXPECT_EQ(DowngradeQuestion(older),
              "The image holds firmware 1.05, older than the drive's 1.10: a downgrade.\nFlash it anyway ?");
    EXPECT_EQ(DowngradeRefusedLine(older), "Err:Downgrade from 1.10 to 1.05 not confirmed: nothing was written!!");

    const RevisionPreview suffixed = PreviewRevisions("1.10", "KELU    ZXR-0131K       1.0A");
    EXPECT_EQ(DowngradeQuestion(suffixed), "The image's firmware revision \"1.0A\" cannot be ordered against the "
                                           "drive's \"1.10\": it may be a downgrade.\nFlash it anyway ?");
    EXPECT_EQ(DowngradeRefusedLine(suffixed), "Err:Revision \"1.0A\" cannot be ordered against the drive's \"1.10\", "
                                              "not confirmed: nothing was written!!");

    // No revision at all is said as such; a leading space shows inside the quotes.
    EXPECT_EQ(DowngradeQuestion(PreviewRevisions(" 1.1", "KELU    ZXR-0131K       ")),
              "The image's firmware revision none cannot be ordered against the drive's \" 1.1\": it may be a "
              "downgrade.\nFlash it anyway ?");
}

TEST(RevisionPreview, TheImageRevisionIsModelTextCharacters24To27) {
    EXPECT_EQ(ImageRevision("KELU    ZXR-0131K       1.05"), "1.05");
    EXPECT_EQ(ImageRevision("KELU    ZXR-0131K       1.1 "), "1.1");
    EXPECT_EQ(ImageRevision("KELU    ZXR-0131K       "), "");   // 24 characters: no revision
    EXPECT_EQ(ImageRevision("KELU    ZXR-0131K       2"), "2");  // cut short at a 00 byte
    EXPECT_EQ(ImageRevision("KELU    ZXR-0131K        1.0"), " 1.0");  // only the padding at the end goes

    const RevisionPreview preview = PreviewRevisions("1.05", "KELU    ZXR-0131K       1.00");
    EXPECT_TRUE(preview.Downgrade());
    EXPECT_EQ(RevisionLine(preview), "Revision: drive 1.05, image 1.00 (older: a downgrade)");
}

TEST(RevisionPreview, EachComparisonHasItsLine) {
    EXPECT_EQ(RevisionLine(PreviewRevisions("1.00", "KELU    ZXR-0131K       1.05")),
              "Revision: drive 1.00, image 1.05 (newer)");
    EXPECT_EQ(RevisionLine(PreviewRevisions("1.00", "KELU    ZXR-0131K       1.00")),
              "Revision: drive 1.00, image 1.00 (the same: flashing again only repairs)");
    EXPECT_EQ(RevisionLine(PreviewRevisions("1.00", "KELU    ZXR-0131K       1.0A")),
              "Revision: drive 1.00, image 1.0A (cannot be ordered: it may be a downgrade)");
    EXPECT_EQ(RevisionLine(PreviewRevisions("", "KELU    ZXR-0131K")),
              "Revision: drive none, image none (cannot be ordered: it may be a downgrade)");
}

}  // namespace
}  // namespace keluflash
