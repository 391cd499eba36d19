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
constexpr uint8_t kAscMediumNotPresent = 0x3A;
constexpr SenseTriple kParameterListLengthError{kSenseKeyIllegalRequest, 0x1A, 0x00};

uint8_t TriggerCode(const ImageHeader& header, uint8_t base) {
    return static_cast<uint8_t>(header.BlockCount() + base);
}

void SetFailure(DownloadFailure* failure, DownloadFailure value) {
    if (failure) *failure = value;
}

// One trigger command. A trigger the drive answers with anything but no
// sense or NOT READY was refused: the drive keeps its firmware.
uint8_t SendTrigger(const FlashContext& context, uint8_t mode, uint8_t code) {
    const uint8_t status = context.atapi.VendorWriteBlock(nullptr, mode, code, 0,
                                                          TriggerChecksum(context.header, context.selection));
    const CommandResult& result = context.atapi.LastResult();
    if (result.Answered() && result.sense.key != kSenseKeyNoSense && result.sense.key != kSenseKeyNotReady)
        context.record.Reach(DriveState::TriggerRefused);
    return status;
}

// A retry follows only a trigger the drive answered and refused as the rule
// says; an answer that never came may have been a taken trigger.
bool RefusedWith(const TAtapi& atapi, uint8_t status, uint8_t senseKey) {
    return atapi.LastResult().Answered() && status != kStatusGood && atapi.LastResult().sense.key == senseKey;
}

// How the triggers of a method ended.
enum class TriggerEnd : uint8_t { Taken, Unanswered, Refused, NotSent };

// The last trigger's verdict, judged once. Taken: the drive answered with no
// sense or NOT READY (it is busy programming); the status byte itself is not
// what decides. Unanswered: it may have been taken, as a drive that starts
// programming may not finish the command's status in time, so the ready wait
// and the read-back decide and nothing else is sent in between.
TriggerEnd JudgeTrigger(const FlashContext& context, CommandVerdict verdict, uint8_t triggerStatus,
                        const SenseTriple& sense, const std::string& cause) {
    if (verdict == CommandVerdict::NotSent) {
        context.report.AddMessage(FormatLine("Err:The trigger was not sent (%s).", cause.c_str()));
        return TriggerEnd::NotSent;
    }
    if (verdict != CommandVerdict::Answered) {
        context.record.Reach(DriveState::TriggerUnanswered);
        context.report.AddMessage(
            FormatLine("Err:The trigger got no answer (%s): waiting for the drive.", cause.c_str()));
        return TriggerEnd::Unanswered;
    }
    if (sense.key == kSenseKeyNoSense || sense.key == kSenseKeyNotReady) {
        context.record.Reach(DriveState::TriggerTaken);
        return TriggerEnd::Taken;
    }
    context.record.Reach(DriveState::TriggerRefused);
    context.report.AddMessage(FormatLine("Status:%x;SenseCode:%x : %x : %x;", triggerStatus, sense.key,
                                         sense.asc, sense.ascq));
    context.report.AddMessage("Err:Flash Fail.");
    return TriggerEnd::Refused;
}

// False when the method ends at the trigger; `failure` then says how.
bool TriggerLetsWaitBegin(TriggerEnd end, DownloadFailure* failure) {
    switch (end) {
        case TriggerEnd::NotSent: SetFailure(failure, DownloadFailure::NotSent); return false;
        case TriggerEnd::Refused: SetFailure(failure, DownloadFailure::Refused); return false;
        case TriggerEnd::Taken:
        case TriggerEnd::Unanswered: break;
    }
    SetFailure(failure, DownloadFailure::AfterTrigger);
    return true;
}

std::optional<BlockBuffer> AllocateBuffer(const FlashContext& context) {
    auto buffer = BlockBuffer::Allocate();
    if (!buffer) context.report.AddMessage(kMessageMemoryAllocation);
    return buffer;
}

bool BlockWriteFailed(const FlashContext& context, uint8_t status, int block, DownloadFailure* failure) {
    // Blocks only go to the drive's staging area: without a trigger the flash
    // keeps the old firmware.
    const CommandResult& result = context.atapi.LastResult();
    switch (result.Verdict()) {
        case CommandVerdict::Answered:
            if (status == kStatusGood) {
                context.record.Reach(DriveState::BlocksSent);
                return false;
            }
            context.report.AddMessage(FormatLine("Status:0x%x ; Err:Flash command(W) has problems.", status));
            SetFailure(failure, DownloadFailure::Refused);
            return true;
        case CommandVerdict::NotSent:
            // Nothing went out: the drive holds what it held before.
            context.report.AddMessage(FormatLine("Err:Block %d was not sent (%s).", block, NoAnswerCause(result).c_str()));
            SetFailure(failure, DownloadFailure::NotSent);
            return true;
        case CommandVerdict::NoAnswer:
        case CommandVerdict::SystemError:
        case CommandVerdict::DriveGone:
            break;
    }
    // It may have arrived; it is never counted as taken.
    context.record.Reach(DriveState::BlocksSent);
    context.report.AddMessage(FormatLine("Status:0x%x ; Err:Flash command(W) has problems.", status));
    context.report.AddMessage(FormatLine("Err:Block %d got no answer (%s).", block, NoAnswerCause(result).c_str()));
    SetFailure(failure, DownloadFailure::NoAnswer);
    return true;
}

// Polls TEST UNIT READY until the drive answers GOOD or reports no medium,
// for at most 120 whole seconds. Method A keeps the window alive between
// polls; method B does not. The drive has taken the trigger (or may have):
// however the wait ends, nothing more is sent to it. A poll the drive did
// not answer (a time-out, a host error, a system error while the drive
// restarts, whatever sense came with it) means not ready yet; only a drive
// that has left the system, or a transport that sends nothing more, ends the
// wait early.
bool WaitUntilReady(const FlashContext& context, uint8_t triggerStatus, bool processMessages,
                    DownloadFailure* failure) {
    TAtapi& atapi = context.atapi;
    const uint32_t started = context.clock.TickCount();
    uint32_t shownSeconds = 0;
    SetFailure(failure, DownloadFailure::AfterTrigger);
    context.bar.WaitingForDrive(0, kReadyWaitSeconds);
    for (;;) {
        const uint8_t status = atapi.TestUnitReady();
        const CommandResult& result = atapi.LastResult();
        const CommandVerdict verdict = result.Verdict();
        const SenseTriple sense = result.sense;
        if (verdict == CommandVerdict::Answered &&
            (status == kStatusGood || (sense.key == kSenseKeyNotReady && sense.asc == kAscMediumNotPresent))) {
            atapi.TestUnitReady();
            context.record.Reach(DriveState::DriveReady);
            return true;
        }
        if (verdict == CommandVerdict::DriveGone) {
            context.record.Reach(DriveState::DriveGone);
            context.report.AddMessage(FormatLine("Err:The drive took the firmware and is no longer reachable (%s).",
                                                 NoAnswerCause(result).c_str()));
            return false;
        }
        const uint32_t elapsedSeconds = (context.clock.TickCount() - started) / 1000;
        if (verdict == CommandVerdict::NotSent) {
            // The drive may be programming: its state stays what the trigger left.
            context.report.AddMessage(FormatLine("Err:The wait for the drive ended after %u s: %s.",
                                                 static_cast<unsigned>(elapsedSeconds), NoAnswerCause(result).c_str()));
            return false;
        }
        if (processMessages) context.ui.ProcessMessages();
        const uint32_t seconds = (context.clock.TickCount() - started) / 1000;
        if (seconds > kReadyWaitSeconds) break;
        if (seconds != shownSeconds) {
            shownSeconds = seconds;
            context.bar.WaitingForDrive(seconds, kReadyWaitSeconds);
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
    bool retried = false;
    if (RefusedWith(atapi, triggerStatus, kSenseKeyIllegalRequest)) {
        // On the ASPI path a TEST UNIT READY goes before the retry.
        if (!atapi.NtFlag()) atapi.TestUnitReady();
        retried = true;
        triggerStatus = SendTrigger(context, kRetryTriggerMode, code);
        if (atapi.LastResult().Answered() && atapi.LastResult().sense == kParameterListLengthError) {
            atapi.TestUnitReady();
            triggerStatus = SendTrigger(context, kRetryTriggerMode, TriggerCode(header, 0xF0));
        }
    }
    const CommandResult& last = atapi.LastResult();
    const TriggerEnd end = JudgeTrigger(context, last.Verdict(), triggerStatus, last.sense, NoAnswerCause(last));
    if (!TriggerLetsWaitBegin(end, failure)) return false;
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
    CommandResult trigger = atapi.LastResult();
    SenseTriple sense = trigger.sense;
    if (trigger.Answered() && sense == kParameterListLengthError) {
        atapi.TestUnitReady();
        triggerStatus = SendTrigger(context, kRetryTriggerMode, TriggerCode(header, 0xE0));
        trigger = atapi.LastResult();
        sense = trigger.sense;
        // The retry is judged by the sense that came back with it; only
        // without any does REQUEST SENSE ask for it (a cleared buffer that
        // gets no answer reads as no sense, and the wait decides).
        if (atapi.NtFlag() && trigger.Answered() && trigger.senseLength == 0) {
            std::array<uint8_t, 50> senseData{};
            atapi.RequestSense(senseData.data());
            sense = SenseTriple{senseData[2], senseData[12], senseData[13]};
        }
    }
    const TriggerEnd end = JudgeTrigger(context, trigger.Verdict(), triggerStatus, sense, NoAnswerCause(trigger));
    if (!TriggerLetsWaitBegin(end, failure)) return false;
    context.report.SetProgress(80);
    if (atapi.NtFlag()) context.clock.Sleep(kMethodBPassThroughPauseMilliseconds);
    return WaitUntilReady(context, triggerStatus, false, failure);
}

}  // namespace keluflash
