#include "flash/update_report.h"

#include "flash/message_format.h"

namespace keluflash {

// The one table from what the drive has been through to what the person at
// the machine should do. While the drive may be programming (a trigger taken
// or unanswered, and the drive not seen ready) nothing here says to flash
// again or to restart: either can leave a half-programmed drive that never
// starts.
std::string_view Advice(DriveState state) {
    switch (state) {
        case DriveState::Untouched:
            return "nothing was written to the drive: nothing was programmed, the drive keeps its firmware";
        case DriveState::PatchAreaWritten:
            return "the drive's patch area was rewritten from the image, but no block was sent and nothing was "
                   "programmed: flash the same image again before the machine restarts";
        case DriveState::BlocksSent:
            return "blocks reached the drive, but it was never told to program them: it programmed nothing and "
                   "runs its old firmware; flash the same image again";
        case DriveState::TriggerRefused:
            return "the drive refused the command to program this image: it programmed nothing and keeps its "
                   "firmware; check that the image is meant for this drive (model, firmware id, revision) before "
                   "flashing it again";
        case DriveState::TriggerTaken:
            return "the drive took the firmware and is programming its flash: leave it powered, do not restart "
                   "and do not start another update; verify it once it answers";
        case DriveState::TriggerUnanswered:
            return "the drive got the firmware but did not answer the command to program it: it may be "
                   "programming its flash; leave it powered, do not restart and do not start another update; "
                   "verify it once it answers";
        case DriveState::DriveReady:
            return "the drive programmed its flash and answers again, but it was not verified: verify it before "
                   "the machine restarts";
        case DriveState::Verified:
            return "flashed and verified: the drive starts its new firmware at the next restart";
        case DriveState::VerificationFailed:
            return "the drive programmed its flash, but the verification failed: it may not hold this image; "
                   "flash the same image again before the machine restarts";
        case DriveState::NeverReady:
            return "the drive took the firmware and did not answer within 120 s: it may still be programming; "
                   "leave it powered, do not restart and do not start another update; verify it later";
        case DriveState::DriveGone:
            return "the drive took the firmware and then left the system: leave it powered, do not restart and "
                   "do not start another update; reconnect it and verify it";
    }
    return "";
}

std::string AdviceLine(DriveState state) { return ErrLine(Advice(state)); }

std::string_view DriveStateName(DriveState state) {
    switch (state) {
        case DriveState::Untouched: return "untouched";
        case DriveState::PatchAreaWritten: return "patch-area-written";
        case DriveState::BlocksSent: return "blocks-sent";
        case DriveState::TriggerRefused: return "trigger-refused";
        case DriveState::TriggerTaken: return "trigger-taken";
        case DriveState::TriggerUnanswered: return "trigger-unanswered";
        case DriveState::DriveReady: return "drive-ready";
        case DriveState::Verified: return "verified";
        case DriveState::VerificationFailed: return "verification-failed";
        case DriveState::NeverReady: return "never-ready";
        case DriveState::DriveGone: return "drive-gone";
    }
    return "";
}

std::string_view UpdateResultName(UpdateResult result) {
    switch (result) {
        case UpdateResult::Verified: return "verified";
        case UpdateResult::VerifyFailed: return "verify-failed";
        case UpdateResult::FlashFailed: return "flash-failed";
        case UpdateResult::Refused: return "refused";
        case UpdateResult::None: break;
    }
    return "not-started";
}

}  // namespace keluflash
