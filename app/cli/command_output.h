#pragma once
// What every keluflash-cli command prints at its end. With --json: exactly one
// JSON document on standard output, success or failure; a failure is an
// object with at least "error" (a sentence) and "kind". Without --json: the
// command's own lines, and a failure as one line on standard error.
#include <iosfwd>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "flash/revision_preview.h"

namespace keluflash::cli {

enum class ErrorKind {
    Usage,        // the command line cannot be honoured (exit code 2)
    File,         // a file cannot be read or written
    Drive,        // no such drive, or it cannot be reached
    Refused,      // the program refused before writing anything to the drive
    Failed,       // the drive or the flash failed
    Interrupted,  // a signal ended the command
};

const char* ErrorKindName(ErrorKind kind);
// 2 for usage errors, 1 for the rest.
int ExitCodeOf(ErrorKind kind);

// One JSON document on `out`, its strings made valid UTF-8 first.
void PrintJson(std::ostream& out, nlohmann::json document);

// A failure: with `json`, `fields` plus "error" and "kind" on standard
// output; otherwise "keluflash-cli: ERROR" on standard error. Returns the
// exit code.
int ReportFailure(bool json, ErrorKind kind, const std::string& error,
                  nlohmann::json fields = nlohmann::json::object());

// The drive's revision beside the image's: {drive, image, comparison, line},
// null without a drive or an identified image.
nlohmann::json RevisionJson(const std::optional<RevisionPreview>& preview);

}  // namespace keluflash::cli
