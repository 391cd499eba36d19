// Finding the optical drives at start-up: the ASPI walk over adapters,
// targets and LUNs, or the walk over the drive letters on the pass-through path.
#include <algorithm>
#include <array>

#include "drive/atapi.h"

namespace keluflash {

namespace {

constexpr size_t kInquiryLength = 50;
constexpr size_t kIdentificationOffset = 8;   // vendor (8) and product (16) identification
constexpr size_t kIdentificationLength = 24;
constexpr size_t kRevisionOffset = 32;
constexpr size_t kRevisionLength = 4;
constexpr uint8_t kTargetsPerAdapter = 8;
constexpr uint8_t kLunsPerTarget = 8;
constexpr uint8_t kCdromDeviceType = 5;
// The drive-letter walk lists only the first four CD-ROM letters.
constexpr int kPassThroughListLimit = 4;

// Puts `count` INQUIRY bytes into a text field and zero-fills the rest; with
// untilZero a zero byte ends the text early. The field always keeps a
// terminating zero.
template <size_t N>
void CopyInquiryText(std::array<char, N>& field, const uint8_t* from, size_t count, bool untilZero) {
    field.fill(0);
    count = std::min(count, N - 1);
    for (size_t i = 0; i < count && !(untilZero && from[i] == 0); ++i) {
        field[i] = static_cast<char>(from[i]);
    }
}

}  // namespace

int TAtapi::ScanAspiDevices() {
    if (m_ntFlag) {
        return ScanPassThroughDrives();
    }
    m_deviceCount = 0;
    if (!m_aspiLibrary) {
        return 0;
    }
    const uint8_t adapters = static_cast<uint8_t>(m_aspiLibrary->GetASPI32SupportInfo() & 0xFF);
    m_probe = SrbGDEVBlock{};
    for (uint8_t adapter = 0; adapter < adapters; ++adapter) {
        for (uint8_t target = 0; target < kTargetsPerAdapter; ++target) {
            for (uint8_t lun = 0; lun < kLunsPerTarget; ++lun) {
                if (m_deviceCount == kDeviceTableSize) {
                    return m_deviceCount;  // a full table records nothing more
                }
                m_probe.SRB_Cmd = kScGetDevType;
                m_probe.SRB_HaId = adapter;
                m_probe.SRB_Flags = 0;
                m_probe.SRB_Hdr_Rsvd = 0;
                m_probe.SRB_Target = target;
                m_probe.SRB_Lun = lun;
                m_probe.SRB_Rsvd1 = 0;
                m_aspiLibrary->SendASPI32Command(&m_probe);
                if (!WaitForProbe()) {
                    // The layer does not answer; every further probe would
                    // stall start-up as long again.
                    SendAbort(&m_probe, adapter);
                    return m_deviceCount;
                }
                if (ReadAspiStatus(m_probe.SRB_Status) != kSsComp || m_probe.SRB_DeviceType != kCdromDeviceType) {
                    continue;
                }
                DeviceEntry& entry = m_devices[static_cast<size_t>(m_deviceCount)];
                entry.hostAdapter = adapter;
                entry.target = target;
                entry.lun = lun;
                m_selectedHostAdapter = adapter;
                m_selectedTarget = target;
                m_selectedLun = lun;
                // Cleared, so that a failed INQUIRY leaves empty texts.
                std::array<uint8_t, kInquiryLength> inquiry{};
                Inquiry(inquiry.data());
                CopyInquiryText(entry.identification, inquiry.data() + kIdentificationOffset, kIdentificationLength,
                                false);
                CopyInquiryText(entry.revision, inquiry.data() + kRevisionOffset, kRevisionLength, true);
                ++m_deviceCount;
            }
        }
    }
    return m_deviceCount;
}

// Waits for the device probe, pumping the window's messages meanwhile. An
// SC_GET_DEV_TYPE is answered from the ASPI layer's own device list, normally
// before the call returns; a probe still pending after a few seconds means the
// layer is stuck, and start-up goes on without it.
bool TAtapi::WaitForProbe() {
    const uint32_t start = m_ports.clock.TickCount();
    for (;;) {
        if (ReadAspiStatus(m_probe.SRB_Status) != kSsPending) {
            return true;
        }
        PumpMessage();
        if (ReadAspiStatus(m_probe.SRB_Status) != kSsPending) {
            return true;
        }
        if (m_ports.clock.TickCount() - start >= kAspiProbeWaitMilliseconds) {
            return false;
        }
        // Gives the layer the processor (and lets a simulated clock move).
        m_ports.clock.Sleep(1);
    }
}

int TAtapi::ScanPassThroughDrives() {
    m_deviceCount = 0;
    for (char letter = 'A'; letter <= 'Y'; ++letter) {
        if (m_ports.driveLetters.GetDriveType(letter) != kDriveCdrom) {
            continue;
        }
        m_scanHandle = m_ports.driveLetters.Open(letter);
        if (m_scanHandle == kInvalidHandle) {
            continue;
        }
        m_selectedHandle = m_scanHandle;
        std::array<uint8_t, kInquiryLength> inquiry{};
        Inquiry(inquiry.data());
        // A fifth and later drive is opened and asked too, but only ever
        // lands in the slot after the listed ones.
        DeviceEntry& entry = m_devices[static_cast<size_t>(m_deviceCount)];
        entry.handle = m_scanHandle;
        CopyInquiryText(entry.identification, inquiry.data() + kIdentificationOffset, kIdentificationLength, true);
        CopyInquiryText(entry.revision, inquiry.data() + kRevisionOffset, kRevisionLength, true);
        if (m_deviceCount < kPassThroughListLimit) {
            ++m_deviceCount;
        }
    }
    return m_deviceCount;
}

}  // namespace keluflash
