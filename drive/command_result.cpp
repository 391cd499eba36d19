#include "drive/command_result.h"

namespace keluflash {

SenseTriple ParseSense(const uint8_t* data, size_t length) {
    if (length == 0) return {};
    const uint8_t responseCode = data[0] & 0x7F;
    if (responseCode == 0x72 || responseCode == 0x73) {
        if (length < 4) return {};
        return SenseTriple{static_cast<uint8_t>(data[1] & 0x0F), data[2], data[3]};
    }
    // Fixed format, and whatever else a drive sends: the bytes where the
    // fixed format keeps them, 00 where the drive sent fewer.
    auto at = [&](size_t i) -> uint8_t { return i < length ? data[i] : 0; };
    return SenseTriple{at(2), at(12), at(13)};
}

CommandVerdict CommandResult::Verdict() const {
    switch (outcome) {
        case CommandOutcome::Answered: return CommandVerdict::Answered;
        case CommandOutcome::HostFailure: return CommandVerdict::NoAnswer;
        case CommandOutcome::OsError: return deviceGone ? CommandVerdict::DriveGone : CommandVerdict::SystemError;
        case CommandOutcome::NotSent: break;
    }
    return CommandVerdict::NotSent;
}

uint8_t ProgramStatus(const CommandResult& result, bool passThrough) {
    const bool answered = result.Answered();
    if (!passThrough) {
        // A request block the layer calls complete for a command the drive
        // never answered carries no status at all.
        if (!answered && result.aspiStatus == kStatusGood) return 0;
        return result.aspiStatus;
    }
    if (result.outcome == CommandOutcome::OsError || result.outcome == CommandOutcome::NotSent) return 0;
    // A status byte of 1 is no status a drive may answer; passed on, it would
    // read as "done". It is a failure without a status, like a refused call.
    if (result.scsiStatus == kStatusGood) return 0;
    // A time-out or host error whose status byte stayed GOOD is no success
    // either: the drive said nothing.
    if (result.scsiStatus == kScsiStatusGood) return answered ? kStatusGood : 0;
    return result.scsiStatus;
}

std::string NoAnswerCause(const CommandResult& result) {
    switch (result.outcome) {
        case CommandOutcome::OsError:
            if (!result.osErrorText.empty()) return WithoutLineEnd(result.osErrorText);
            if (result.deviceGone) return "the drive is gone";
            if (result.osError == 0) return "the system does not find the drive";
            return "system error " + std::to_string(result.osError);
        case CommandOutcome::HostFailure:
            return result.hostFailure == HostFailureKind::TimedOut ? "timed out" : "transport error";
        case CommandOutcome::NotSent: return "not sent: the transport sends no more commands";
        case CommandOutcome::Answered: break;
    }
    return "answered";
}

std::string WithoutLineEnd(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    return text;
}

}  // namespace keluflash
