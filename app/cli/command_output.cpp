#include "app/cli/command_output.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <iostream>
#include <thread>

#include "app/cli/ansi_text.h"
#include "app/cli/cli_options.h"
#include "app/cli/signal_watch.h"
#include "app/cli/text_escape.h"

namespace keluflash::cli {

const char* ErrorKindName(ErrorKind kind) {
    switch (kind) {
    case ErrorKind::Usage: return "usage";
    case ErrorKind::File: return "file";
    case ErrorKind::Drive: return "drive";
    case ErrorKind::Refused: return "refused";
    case ErrorKind::Failed: return "failed";
    case ErrorKind::Replay: return "replay";
    case ErrorKind::Interrupted: return "interrupted";
    }
    return "failed";
}

int ExitCodeOf(ErrorKind kind) { return kind == ErrorKind::Usage ? kExitUsage : kExitFailed; }

std::string TrimmedText(std::string_view text) {
    std::string trimmed;
    bool blank = false;
    for (const char c : text) {
        if (c == ' ' || c == '\t' || c == '\0') {
            blank = !trimmed.empty();
            continue;
        }
        if (blank) trimmed += ' ';
        blank = false;
        trimmed += c;
    }
    return trimmed;
}

std::string ModelName(std::string_view modelText) { return TrimmedText(modelText.substr(0, 24)); }

std::string FirmwareIdText(const std::array<uint8_t, 2>& firmwareId) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    return {kDigits[firmwareId[0] >> 4], kDigits[firmwareId[0] & 15], kDigits[firmwareId[1] >> 4],
            kDigits[firmwareId[1] & 15]};
}

bool PrintJson(std::ostream& out, nlohmann::json document) {
    EscapeInvalidUtf8(document);
    errno = 0;
    out << document.dump(2) << "\n";
    out.flush();
    if (out) return true;
    const int why = errno;
    std::cerr << std::string("keluflash-cli: the JSON document could not be written to standard output") +
                     (why != 0 ? std::string(": ") + std::strerror(why) : std::string()) + "\n";
    return false;
}

int ReportFailure(bool json, ErrorKind kind, const std::string& error, nlohmann::json fields) {
    if (json) {
        if (!fields.is_object()) fields = nlohmann::json::object();
        fields["error"] = error;
        fields["kind"] = ErrorKindName(kind);
        if (!PrintJson(std::cout, std::move(fields))) return kExitFailed;
    } else {
        std::cerr << "keluflash-cli: " + PrintableText(error) + "\n";
        std::cerr.flush();
    }
    return ExitCodeOf(kind);
}

namespace {

// What the command's report becomes when a signal interrupted it, or was held.
struct Ending {
    int interrupted = 0;
    int held = 0;
};

Ending EndingOf(const CommonOptions& options) {
    Ending ending;
    if (options.signals == nullptr) return ending;
    // From here the watcher writes no report of its own; when it already
    // has, it is ending the program.
    if (!options.signals->ClaimReport()) {
        for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    ending.interrupted = options.signals->Interrupted();
    ending.held = options.signals->Held();
    return ending;
}

// "interrupted by SIGTERM; nothing was written to the drive", or what the
// update had done when it ended before the signal.
std::string InterruptedText(int signal, const nlohmann::json& fields) {
    std::string text = "interrupted by " + SignalWatch::SignalName(signal);
    const auto written = fields.find("written");
    const auto summary = fields.find("summary");
    if (written != fields.end() && written->is_boolean() && written->get<bool>() && summary != fields.end() &&
        summary->is_string())
        return text + "; the update had ended: " + summary->get<std::string>();
    return text + "; nothing was written to the drive";
}

int Interrupted(const CommonOptions& options, int signal, nlohmann::json fields) {
    const std::string error = InterruptedText(signal, fields);
    const int code = ReportFailure(options.json, ErrorKind::Interrupted, error, std::move(fields));
    return code == kExitFailed ? SignalWatch::ExitCodeOf(signal) : code;
}

void SayHeld(const CommonOptions& options, int held, nlohmann::json& fields) {
    if (held == 0) return;
    if (options.json)
        fields["held_signal"] = SignalWatch::SignalName(held);
    else
        std::cerr << "keluflash-cli: " + SignalWatch::SignalName(held) +
                         " arrived while the drive was written and waited for the update to end\n";
}

}  // namespace

int ReportFailure(const CommonOptions& options, ErrorKind kind, const std::string& error, nlohmann::json fields) {
    const Ending ending = EndingOf(options);
    if (!fields.is_object()) fields = nlohmann::json::object();
    if (ending.interrupted != 0) {
        // The cause the command saw came from the signal.
        return Interrupted(options, ending.interrupted, std::move(fields));
    }
    SayHeld(options, ending.held, fields);
    // Without --json an empty error means the command's own lines said why.
    if (!options.json && error.empty()) return ExitCodeOf(kind);
    return ReportFailure(options.json, kind, error, std::move(fields));
}

int ReportSuccess(const CommonOptions& options, nlohmann::json document) {
    const Ending ending = EndingOf(options);
    if (ending.interrupted != 0) return Interrupted(options, ending.interrupted, std::move(document));
    SayHeld(options, ending.held, document);
    if (options.json && !PrintJson(std::cout, std::move(document))) return kExitFailed;
    return kExitOk;
}

nlohmann::json RevisionJson(const std::optional<RevisionPreview>& preview) {
    if (!preview) return nullptr;
    return {{"drive", AnsiToUtf8(preview->drive)},
            {"image", AnsiToUtf8(preview->image)},
            {"comparison", RevisionChangeName(preview->change)},
            {"line", AnsiToUtf8(RevisionLine(*preview))}};
}

}  // namespace keluflash::cli
