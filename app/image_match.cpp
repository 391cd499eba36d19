#include "app/image_match.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "image/image_file.h"

namespace keluflash {
namespace {

namespace fs = std::filesystem;

// What the row of a valid file says when the open selected nothing: the
// open's own line (a multi-image file whose images the drive's firmware id
// check refused), or why the file gave it nothing to select.
MatchRow Unidentified(MatchRow row, const std::string& fileName, const std::vector<std::string>& openLines) {
    if (!openLines.empty()) {
        row.verdict = MatchVerdict::Refused;
        row.line = openLines.back();
        return row;
    }
    row.verdict = MatchVerdict::Invalid;
    row.line = HasKfsExtension(fileName) ? kNoImageIdentified : kNotKfsName;
    return row;
}

void Walk(const fs::path& folder, bool recursive, std::vector<std::string>& files,
          std::vector<SkippedEntry>& skipped) {
    std::error_code error;
    std::vector<fs::directory_entry> entries;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        entries.push_back(*it);
    if (error) {
        skipped.push_back({folder.string(), error.message()});
        return;
    }
    std::sort(entries.begin(), entries.end(),
              [](const fs::directory_entry& a, const fs::directory_entry& b) { return a.path() < b.path(); });
    for (const fs::directory_entry& entry : entries) {
        const fs::file_status status = entry.symlink_status(error);
        if (error) {
            skipped.push_back({entry.path().string(), error.message()});
        } else if (fs::is_symlink(status)) {
            skipped.push_back({entry.path().string(), "a symbolic link, not followed"});
        } else if (fs::is_directory(status)) {
            if (recursive)
                Walk(entry.path(), true, files, skipped);
            else
                skipped.push_back({entry.path().string(), "a folder (--recursive looks inside)"});
        } else if (fs::is_regular_file(status)) {
            files.push_back(entry.path().string());
        } else {
            skipped.push_back({entry.path().string(), "not a regular file"});
        }
    }
}

// A fit's rank: what the flash would change, the best first.
int FitRank(const MatchRow& row) {
    if (!row.preview) return 2;
    switch (row.preview->change) {
        case RevisionChange::Newer: return 0;
        case RevisionChange::Same: return 1;
        case RevisionChange::Different: return 2;
        case RevisionChange::Older: return 3;
    }
    return 2;
}

}  // namespace

MatchRow MatchFile(TForm1& form, const std::string& file) {
    MatchRow row;
    row.file = file;
    const size_t linesBefore = form.Messages().size();
    form.SetOpenDialogFileName(file);
    form.OpenChosenFile();
    // The open's own lines: a multi-image file's firmware id refusal.
    const std::vector<std::string> openLines(form.Messages().begin() + static_cast<std::ptrdiff_t>(linesBefore),
                                             form.Messages().end());
    const ImageSelection& selection = form.Selection();
    const bool fits = form.CheckUpdate();
    const UpdateReport& report = form.LastReport();
    if (selection.identified) {
        row.identified = true;
        row.imageIndex = selection.ImageIndex;
        row.model = form.Edit1Text();
        row.revision = ImageRevision(row.model);
        row.firmwareId = selection.FirmwareId;
        row.preview = report.revision;
    }
    if (fits) {
        row.verdict = MatchVerdict::Fits;
        return row;
    }
    // The validation refused the file: no check ran.
    if (report.checks.empty()) {
        row.verdict = MatchVerdict::Invalid;
        row.line = report.cause;
        return row;
    }
    if (!selection.identified) return Unidentified(std::move(row), file, openLines);
    const CheckVerdict& failed = report.checks.back();
    // The last look reads the blocks as the downloads would send them: an
    // image it refuses is not one that can be flashed at all.
    row.verdict = failed.name == "image" ? MatchVerdict::Invalid : MatchVerdict::Refused;
    row.line = failed.line;
    return row;
}

MatchResult MatchFolder(TForm1& form, const std::string& folder, bool recursive) {
    MatchResult result;
    std::error_code error;
    const fs::file_status status = fs::status(folder, error);
    if (error || !fs::is_directory(status)) {
        result.error = "cannot read " + folder + ": " +
                       (error ? error.message() : fs::exists(status) ? std::string("Not a directory")
                                                                     : std::string("No such file or directory"));
        return result;
    }
    std::vector<std::string> files;
    Walk(folder, recursive, files, result.skipped);
    for (const std::string& file : files) result.rows.push_back(MatchFile(form, file));
    SortBestFirst(result.rows);
    return result;
}

void SortBestFirst(std::vector<MatchRow>& rows) {
    std::stable_sort(rows.begin(), rows.end(), [](const MatchRow& a, const MatchRow& b) {
        if (a.verdict != b.verdict) return a.verdict < b.verdict;
        if (a.verdict == MatchVerdict::Fits) {
            if (FitRank(a) != FitRank(b)) return FitRank(a) < FitRank(b);
            // Among newer and among older images, the highest version first.
            if (const std::optional<int> order = CompareVersionNumbers(a.revision, b.revision); order && *order != 0)
                return *order > 0;
        }
        return a.file < b.file;
    });
}

std::string_view MatchVerdictName(MatchVerdict verdict) {
    switch (verdict) {
        case MatchVerdict::Fits: return "fits";
        case MatchVerdict::Refused: return "refused";
        case MatchVerdict::Invalid: break;
    }
    return "invalid";
}

}  // namespace keluflash
