#pragma once
// What every keluflash-cli command prints at its end. With --json: exactly one
// JSON document on standard output, success or failure; a failure is an
// object with at least "error" (a sentence) and "kind". Without --json: the
// command's own lines, and a failure as one line on standard error.
#include <array>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "flash/revision_preview.h"

namespace keluflash::cli {

enum class ErrorKind {
    Usage,        // the command line cannot be honoured (exit code 2)
    File,         // a file cannot be read or written
    Drive,        // no such drive, or it cannot be reached
    Refused,      // the program refused before writing anything to the drive
    Failed,       // the drive or the flash failed
    Replay,       // a replay stopped: the program sent a command other than the recorded one
    Interrupted,  // a signal ended the command
};

const char* ErrorKindName(ErrorKind kind);
// 2 for usage errors, 1 for the rest.
int ExitCodeOf(ErrorKind kind);

// Text from a drive or an image with its padding gone: runs of blanks as
// one, none at either end ("KELU    ZXR-0131K       " is "KELU ZXR-0131K").
std::string TrimmedText(std::string_view text);
// An image's model without the revision it ends in: vendor and product, trimmed.
std::string ModelName(std::string_view modelText);
// A firmware id as every command shows it: four hex digits, "4B31".
std::string FirmwareIdText(const std::array<uint8_t, 2>& firmwareId);

// One JSON document on `out`, its strings made valid UTF-8 first. False,
// with the reason on standard error, when it could not be written whole.
bool PrintJson(std::ostream& out, nlohmann::json document);

// A failure before any command ran (the command line): with `json`,
// `fields` plus "error" and "kind" on standard output; otherwise
// "keluflash-cli: ERROR" on standard error. Returns the exit code.
int ReportFailure(bool json, ErrorKind kind, const std::string& error,
                  nlohmann::json fields = nlohmann::json::object());

struct CommonOptions;
// The end of a command, failed or done. A signal that interrupted it
// meanwhile makes it "interrupted" (exit code 128 + the signal), whatever
// else happened, keeping the command's fields; a signal held while the drive
// was written is said ("held_signal") and changes nothing else. A document
// or a line that cannot be written is exit code 1. Without --json an empty
// `error` writes no line: the command's own lines said why.
int ReportFailure(const CommonOptions& options, ErrorKind kind, const std::string& error,
                  nlohmann::json fields = nlohmann::json::object());
// With --json the command's document; the lines of text mode were printed by
// the command itself. Returns the exit code.
int ReportSuccess(const CommonOptions& options, nlohmann::json document);

// The drive's revision beside the image's: {drive, image, comparison, line},
// null without a drive or an identified image.
nlohmann::json RevisionJson(const std::optional<RevisionPreview>& preview);

}  // namespace keluflash::cli
