#include "flash/download.h"

#include <algorithm>
#include <array>
#include <optional>

#include "flash/block_source.h"
#include "flash/message_format.h"
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

uint8_t TriggerCode(const ImageHeader& header, uint8_t base) {
    return static_cast<uint8_t>(header.BlockCount() + base);
}

uint8_t SendTrigger(const FlashContext& context, uint8_t mode, uint8_t code) {
    return context.atapi.VendorWriteBlock(nullptr, mode, code, 0,
                                          TriggerChecksum(context.header, context.selection));
}

// The drive takes a trigger when it answers with no sense or NOT READY (it is
// busy programming); the status byte itself is not what decides.
bool TriggerAccepted(const FlashContext& context, uint8_t triggerStatus, const SenseTriple& sense) {
    if (sense.key == kSenseNoSense || sense.key == kSenseNotReady) return true;
    context.report.AddMessage(FormatLine("Status:%x;SenseCode:%x : %x : %x;", triggerStatus, sense.key,
                                         sense.asc, sense.ascq));
    context.report.AddMessage("Err:Flash Fail.");
    return false;
}

std::optional<BlockBuffer> AllocateBuffer(const FlashContext& context) {
    auto buffer = BlockBuffer::Allocate();
    if (!buffer) context.report.AddMessage(kMessageMemoryAllocation);
    return buffer;
}

bool BlockWriteFailed(const FlashContext& context, uint8_t status) {
    if (status == kStatusGood) return false;
    context.report.AddMessage(FormatLine("Status:0x%x ; Err:Flash command(W) has problems.", status));
    return true;
}

// Polls TEST UNIT READY until the drive answers GOOD or reports no medium,
// for at most 120 whole seconds. Method A keeps the window alive between
// polls; method B does not.
bool WaitUntilReady(const FlashContext& context, uint8_t triggerStatus, bool processMessages) {
    TAtapi& atapi = context.atapi;
    const uint32_t started = context.clock.TickCount();
    for (;;) {
        const uint8_t status = atapi.TestUnitReady();
        const SenseTriple sense = atapi.LastSense();
        if (status == kStatusGood || (sense.key == kSenseNotReady && sense.asc == kAscMediumNotPresent)) {
            atapi.TestUnitReady();
            return true;
        }
        if (processMessages) context.ui.ProcessMessages();
        const uint32_t elapsedSeconds = (context.clock.TickCount() - started) / 1000;
        if (elapsedSeconds > kReadyWaitSeconds) break;
    }
    const SenseTriple sense = atapi.LastSense();
    if (atapi.NtFlag()) {
        context.report.AddMessage(FormatLine("Time Out Status:%x;Debug:Trigger_SenseCode:%x : %x : %x;",
                                             triggerStatus, sense.key, sense.asc, sense.ascq));
    } else {
        context.report.AddMessage(
            FormatLine("Time Out Status:%x;Status:%x;Debug:Trigger_SenseCode:%x : %x : %x;",
                       atapi.AspiTargetStatus(), triggerStatus, sense.key, sense.asc, sense.ascq));
    }
    context.report.AddMessage(FormatLine("Err:Flash error,time out %d Sec", static_cast<int>(kReadyWaitSeconds)));
    return false;
}

}  // namespace

uint16_t MethodATransferLength(int block) {
    return (block == 1 || block == 2) ? 0xF000 : 0xFFFE;
}

bool DownloadMethodA(const FlashContext& context) {
    const ImageHeader& header = context.header;
    TAtapi& atapi = context.atapi;
    auto buffer = AllocateBuffer(context);
    if (!buffer) return false;
    ImageBlockSource blocks(header, context.selection, context.fileName);
    if (!blocks.IsOpen()) return false;
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
        if (BlockWriteFailed(context, status)) return false;
    }
    context.report.SetProgress(70);

    const uint8_t code = TriggerCode(header, 0xE0);
    uint8_t triggerStatus = SendTrigger(context, kFirstTriggerMode, code);
    SenseTriple sense = atapi.LastSense();
    bool retried = false;
    if (triggerStatus != kStatusGood && sense.key == kSenseIllegalRequest) {
        // On the ASPI path a TEST UNIT READY goes before the retry.
        if (!atapi.NtFlag()) atapi.TestUnitReady();
        retried = true;
        triggerStatus = SendTrigger(context, kRetryTriggerMode, code);
        sense = atapi.LastSense();
        if (sense == kParameterListLengthError) {
            atapi.TestUnitReady();
            triggerStatus = SendTrigger(context, kRetryTriggerMode, TriggerCode(header, 0xF0));
            sense = atapi.LastSense();
        }
    }
    if (!TriggerAccepted(context, triggerStatus, sense)) return false;

    context.report.SetProgress(80);
    if (retried) context.clock.Sleep(kMethodARetryPauseMilliseconds);
    return WaitUntilReady(context, triggerStatus, true);
}

bool DownloadMethodB(const FlashContext& context) {
    const ImageHeader& header = context.header;
    TAtapi& atapi = context.atapi;
    const int blockCount = header.BlockCount();
    // The prefixed block must fit the 64 KiB buffer; a longer block is
    // refused before anything is written rather than cut off.
    for (int i = 0; i < blockCount; ++i) {
        if (header.BlockSize(i) > kMethodBMaxBlock) {
            context.report.AddMessage(FormatLine("Err:Block %d too long for WRITE BUFFER (%u bytes)!!", i,
                                                 static_cast<unsigned>(header.BlockSize(i))));
            return false;
        }
    }
    auto buffer = AllocateBuffer(context);
    if (!buffer) return false;
    ImageBlockSource blocks(header, context.selection, context.fileName);
    if (!blocks.IsOpen()) return false;
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
            if (BlockWriteFailed(context, status)) return false;
        }
    }
    context.report.SetProgress(70);

    // Method B's trigger codes are method A's in reverse order.
    uint8_t triggerStatus = SendTrigger(context, kRetryTriggerMode, TriggerCode(header, 0xF0));
    SenseTriple sense = atapi.LastSense();
    if (sense == kParameterListLengthError) {
        atapi.TestUnitReady();
        triggerStatus = SendTrigger(context, kRetryTriggerMode, TriggerCode(header, 0xE0));
        sense = atapi.LastSense();
        if (atapi.NtFlag()) {
            std::array<uint8_t, 50> senseData{};
            atapi.RequestSense(senseData.data());
            sense = SenseTriple{senseData[2], senseData[12], senseData[13]};
        }
    }
    if (!TriggerAccepted(context, triggerStatus, sense)) return false;

    context.report.SetProgress(80);
    if (atapi.NtFlag()) context.clock.Sleep(kMethodBPassThroughPauseMilliseconds);
    return WaitUntilReady(context, triggerStatus, false);
}

}  // namespace keluflash
