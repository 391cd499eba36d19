#include "app/cli/command_output.h"

#include <iostream>

#include "app/cli/ansi_text.h"
#include "app/cli/cli_options.h"
#include "app/cli/text_escape.h"

namespace keluflash::cli {

const char* ErrorKindName(ErrorKind kind) {
    switch (kind) {
    case ErrorKind::Usage: return "usage";
    case ErrorKind::File: return "file";
    case ErrorKind::Drive: return "drive";
    case ErrorKind::Refused: return "refused";
    case ErrorKind::Failed: return "failed";
    case ErrorKind::Interrupted: return "interrupted";
    }
    return "failed";
}

int ExitCodeOf(ErrorKind kind) { return kind == ErrorKind::Usage ? kExitUsage : kExitFailed; }

void PrintJson(std::ostream& out, nlohmann::json document) {
    EscapeInvalidUtf8(document);
    out << document.dump(2) << "\n";
    out.flush();
}

int ReportFailure(bool json, ErrorKind kind, const std::string& error, nlohmann::json fields) {
    if (json) {
        if (!fields.is_object()) fields = nlohmann::json::object();
        fields["error"] = error;
        fields["kind"] = ErrorKindName(kind);
        PrintJson(std::cout, std::move(fields));
    } else {
        std::cerr << "keluflash-cli: " + PrintableText(error) + "\n";
        std::cerr.flush();
    }
    return ExitCodeOf(kind);
}

nlohmann::json RevisionJson(const std::optional<RevisionPreview>& preview) {
    if (!preview) return nullptr;
    return {{"drive", AnsiToUtf8(preview->drive)},
            {"image", AnsiToUtf8(preview->image)},
            {"comparison", RevisionChangeName(preview->change)},
            {"line", AnsiToUtf8(RevisionLine(*preview))}};
}

}  // namespace keluflash::cli
