#include "flash/read_back.h"

#include <algorithm>
#include <array>


#include "flash/message_format.h"

namespace keluflash {

bool ReadFlashBanks(const FlashContext& context, int bankCount, const FlashPieceVisitor& visit,
                    ReadBackFailure* failure) {
    std::array<uint8_t, kReadBackPiece> piece{};
    context.bar.SetProgressRange(0, static_cast<int>(kBankSize));
    for (int bank = 0; bank < bankCount; ++bank) {
        context.bar.SetProgressPosition(0);
        for (uint32_t address = 0; address < kBankSize; address += kReadBackPiece) {
            context.ui.ProcessMessages();
            context.bar.SetProgressPosition(static_cast<int>(address));
            if ((bank == 1 || bank == 2) && address == kShortBankEnd) break;
            piece.fill(0);
            const uint8_t status =
                context.atapi.VendorReadMemory(piece.data(), static_cast<uint8_t>(bank), static_cast<uint16_t>(address));
            const CommandResult& result = context.atapi.LastResult();
            std::string cause;
            bool unread = false;
            switch (result.Verdict()) {
                case CommandVerdict::Answered:
                    // NOT READY: the drive may still be busy; what it holds is unknown.
                    unread = status != kStatusGood && result.sense.key == kSenseKeyNotReady;
                    if (status == kStatusGood && result.residual != 0)
                        cause = FormatLine("short read: %u of %u bytes",
                                           static_cast<unsigned>(kReadBackPiece - std::min(result.residual, kReadBackPiece)),
                                           static_cast<unsigned>(kReadBackPiece));
                    break;
                case CommandVerdict::NotSent:
                    unread = true;
                    cause = NoAnswerCause(result);
                    break;
                case CommandVerdict::NoAnswer:
                case CommandVerdict::SystemError:
                case CommandVerdict::DriveGone:
                    cause = NoAnswerCause(result);
                    break;
            }
            if (status != kStatusGood || !cause.empty()) {
                if (failure)
                    *failure = ReadBackFailure{static_cast<uint8_t>(bank), static_cast<uint16_t>(address), status,
                                               result.sense, cause, unread};
                return false;
            }
            visit(static_cast<uint8_t>(bank), static_cast<uint16_t>(address), piece.data());
        }
    }
    return true;
}

std::optional<uint16_t> ReadBackChecksum(const FlashContext& context, ReadBackFailure* failure) {
    uint32_t sum = 0;
    const bool complete = ReadFlashBanks(
        context, context.header.BlockCount(),
        [&sum](uint8_t, uint16_t, const uint8_t* data) {
            for (uint32_t i = 0; i < kReadBackPiece; ++i) sum += data[i];
        },
        failure);
    if (!complete) return std::nullopt;
    return static_cast<uint16_t>(sum);
}

bool VerifyFlash(const FlashContext& context) {
    context.bar.PhaseStarted(FlashPhase::Verification);
    ReadBackFailure failure;
    const std::optional<uint16_t> sum = ReadBackChecksum(context, &failure);
    if (sum && *sum == TriggerChecksum(context.header, context.selection)) return true;
    // A read that fails is a failed verification, never a sum of 0.
    if (!sum) {
        context.report.AddMessage(FormatLine("Status:%x;SenseCode:%x : %x : %x; Read bank %u at %x failed%s%s.",
                                             failure.status, failure.sense.key, failure.sense.asc,
                                             failure.sense.ascq, static_cast<unsigned>(failure.bank),
                                             static_cast<unsigned>(failure.address),
                                             failure.cause.empty() ? "" : ": ", failure.cause.c_str()));
    }
    if (!sum && failure.unread) {
        context.report.AddMessage("Err:The flash was not read back: the drive is not verified.");
        return false;
    }
    context.record.Reach(DriveState::VerificationFailed);
    context.report.AddMessage("Err:Verify NG !!");
    return false;
}

}  // namespace keluflash
