// The revision preview's comparison: version numbers part by part, and no
// order claimed for anything else.
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
        {" 1.0", "1.0 ", RevisionChange::Same},   // INQUIRY pads with spaces
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

TEST(RevisionPreview, TheImageRevisionIsModelTextCharacters24To27) {
    EXPECT_EQ(ImageRevision("KELU    ZXR-0131K       1.05"), "1.05");
    EXPECT_EQ(ImageRevision("KELU    ZXR-0131K       1.1 "), "1.1");
    EXPECT_EQ(ImageRevision("KELU    ZXR-0131K       "), "");   // 24 characters: no revision
    EXPECT_EQ(ImageRevision("KELU    ZXR-0131K       2"), "2");  // cut short at a 00 byte

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
              "Revision: drive 1.00, image 1.0A (different: not plain version numbers, no order)");
    EXPECT_EQ(RevisionLine(PreviewRevisions("", "KELU    ZXR-0131K")),
              "Revision: drive none, image none (different: not plain version numbers, no order)");
}

}  // namespace
}  // namespace keluflash
