#pragma once
// The NT pass-through transport (Windows NT family): the CD-ROM drive letters
// A-Y, each opened as \\.\X: and asked with one
// DeviceIoControl(IOCTL_SCSI_PASS_THROUGH_DIRECT) per command.
#include <map>
#include <set>
#include <string>
#include <vector>

#include "drive/transport.h"
#include "drive/windows/pass_through_request.h"
#include "drive/windows/windows_ports.h"

namespace keluflash {

// The system's code for a device that is no longer attached.
inline constexpr uint32_t kErrorDeviceNotConnected = 1167;

class NtPassThroughTransport final : public Transport {
public:
    explicit NtPassThroughTransport(const WindowsPorts& ports) : m_ports(ports) {}
    ~NtPassThroughTransport() override;
    NtPassThroughTransport(const NtPassThroughTransport&) = delete;
    NtPassThroughTransport& operator=(const NtPassThroughTransport&) = delete;

    bool PassThrough() const override { return true; }
    int Scan(DeviceTable& table, const Identify& identify) override;
    void Execute(const DeviceEntry& device, const uint8_t* cdb, uint8_t* data, uint32_t length, uint8_t direction,
                 CommandResult& result) override;
    std::string DevicePath(const DeviceEntry& device) const override;
    // The drive letter ("D:").
    std::vector<std::string> OtherNames(const DeviceEntry& device) const override;
    std::vector<UnlistedDrive> Unlisted() const override { return m_unlisted; }
    // Locks the drive letter's volume on the handle the commands go to, and
    // only then dismounts a disc's file system; the unlock ends it.
    DriveHold HoldForUpdate(const DeviceEntry& device) override;
    void ReleaseHold(const DeviceEntry& device) override;

private:
    std::string SystemErrorText(uint32_t error);

    WindowsPorts m_ports;
    PassThroughBuffer m_passThrough{};
    DeviceHandle m_scanHandle = 0;
    std::map<DeviceHandle, std::string> m_paths;  // \\.\X: of each handle the scan opened
    std::vector<UnlistedDrive> m_unlisted;
    std::set<DeviceHandle> m_locked;  // volumes locked for an update
};

}  // namespace keluflash
