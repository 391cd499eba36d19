#pragma once
// What an update did, kept as it goes: the image it checked, each check's
// verdict, the download method and any fallback, and what the drive has been
// through. The window's last line, the command line's summary and its JSON
// all come from this one record; nothing reads message lines or command
// traffic to learn what happened.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "flash/revision_preview.h"

namespace keluflash {

// What the drive has been through, in the order it can happen; the state
// only ever moves forward.
enum class DriveState : uint8_t {
    Untouched,           // nothing that writes was sent
    PatchAreaWritten,    // the patch area was rewritten from the image; no block was sent
    BlocksSent,          // blocks reached the drive's staging area; no trigger was taken
    TriggerRefused,      // the drive answered the trigger with a refusal: it programmed nothing
    TriggerTaken,        // the drive took the trigger: it programs its flash
    TriggerUnanswered,   // the trigger got no answer: the drive may be programming
    DriveReady,          // the drive answered again after programming
    Verified,            // the read-back matched the image
    VerificationFailed,  // the read-back did not match, or a read failed
    NeverReady,          // the drive did not answer ready within the wait
    DriveGone,           // the drive left the system after the trigger
};

// How the update ended, for a front end's exit code.
enum class UpdateResult : uint8_t {
    None,           // no update yet
    Refused,        // no file, the file, a check or the last look at the image: nothing that writes was sent
    FlashFailed,    // the patch area or a download failed, or the drive did not come back
    VerifyFailed,   // flashed, but the read-back did not match
    Verified,       // flashed and verified
};

enum class DownloadMethod : uint8_t { None, VendorBlocks /*A*/, WriteBuffer /*B*/ };

struct CheckVerdict {
    std::string name;     // "drive family", "vendor", "model", "model match", "image", "downgrade"
    bool passed = false;
    std::string line;     // the refusal's own line
};

struct UpdateReport {
    // The image that was checked, and flashed.
    std::string file;
    uint64_t size = 0;
    uint16_t checksum = 0;          // the sum the trigger carries
    int32_t imageIndex = 0;
    int blockCount = 0;
    // What the open identified: the image's model text and firmware id;
    // nothing when it identified no image.
    std::optional<std::string> model;
    std::optional<std::array<uint8_t, 2>> firmwareId;
    // The drive it was checked against: its identification and revision.
    std::string driveText;
    std::string driveRevision;
    // The drive's revision beside the image's; nothing without a selected
    // drive or an identified image.
    std::optional<RevisionPreview> revision;
    std::vector<CheckVerdict> checks;
    DownloadMethod method = DownloadMethod::None;
    bool fallback = false;          // method B after method A was refused
    DriveState state = DriveState::Untouched;
    UpdateResult result = UpdateResult::None;
    // The line that says why the update did not verify (empty when it did).
    std::string cause;

    // Moves the drive's state forward; an earlier state never replaces a later one.
    void Reach(DriveState next) {
        if (next > state) state = next;
    }
    // A refusal or failure with its line; the first cause stays.
    void Fail(UpdateResult how, std::string_view line) {
        result = how;
        if (cause.empty()) cause = line;
    }
    bool Written() const { return state != DriveState::Untouched; }
};

// What the drive's state means for the person at the machine: one line,
// never advice that could harm a drive that may be programming.
std::string_view Advice(DriveState state);
// The same as the window's last line: "Err:" and the advice, capitalised.
std::string AdviceLine(DriveState state);
// "untouched", "trigger-unanswered", ... for JSON.
std::string_view DriveStateName(DriveState state);
std::string_view UpdateResultName(UpdateResult result);

}  // namespace keluflash
