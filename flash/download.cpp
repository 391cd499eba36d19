#include "flash/download.h"

#include <algorithm>
#include <array>
#include <optional>

#include "flash/message_format.h"
#include "image/image_blocks.h"
#include "image/image_file.h"

namespace keluflash {
namespace {

constexpr uint8_t kBlockWriteMode = 5;
constexpr uint8_t kFirstTriggerMode = 4;
constexpr uint8_t kRetryTriggerMode = 5;
constexpr uint8_t kSenseNoSense = 0;
constexpr uint8_t kSenseNotReady = 2;
constexpr uint8_t kSenseIllegalRequest = 5;
constexpr uint8_t kAscMediumNotPresent = 0x3A;
constexpr SenseTriple kParameterListLengthError{kSenseIllegalRequest, 0x1A, 0x00};
// The drive's answer to a trigger whose checksum its staged blocks do not
// reach: invalid field in parameter list.
constexpr SenseTriple kChecksumRefusedSense{kSenseIllegalRequest, 0x26, 0x00};

uint8_t TriggerCode(const ImageHeader& header, uint8_t base) {
    return static_cast<uint8_t>(header.BlockCount() + base);
}

uint8_t SendTrigger(const FlashContext& context, uint8_t mode, uint8_t code) {
    return context.atapi.VendorWriteBlock(nullptr, mode, code, 0,
                                          TriggerChecksum(context.header, context.selection));
}

void SetFailure(DownloadFailure* failure, DownloadFailure value) {
    if (failure) *failure = value;
}

// The command that just ran got no answer from the drive at all.
bool NotAnswered(const TAtapi& atapi) { return atapi.LastResult().Unanswered(); }

// The drive takes a trigger when it answers with no sense or NOT READY (it is
// busy programming); the status byte itself is not what decides.
bool TriggerAccepted(const FlashContext& context, uint8_t triggerStatus, const SenseTriple& sense) {
    if (sense.key == kSenseNoSense || sense.key == kSenseNotReady) return true;
    context.report.AddMessage(FormatLine("Status:%x;SenseCode:%x : %x : %x;", triggerStatus, sense.key,
                                         sense.asc, sense.ascq));
    context.report.AddMessage("Err:Flash Fail.");
    return false;
}

// After a refused trigger: when any trigger of the method was refused for its
// checksum, the drive said what went wrong, and that is what the update says.
void SayChecksumRefusal(const FlashContext& context, bool checksumRefused, DownloadFailure* failure) {
    if (!checksumRefused) return;
    context.report.AddMessage(kMessageChecksumRefused);
    SetFailure(failure, DownloadFailure::ChecksumRefused);
}

// A trigger that got no answer may still have been taken: a drive that starts
// programming may not finish the command's status in time. The ready wait and
// the read-back decide; nothing else is sent in between.
bool TriggerUnanswered(const FlashContext& context) {
    if (!NotAnswered(context.atapi)) return false;
    context.record.Reach(DriveState::TriggerUnanswered);
    context.report.AddMessage(FormatLine("Err:The trigger got no answer (%s): waiting for the drive.",
                                         NoAnswerCause(context.atapi.LastResult()).c_str()));
    return true;
}

std::optional<BlockBuffer> AllocateBuffer(const FlashContext& context) {
    auto buffer = BlockBuffer::Allocate();
    if (!buffer) context.report.AddMessage(kMessageMemoryAllocation);
    return buffer;
}

bool BlockWriteFailed(const FlashContext& context, uint8_t status, int block, DownloadFailure* failure) {
    // Blocks only go to the drive's staging area: without a trigger the flash
    // keeps the old firmware. One that got no answer may have arrived; it is
    // never counted as sent, whatever the status byte says.
    const bool unanswered = NotAnswered(context.atapi);
    if (status == kStatusGood || unanswered) context.record.Reach(DriveState::BlocksSent);
    if (status == kStatusGood && !unanswered) return false;
    if (status != kStatusGood)
        context.report.AddMessage(FormatLine("Status:0x%x ; Err:Flash command(W) has problems.", status));
    if (unanswered) {
        context.report.AddMessage(FormatLine("Err:Block %d got no answer (%s).", block,
                                             NoAnswerCause(context.atapi.LastResult()).c_str()));
        SetFailure(failure, DownloadFailure::NoAnswer);
    } else {
        SetFailure(failure, DownloadFailure::Refused);
    }
    return true;
}

// Polls TEST UNIT READY until the drive answers GOOD or reports no medium,
// for at most 120 whole seconds. Method A keeps the window alive between
// polls; method B does not. The drive has taken the trigger: however the wait
// ends, nothing more is sent to it.
bool WaitUntilReady(const FlashContext& context, uint8_t triggerStatus, bool processMessages,
                    DownloadFailure* failure) {
    TAtapi& atapi = context.atapi;
    const uint32_t started = context.clock.TickCount();
    uint32_t shownSeconds = 0;
    context.bar.WaitingForDrive(0, kReadyWaitSeconds);
    for (;;) {
        const uint8_t status = atapi.TestUnitReady();
        const CommandResult& result = atapi.LastResult();
        const SenseTriple sense = result.sense;
        // A poll with no answer (a time-out, a host error, an ASPI layer that
        // does not find the drive while it restarts) means not ready yet.
        if ((status == kStatusGood && !result.Unanswered()) ||
            (sense.key == kSenseNotReady && sense.asc == kAscMediumNotPresent)) {
            atapi.TestUnitReady();
            context.record.Reach(DriveState::DriveReady);
            return true;
        }
        // A drive the system no longer reaches does not come back by polling:
        // a pass-through call the system refuses (the drive gone, its handle
        // invalid), or a transport that sends nothing more.
        if ((result.outcome == CommandOutcome::OsError && atapi.NtFlag()) ||
            result.outcome == CommandOutcome::NotSent) {
            const bool gone = result.outcome == CommandOutcome::OsError;
            context.record.Reach(gone ? DriveState::DriveGone : DriveState::NeverReady);
            context.report.AddMessage(FormatLine("Err:The drive took the firmware and is no longer reachable (%s).",
                                                 NoAnswerCause(result).c_str()));
            SetFailure(failure, DownloadFailure::AfterTrigger);
            return false;
        }
        if (processMessages) context.ui.ProcessMessages();
        const uint32_t elapsedSeconds = (context.clock.TickCount() - started) / 1000;
        if (elapsedSeconds > kReadyWaitSeconds) break;
        if (elapsedSeconds != shownSeconds) {
            shownSeconds = elapsedSeconds;
            context.bar.WaitingForDrive(elapsedSeconds, kReadyWaitSeconds);
        }
    }
    const SenseTriple sense = atapi.LastResult().sense;
    if (atapi.NtFlag()) {
        context.report.AddMessage(FormatLine("Time Out Status:%x;Debug:Trigger_SenseCode:%x : %x : %x;",
                                             triggerStatus, sense.key, sense.asc, sense.ascq));
    } else {
        context.report.AddMessage(
            FormatLine("Time Out Status:%x;Status:%x;Debug:Trigger_SenseCode:%x : %x : %x;",
                       atapi.AspiTargetStatus(), triggerStatus, sense.key, sense.asc, sense.ascq));
    }
    context.record.Reach(DriveState::NeverReady);
    context.report.AddMessage(FormatLine("Err:Flash error,time out %d Sec", static_cast<int>(kReadyWaitSeconds)));
    SetFailure(failure, DownloadFailure::AfterTrigger);
    return false;
}

}  // namespace

uint16_t MethodATransferLength(int block) {
    return (block == 1 || block == 2) ? 0xF000 : 0xFFFE;
}

bool DownloadMethodA(const FlashContext& context, DownloadFailure* failure) {
    const ImageHeader& header = context.header;
    TAtapi& atapi = context.atapi;
    context.bar.PhaseStarted(FlashPhase::DownloadMethodA);
    SetFailure(failure, DownloadFailure::Refused);
    auto buffer = AllocateBuffer(context);
    if (!buffer) return false;
    ImageBlocks blocks(context.image, header, ImageStartOffset(context.selection));
    context.clock.Sleep(kMethodAPauseMilliseconds);

    const int blockCount = header.BlockCount();
    for (int i = 0; i < blockCount; ++i) {
        buffer->Clear();
        context.report.SetProgress((i + 1) * 80 / blockCount);
        if (!blocks.ReadBlock(i, *buffer)) return false;
        // A block shorter than its transfer goes out padded with the cleared
        // buffer's zeros.
        const uint8_t status =
            atapi.VendorWriteBlock(buffer->Data(), kBlockWriteMode, static_cast<uint8_t>(i), MethodATransferLength(i), 0);
        if (BlockWriteFailed(context, status, i, failure)) return false;
    }
    context.report.SetProgress(70);

    context.bar.PhaseStarted(FlashPhase::Programming);
    const uint8_t code = TriggerCode(header, 0xE0);
    uint8_t triggerStatus = SendTrigger(context, kFirstTriggerMode, code);
    SenseTriple sense = atapi.LastResult().sense;
    bool checksumRefused = sense == kChecksumRefusedSense;
    bool retried = false;
    if (triggerStatus != kStatusGood && sense.key == kSenseIllegalRequest) {
        // On the ASPI path a TEST UNIT READY goes before the retry.
        if (!atapi.NtFlag()) atapi.TestUnitReady();
        retried = true;
        triggerStatus = SendTrigger(context, kRetryTriggerMode, code);
        sense = atapi.LastResult().sense;
        checksumRefused = checksumRefused || sense == kChecksumRefusedSense;
        if (sense == kParameterListLengthError) {
            atapi.TestUnitReady();
            triggerStatus = SendTrigger(context, kRetryTriggerMode, TriggerCode(header, 0xF0));
            sense = atapi.LastResult().sense;
            checksumRefused = checksumRefused || sense == kChecksumRefusedSense;
        }
    }
    if (!TriggerUnanswered(context)) {
        if (!TriggerAccepted(context, triggerStatus, sense)) {
            SayChecksumRefusal(context, checksumRefused, failure);
            return false;
        }
        context.record.Reach(DriveState::TriggerTaken);
    }
    SetFailure(failure, DownloadFailure::AfterTrigger);
    context.report.SetProgress(80);
    if (retried) context.clock.Sleep(kMethodARetryPauseMilliseconds);
    return WaitUntilReady(context, triggerStatus, true, failure);
}

bool DownloadMethodB(const FlashContext& context, DownloadFailure* failure) {
    const ImageHeader& header = context.header;
    TAtapi& atapi = context.atapi;
    const int blockCount = header.BlockCount();
    context.bar.PhaseStarted(FlashPhase::DownloadMethodB);
    SetFailure(failure, DownloadFailure::Refused);
    // The prefixed block must fit the 64 KiB buffer; a longer block is
    // refused before the first WRITE BUFFER rather than cut off.
    for (int i = 0; i < blockCount; ++i) {
        if (header.BlockSize(i) > kMethodBMaxBlock) {
            context.report.AddMessage(FormatLine("Err:Block %d too long for WRITE BUFFER (%u bytes)!!", i,
                                                 static_cast<unsigned>(header.BlockSize(i))));
            return false;
        }
    }
    auto buffer = AllocateBuffer(context);
    if (!buffer) return false;
    ImageBlocks blocks(context.image, header, ImageStartOffset(context.selection));
    context.clock.Sleep(kMethodBPauseMilliseconds);

    // Each block goes out behind its length, high byte first, as one stream
    // of chunks; a chunk is put together in its own buffer so that the block
    // itself can stay at the start of the block buffer.
    alignas(kTransferAlignment) std::array<uint8_t, kWriteBufferChunk> chunk{};
    for (int i = 0; i < blockCount; ++i) {
        const uint16_t size = header.BlockSize(i);
        if (!blocks.ReadBlock(i, *buffer)) return false;
        const std::array<uint8_t, 2> prefix{static_cast<uint8_t>(size >> 8), static_cast<uint8_t>(size)};
        const uint32_t total = uint32_t{size} + 2;
        for (uint32_t offset = 0; offset < total; offset += kWriteBufferChunk) {
            const uint32_t length = std::min(kWriteBufferChunk, total - offset);
            uint32_t k = 0;
            for (; k < length && offset + k < prefix.size(); ++k) chunk[k] = prefix[offset + k];
            std::copy_n(buffer->Data() + (offset + k - prefix.size()), length - k, chunk.data() + k);
            const uint8_t status = atapi.WriteBufferDownload(chunk.data(), static_cast<uint8_t>(i),
                                                             static_cast<uint16_t>(offset), length);
            if (BlockWriteFailed(context, status, i, failure)) return false;
        }
    }
    context.report.SetProgress(70);

    context.bar.PhaseStarted(FlashPhase::Programming);
    // Method B's trigger codes are method A's in reverse order.
    uint8_t triggerStatus = SendTrigger(context, kRetryTriggerMode, TriggerCode(header, 0xF0));
    SenseTriple sense = atapi.LastResult().sense;
    bool checksumRefused = sense == kChecksumRefusedSense;
    if (sense == kParameterListLengthError) {
        atapi.TestUnitReady();
        triggerStatus = SendTrigger(context, kRetryTriggerMode, TriggerCode(header, 0xE0));
        sense = atapi.LastResult().sense;
        // The retry is judged by the sense that came back with it; only
        // without any does REQUEST SENSE ask for it.
        if (atapi.NtFlag() && atapi.LastResult().senseLength == 0 && !NotAnswered(atapi)) {
            std::array<uint8_t, 50> senseData{};
            atapi.RequestSense(senseData.data());
            sense = SenseTriple{senseData[2], senseData[12], senseData[13]};
        }
        checksumRefused = checksumRefused || sense == kChecksumRefusedSense;
    }
    if (!TriggerUnanswered(context)) {
        if (!TriggerAccepted(context, triggerStatus, sense)) {
            SayChecksumRefusal(context, checksumRefused, failure);
            return false;
        }
        context.record.Reach(DriveState::TriggerTaken);
    }
    SetFailure(failure, DownloadFailure::AfterTrigger);
    context.report.SetProgress(80);
    if (atapi.NtFlag()) context.clock.Sleep(kMethodBPassThroughPauseMilliseconds);
    return WaitUntilReady(context, triggerStatus, false, failure);
}

}  // namespace keluflash
