#include "drive/sim/simulated_drive.h"

#include <algorithm>
#include <cstring>

#include "drive/scsi_opcodes.h"

namespace keluflash {

namespace {

constexpr uint8_t kBlockWriteMode = 5;
constexpr uint8_t kWriteBufferDownloadSave = 0x05;
constexpr uint8_t kWriteBufferId = 0x01;

constexpr size_t kInquiryAnswerLength = 96;     // additional length 0x5B

constexpr SenseTriple kNoSense{0, 0, 0};
constexpr SenseTriple kNotReadyInProgress{2, 0x04, 0x07};
constexpr SenseTriple kNoMedium{2, 0x3A, 0x00};
constexpr SenseTriple kPowerOnReset{6, 0x29, 0x00};
constexpr SenseTriple kInvalidOpcode{5, 0x20, 0x00};
constexpr SenseTriple kAddressOutOfRange{5, 0x21, 0x00};
constexpr SenseTriple kInvalidField{5, 0x24, 0x00};
constexpr SenseTriple kDataPhaseError{0x0B, 0x4B, 0x00};

uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
uint32_t Be24(const uint8_t* p) { return (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2]; }

void PutPadded(std::vector<uint8_t>& out, size_t offset, const std::string& text, size_t width) {
    for (size_t i = 0; i < width; ++i) {
        out[offset + i] = static_cast<uint8_t>(i < text.size() ? text[i] : ' ');
    }
}

// The old firmware a drive holds before anything is flashed: a fixed pattern
// per bank, so that neither a read-back nor a patch-area comparison can pass
// by accident.
std::vector<uint8_t> OldFirmware(int bank, bool patterned) {
    std::vector<uint8_t> bytes(kSimulatedBankSize, 0);
    if (patterned) {
        for (size_t a = 0; a < bytes.size(); ++a) {
            bytes[a] = static_cast<uint8_t>(a * 7 + (a >> 8) * 13 + static_cast<size_t>(bank) * 0x35 + 0x5A);
        }
    }
    return bytes;
}

}  // namespace

std::array<uint8_t, kSenseDataLength> MakeSenseData(SenseTriple sense) {
    std::array<uint8_t, kSenseDataLength> data{};
    data[0] = 0x70;  // current error, fixed format
    data[2] = sense.key;
    data[7] = kSenseDataLength - 8;
    data[12] = sense.asc;
    data[13] = sense.ascq;
    return data;
}

std::vector<uint8_t> SimulatedDrive::StagedBlock::Data() const {
    if (!prefixed) {
        return bytes;
    }
    if (received < 2) {
        return {};
    }
    // The drive takes the block's own length from the prefix; what did not
    // arrive reads as zeros and shows in the checksum.
    const size_t end = std::min<size_t>(size_t{2} + Be16(bytes.data()), bytes.size());
    return std::vector<uint8_t>(bytes.begin() + 2, bytes.begin() + static_cast<std::ptrdiff_t>(end));
}

SimulatedDrive::SimulatedDrive(SimulatedDriveConfig config, VirtualClock& clock)
    : m_config(std::move(config)), m_clock(clock) {
    const int banks = std::max(m_config.bankCount, 0);
    for (int bank = 0; bank < banks; ++bank) {
        m_banks.push_back(OldFirmware(bank, m_config.patternedBanks));
    }
    m_staged.resize(static_cast<size_t>(banks));
    m_lastSense = MakeSenseData(kNoSense);
}

std::vector<uint8_t> SimulatedDrive::InquiryData() const {
    std::vector<uint8_t> data(kInquiryAnswerLength, 0);
    data[0] = kScsiTypeCdrom;
    data[1] = 0x80;                                       // removable medium
    data[2] = 0x00;                                       // ATAPI: no ANSI version
    data[3] = 0x32;                                       // ATAPI version 3, response format 2
    data[4] = static_cast<uint8_t>(kInquiryAnswerLength - 5);  // additional length
    PutPadded(data, 8, m_config.vendor, 8);
    PutPadded(data, 16, m_config.product, 16);
    PutPadded(data, 32, m_config.revision, 4);
    data[38] = m_config.firmwareId[0];
    data[39] = m_config.firmwareId[1];
    return data;
}

bool SimulatedDrive::Programming() const {
    return m_programming && (m_config.neverReady || m_clock.Now() < m_programmingUntil);
}

int SimulatedDrive::StagedBlockCount() const {
    // Block i goes to slot i: the count is the highest slot written plus one,
    // so a block lost in between leaves an empty slot that shows in the sum.
    const auto last = std::find_if(m_staged.rbegin(), m_staged.rend(),
                                   [](const std::optional<StagedBlock>& b) { return b.has_value(); });
    return static_cast<int>(std::distance(last, m_staged.rend()));
}

void SimulatedDrive::Reset() {
    m_programming = false;
    m_unitAttention = true;
    for (auto& block : m_staged) block.reset();
    m_lastSense = MakeSenseData(kNoSense);
    m_lastSenseDelivered = false;
}

void SimulatedDrive::FinishProgramming() {
    if (m_programming && !Programming()) {
        // The new firmware boots: the drive comes back as after a reset.
        m_programming = false;
        m_unitAttention = m_config.resetAfterProgramming;
        m_lastSense = MakeSenseData(kNoSense);
    }
}

ScsiResult SimulatedDrive::Execute(const uint8_t* cdbBytes, uint8_t* data, uint32_t length, uint8_t direction) {
    RecordedCommand record;
    record.time = m_clock.Now();
    std::copy(cdbBytes, cdbBytes + record.cdb.size(), record.cdb.begin());
    record.direction = direction;
    record.length = length;
    if (m_config.recordDataOut && direction == kDirectionOut && data != nullptr) {
        record.dataOut.assign(data, data + length);
    }
    const uint32_t rate = std::max<uint32_t>(m_config.transferBytesPerMillisecond, 1);
    m_clock.Advance(m_config.commandMilliseconds + (direction == kDirectionNone ? 0 : length / rate));
    FinishProgramming();

    ScsiResult result;
    if (const CommandFault* fault = m_faults.Next(m_config.faults, record.cdb.data())) {
        result.scsiStatus = fault->scsiStatus;
        if (result.HasSense()) {
            result.sense = MakeSenseData(fault->sense);
            m_lastSense = result.sense;
            m_lastSenseDelivered = true;
        }
    } else {
        result = Run(record.cdb, data, length, direction);
    }
    record.result = result;
    m_commands.push_back(std::move(record));
    return result;
}

namespace {

ScsiResult Good(uint32_t transferred = 0) {
    ScsiResult result;
    result.transferred = transferred;
    return result;
}

ScsiResult Check(SenseTriple sense) {
    ScsiResult result;
    result.scsiStatus = kScsiStatusCheckCondition;
    result.sense = MakeSenseData(sense);
    return result;
}

// Copies up to `available` bytes of an answer into the host's buffer.
uint32_t DataIn(const uint8_t* from, size_t available, uint8_t* data, uint32_t length) {
    const size_t count = data == nullptr ? 0 : std::min<size_t>(available, length);
    if (count > 0) std::memcpy(data, from, count);
    return static_cast<uint32_t>(count);
}

// A data phase that does not fit the command: the host asked for the other
// direction, or the transfer length differs from what the CDB announces.
bool PhaseMismatch(uint8_t direction, uint8_t expected, uint32_t length, uint32_t expectedLength,
                   const uint8_t* data) {
    if (expectedLength == 0) return false;
    return direction != expected || length != expectedLength || data == nullptr;
}

}  // namespace

ScsiResult SimulatedDrive::Run(const std::array<uint8_t, 12>& cdb, uint8_t* data, uint32_t length, uint8_t direction) {
    ScsiResult result;
    const uint8_t opcode = cdb[0];
    if (opcode == kOpInquiry) {
        if (direction != kDirectionIn && length > 0) {
            result = Check(kDataPhaseError);
        } else {
            const std::vector<uint8_t> inquiry = InquiryData();
            result = Good(DataIn(inquiry.data(), std::min<size_t>(inquiry.size(), cdb[4]), data, length));
        }
    } else if (opcode == kOpRequestSense) {
        std::array<uint8_t, kSenseDataLength> sense = m_lastSense;
        if (m_unitAttention) {
            sense = MakeSenseData(kPowerOnReset);
            m_unitAttention = false;
        } else if (m_lastSenseDelivered && m_config.requestSenseClearedByAutoSense) {
            sense = MakeSenseData(kNoSense);
        }
        if (sense[2] == 0 && Programming()) {
            sense = MakeSenseData(kNotReadyInProgress);
        }
        if (direction != kDirectionIn && length > 0) {
            result = Check(kDataPhaseError);
        } else {
            result = Good(DataIn(sense.data(), std::min<size_t>(sense.size(), cdb[4]), data, length));
        }
    } else if (m_unitAttention) {
        m_unitAttention = false;
        result = Check(kPowerOnReset);
    } else if (Programming()) {
        result = Check(kNotReadyInProgress);
    } else {
        switch (opcode) {
            case kOpTestUnitReady:
            case kOpStopPlayScan:
                result = m_config.mediumPresent ? Good() : Check(kNoMedium);
                break;
            case kOpStartStopUnit:
                result = Good();
                break;
            case kOpWriteBuffer:
                result = WriteBuffer(cdb, data, length, direction);
                break;
            case kOpVendor:
                result = VendorCommand(cdb, data, length, direction);
                break;
            default:
                result = Check(kInvalidOpcode);
                break;
        }
    }
    if (result.HasSense()) {
        m_lastSense = result.sense;
        m_lastSenseDelivered = true;
    } else {
        m_lastSense = MakeSenseData(kNoSense);
        m_lastSenseDelivered = false;
    }
    return result;
}

ScsiResult SimulatedDrive::WriteBuffer(const std::array<uint8_t, 12>& cdb, const uint8_t* data, uint32_t length,
                                       uint8_t direction) {
    if (!m_config.takesWriteBuffer || (cdb[1] & 0x1F) != kWriteBufferDownloadSave || cdb[2] != kWriteBufferId) {
        return Check(kInvalidField);
    }
    const uint32_t offset = Be24(&cdb[3]);
    const uint32_t count = Be24(&cdb[6]);
    if (PhaseMismatch(direction, kDirectionOut, length, count, data)) {
        return Check(kDataPhaseError);
    }
    const size_t block = offset >> 16;
    const uint32_t within = offset & 0xFFFF;
    if (block >= m_staged.size() || within + count > kSimulatedBankSize) {
        return Check(kInvalidField);
    }
    if (count == 0) {
        return Good();
    }
    std::optional<StagedBlock>& staged = m_staged[block];
    if (within == 0) {
        if (block == 0) {
            for (auto& b : m_staged) b.reset();  // block 0 begins a new download
        }
        staged = StagedBlock{std::vector<uint8_t>(kSimulatedBankSize, 0), true, 0};
    } else if (!staged || !staged->prefixed || staged->received != within) {
        return Check(kInvalidField);  // chunks arrive in order, each block from offset 0
    }
    std::memcpy(staged->bytes.data() + within, data, count);
    staged->received = within + count;
    return Good(count);
}

ScsiResult SimulatedDrive::VendorCommand(const std::array<uint8_t, 12>& cdb, uint8_t* data, uint32_t length,
                                         uint8_t direction) {
    if (!IsVendorCommand(cdb.data())) {
        return Check(kInvalidField);
    }
    switch (cdb[5]) {
        case kSubWriteBlock: {
            const uint16_t count = Be16(&cdb[8]);
            if (count == 0) {
                return Trigger(cdb);
            }
            if (PhaseMismatch(direction, kDirectionOut, length, count, data)) {
                return Check(kDataPhaseError);
            }
            if (cdb[6] != kBlockWriteMode) {
                return Check(kInvalidField);
            }
            const size_t block = cdb[7];
            if (block >= m_staged.size()) {
                return Check(kAddressOutOfRange);
            }
            if (block == 0) {
                for (auto& b : m_staged) b.reset();  // block 0 begins a new download
            }
            m_staged[block] = StagedBlock{std::vector<uint8_t>(data, data + count), false, count};
            return Good(count);
        }
        case kSubQueryMode: {
            if (direction != kDirectionIn && length > 0) return Check(kDataPhaseError);
            std::array<uint8_t, kQueryModeLength> answer{};
            answer[0] = m_config.takesWriteBuffer ? 1 : 0;
            answer[1] = static_cast<uint8_t>(m_banks.size());
            return Good(DataIn(answer.data(), answer.size(), data, length));
        }
        case kSubReadMemory: {
            if (direction != kDirectionIn && length > 0) return Check(kDataPhaseError);
            const size_t address = Be16(&cdb[6]);
            const size_t bank = cdb[9];
            if (bank >= m_banks.size() || address + kReadMemoryLength > kSimulatedBankSize) {
                return Check(kAddressOutOfRange);
            }
            return Good(DataIn(m_banks[bank].data() + address, kReadMemoryLength, data, length));
        }
        case kSubReadPatchInfo: {
            if (direction != kDirectionIn && length > 0) return Check(kDataPhaseError);
            std::vector<uint8_t> info(kPatchInfoLength, 0);
            if (m_config.patchArea) {
                const SimulatedDriveConfig::PatchArea& area = *m_config.patchArea;
                info[0] = 0x55;
                info[1] = 0xDD;
                info[2] = 0x01;  // layout version; the host does not read it
                info[4] = area.bank;
                info[5] = static_cast<uint8_t>(area.start >> 8);
                info[6] = static_cast<uint8_t>(area.start);
                info[7] = static_cast<uint8_t>(area.length >> 8);
                info[8] = static_cast<uint8_t>(area.length);
            }
            return Good(DataIn(info.data(), info.size(), data, length));
        }
        case kSubWriteMemory: {
            const size_t bank = cdb[7];
            const size_t address = Be16(&cdb[8]);
            const uint32_t count = cdb[11];
            if (PhaseMismatch(direction, kDirectionOut, length, count, data)) {
                return Check(kDataPhaseError);
            }
            if (bank >= m_banks.size() || address + count > kSimulatedBankSize) {
                return Check(kAddressOutOfRange);
            }
            if (count > 0) std::memcpy(m_banks[bank].data() + address, data, count);
            return Good(count);
        }
        default:
            return Check(kInvalidOpcode);
    }
}

ScsiResult SimulatedDrive::Trigger(const std::array<uint8_t, 12>& cdb) {
    const int staged = StagedBlockCount();
    const TriggerForm form{cdb[6], static_cast<uint8_t>(cdb[7] - staged)};
    const bool accepted = std::find(m_config.acceptedTriggers.begin(), m_config.acceptedTriggers.end(), form) !=
                          m_config.acceptedTriggers.end();
    if (!accepted) {
        for (const TriggerRejection& rejection : m_config.triggerRejections) {
            if (rejection.form == form) return Check(rejection.sense);
        }
        return Check(m_config.rejectedTriggerSense);
    }
    if (staged == 0) {
        return Check(m_config.nothingStagedSense);
    }
    std::vector<std::vector<uint8_t>> blocks(m_staged.size());
    uint16_t sum = 0;
    for (size_t k = 0; k < m_staged.size(); ++k) {
        if (!m_staged[k]) continue;
        blocks[k] = m_staged[k]->Data();
        for (const uint8_t byte : blocks[k]) sum = static_cast<uint16_t>(sum + byte);
    }
    if (sum != Be16(&cdb[10])) {
        return Check(m_config.checksumMismatchSense);
    }
    // The flash is rewritten now; the drive answers NOT READY until it is done.
    for (size_t k = 0; k < m_staged.size(); ++k) {
        if (!m_staged[k]) continue;
        std::vector<uint8_t>& bank = m_banks[k];
        std::fill(bank.begin(), bank.end(), 0);
        std::copy_n(blocks[k].begin(), std::min(blocks[k].size(), bank.size()), bank.begin());
        m_staged[k].reset();
    }
    m_programming = true;
    m_programmingUntil = m_clock.Now() + m_config.programmingMilliseconds;
    ++m_triggersAccepted;
    return m_config.acceptedTriggerSense ? Check(*m_config.acceptedTriggerSense) : Good();
}

}  // namespace keluflash
