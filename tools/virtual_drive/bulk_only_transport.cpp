#include "tools/virtual_drive/bulk_only_transport.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "drive/scsi_opcodes.h"

namespace keluflash::virtual_drive {

namespace {

constexpr uint32_t kInquiryDataLength = 96;   // the drive's whole INQUIRY answer
constexpr uint32_t kLargestBuffer = 65536;    // data beyond this of an unknown command is received and dropped
constexpr uint32_t kLargestCbwTransfer = 512; // a CBW always ends with a short packet

constexpr SenseTriple kInvalidFieldInCdb{5, 0x24, 0x00};
constexpr SenseTriple kLogicalUnitNotSupported{5, 0x25, 0x00};

uint32_t Le32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

void PutLe32(uint8_t* p, uint32_t value) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t Be16(const uint8_t* p) { return (uint32_t{p[0]} << 8) | p[1]; }
uint32_t Be24(const uint8_t* p) { return (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2]; }

uint8_t HostDirection(const CommandBlockWrapper& cbw) {
    if (cbw.dataTransferLength == 0) return kDirectionNone;
    return cbw.dataIn ? kDirectionIn : kDirectionOut;
}

}  // namespace

CbwCheck ParseCbw(const uint8_t* bytes, size_t length, CommandBlockWrapper& cbw) {
    if (length != kCbwLength || Le32(bytes) != kCbwSignature) {
        return CbwCheck::Invalid;
    }
    cbw.tag = Le32(bytes + 4);
    cbw.dataTransferLength = Le32(bytes + 8);
    cbw.flags = bytes[12];
    cbw.dataIn = (bytes[12] & 0x80) != 0;
    cbw.lun = bytes[13];
    cbw.cdbLength = bytes[14];
    std::copy_n(bytes + 15, cbw.cdb.size(), cbw.cdb.begin());
    const bool reservedClear = (cbw.flags & 0x7F) == 0 && (cbw.lun & 0xF0) == 0 && (cbw.cdbLength & 0xE0) == 0;
    if (!reservedClear || cbw.lun != 0 || cbw.cdbLength == 0 || cbw.cdbLength > 16) {
        return CbwCheck::NotMeaningful;
    }
    return CbwCheck::Valid;
}

std::array<uint8_t, kCbwLength> MakeCbw(const CommandBlockWrapper& cbw) {
    std::array<uint8_t, kCbwLength> bytes{};
    PutLe32(bytes.data(), kCbwSignature);
    PutLe32(bytes.data() + 4, cbw.tag);
    PutLe32(bytes.data() + 8, cbw.dataTransferLength);
    bytes[12] = static_cast<uint8_t>(cbw.flags | (cbw.dataIn ? 0x80 : 0));
    bytes[13] = cbw.lun;
    bytes[14] = cbw.cdbLength;
    std::copy(cbw.cdb.begin(), cbw.cdb.end(), bytes.begin() + 15);
    return bytes;
}

std::array<uint8_t, kCswLength> MakeCsw(uint32_t tag, uint32_t residue, uint8_t status) {
    std::array<uint8_t, kCswLength> bytes{};
    PutLe32(bytes.data(), kCswSignature);
    PutLe32(bytes.data() + 4, tag);
    PutLe32(bytes.data() + 8, residue);
    bytes[12] = status;
    return bytes;
}

std::optional<DataPhase> IntendedDataPhase(const std::array<uint8_t, 16>& cdb) {
    switch (cdb[0]) {
        case kOpTestUnitReady:
        case kOpStartStopUnit:
        case kOpStopPlayScan:
            return DataPhase{};
        case kOpRequestSense:
            return DataPhase{kDirectionIn, std::min<uint32_t>(kSenseDataLength, cdb[4])};
        case kOpInquiry:
            return DataPhase{kDirectionIn, std::min<uint32_t>(kInquiryDataLength, cdb[4])};
        case kOpWriteBuffer:
            return DataPhase{kDirectionOut, Be24(&cdb[6])};
        case kOpVendor:
            break;
        default:
            return std::nullopt;
    }
    // 5A is MODE SENSE(10) to everyone else: only the drive's own signature
    // makes it one of its vendor commands.
    if (!IsVendorCommand(cdb.data())) {
        return std::nullopt;
    }
    switch (cdb[5]) {
        case kSubWriteBlock: return DataPhase{kDirectionOut, Be16(&cdb[8])};
        case kSubQueryMode: return DataPhase{kDirectionIn, kQueryModeLength};
        case kSubReadMemory: return DataPhase{kDirectionIn, kReadMemoryLength};
        case kSubReadPatchInfo: return DataPhase{kDirectionIn, kPatchInfoLength};
        case kSubWriteMemory: return DataPhase{kDirectionOut, cdb[11]};
        default: return DataPhase{};
    }
}

bool BulkOnlyDevice::ReceiveCommand(CommandBlockWrapper& cbw, CbwCheck& check) {
    std::array<uint8_t, kLargestCbwTransfer> bytes{};
    uint32_t received = 0;
    if (!m_pipes.Receive(bytes.data(), static_cast<uint32_t>(bytes.size()), received)) {
        return false;
    }
    cbw = CommandBlockWrapper{};
    check = ParseCbw(bytes.data(), received, cbw);
    return true;
}

bool BulkOnlyDevice::ReceiveAndDiscard(uint32_t length) {
    std::vector<uint8_t> chunk(std::min(length, kLargestBuffer));
    while (length > 0) {
        const uint32_t part = std::min<uint32_t>(length, static_cast<uint32_t>(chunk.size()));
        uint32_t received = 0;
        if (!m_pipes.Receive(chunk.data(), part, received)) return false;
        if (received < part) return true;  // the host ended the transfer early
        length -= part;
    }
    return true;
}

bool BulkOnlyDevice::SendCsw(CommandOutcome& outcome) {
    const auto csw = MakeCsw(outcome.cbw.tag, outcome.residue, outcome.cswStatus);
    outcome.completed = m_pipes.Send(csw.data(), static_cast<uint32_t>(csw.size()));
    return outcome.completed;
}

CommandOutcome BulkOnlyDevice::PhaseError(const CommandBlockWrapper& cbw, CommandOutcome outcome) {
    // Nothing of the data stage is moved: the pipe the host uses for it is
    // halted, and the host recovers with a reset after it has read the CSW.
    const uint8_t direction = HostDirection(cbw);
    if (direction == kDirectionIn) {
        outcome.haltedIn = true;
        if (!m_pipes.HaltIn()) return outcome;
    } else if (direction == kDirectionOut) {
        outcome.haltedOut = true;
        if (!m_pipes.HaltOut()) return outcome;
    }
    outcome.cswStatus = kCswPhaseError;
    outcome.residue = cbw.dataTransferLength;
    SendCsw(outcome);
    return outcome;
}

CommandOutcome BulkOnlyDevice::Serve(const CommandBlockWrapper& cbw, CbwCheck check) {
    CommandOutcome outcome;
    outcome.cbw = cbw;
    outcome.check = check;
    // The sense belongs to the command right before; any command ends it.
    const std::optional<std::array<uint8_t, kSenseDataLength>> kept = std::exchange(m_keptSense, std::nullopt);

    if (check == CbwCheck::Invalid) {
        // Not a CBW: both pipes stay halted until the host resets the device.
        outcome.haltedIn = true;
        outcome.haltedOut = true;
        if (m_pipes.HaltIn()) m_pipes.HaltOut();
        return outcome;
    }

    const uint32_t hostLength = cbw.dataTransferLength;
    const uint8_t hostDirection = HostDirection(cbw);

    if (check == CbwCheck::NotMeaningful) {
        if (hostDirection == kDirectionIn) {
            outcome.haltedIn = true;
            if (!m_pipes.HaltIn()) return outcome;
        } else if (hostDirection == kDirectionOut && !ReceiveAndDiscard(hostLength)) {
            return outcome;
        }
        m_keptSense = MakeSenseData(cbw.lun != 0 ? kLogicalUnitNotSupported : kInvalidFieldInCdb);
        outcome.sense = *m_keptSense;
        outcome.cswStatus = kCswFailed;
        outcome.residue = hostLength;
        SendCsw(outcome);
        return outcome;
    }

    // The drive's own commands fix their data stage; one the host announces
    // differently is a phase error (the thirteen cases of Bulk-Only).
    uint32_t driveLength = std::min(hostLength, kLargestBuffer);
    uint8_t driveDirection = hostDirection;
    if (const std::optional<DataPhase> intended = IntendedDataPhase(cbw.cdb)) {
        const bool wantsData = intended->length > 0;
        if (wantsData && (hostDirection != intended->direction || intended->length > hostLength)) {
            return PhaseError(cbw, outcome);
        }
        driveLength = intended->length;
        driveDirection = wantsData ? intended->direction : kDirectionNone;
    }

    m_buffer.assign(std::max<size_t>(driveLength, hostDirection == kDirectionOut ? std::min(hostLength, kLargestBuffer) : 0),
                    0);
    if (hostDirection == kDirectionOut) {
        // Exactly what the host announced: a read past it would take the
        // next CBW as data.
        const uint32_t first = std::min(hostLength, kLargestBuffer);
        uint32_t received = 0;
        if (!m_pipes.Receive(m_buffer.data(), first, received)) return outcome;
        if (received == first && hostLength > first && !ReceiveAndDiscard(hostLength - first)) return outcome;
    }

    std::array<uint8_t, 12> cdb12{};
    std::copy_n(cbw.cdb.begin(), cdb12.size(), cdb12.begin());
    const ScsiResult result =
        m_drive(cdb12.data(), driveLength > 0 ? m_buffer.data() : nullptr, driveLength, driveDirection);
    uint32_t transferred = std::min(result.transferred, driveLength);

    if (cbw.cdb[0] == kOpRequestSense && kept && result.scsiStatus == kScsiStatusGood) {
        // The host asks for the sense of the command that failed; the drive
        // has seen this REQUEST SENSE too, so its own sense is consumed.
        transferred = std::min<uint32_t>(driveLength, kSenseDataLength);
        std::copy_n(kept->begin(), transferred, m_buffer.begin());
        outcome.senseFromKept = true;
    }

    if (hostDirection == kDirectionIn) {
        if (transferred > 0 && !m_pipes.Send(m_buffer.data(), transferred)) return outcome;
        if (transferred < hostLength) {
            // Short: the halt tells the host the data stage is over even when
            // the data ended on a packet boundary.
            outcome.haltedIn = true;
            if (!m_pipes.HaltIn()) return outcome;
        }
    }
    outcome.residue = hostLength - (hostDirection == kDirectionNone ? 0 : transferred);
    if (result.scsiStatus == kScsiStatusGood) {
        outcome.cswStatus = kCswPassed;
    } else {
        outcome.cswStatus = kCswFailed;
        m_keptSense = result.HasSense() ? result.sense : MakeSenseData({});
        outcome.sense = *m_keptSense;
    }
    SendCsw(outcome);
    return outcome;
}

std::string HexBytes(const uint8_t* bytes, size_t length) {
    std::string text;
    char part[4];
    for (size_t i = 0; i < length; ++i) {
        std::snprintf(part, sizeof part, i == 0 ? "%02X" : " %02X", bytes[i]);
        text += part;
    }
    return text;
}

}  // namespace keluflash::virtual_drive
