#pragma once
// The SG_IO transport (Linux): every optical drive sysfs shows, in srN number
// order, opened at its SCSI generic node /dev/sgN (the kernel does not filter
// commands there) or else at its block node /dev/srN; each command one
// ioctl(SG_IO) with a 20 s time-out. Errors are errno values with the system's
// own texts.
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "drive/linux/linux_kernel.h"
#include "drive/transport.h"

namespace keluflash {

// Host and driver bytes of sg_io_hdr_t (the kernel's DID_* and DRIVER_*).
inline constexpr unsigned kSgHostNoConnect = 0x01;
inline constexpr unsigned kSgHostTimeOut = 0x03;
inline constexpr unsigned kSgHostBadTarget = 0x04;
inline constexpr unsigned kSgHostError = 0x07;
inline constexpr unsigned kSgDriverMask = 0x0f;
inline constexpr unsigned kSgDriverTimeout = 0x06;
inline constexpr unsigned kSgDriverSense = 0x08;
inline constexpr unsigned kSgTimeoutMilliseconds = 20000;

// Why a node could not be opened, for the operator ("permission denied");
// the fix is the application's to tell.
std::string OpenFailureText(int error);

class SgIoTransport final : public Transport {
public:
    // Device nodes are named under `devRoot` ("/dev").
    // `exclusive`: for a command that writes or reads the flash, each drive
    // is opened with O_EXCL, and its block node /dev/srN is held with O_EXCL
    // too for as long as the transport lives, so no disc can be mounted and
    // no program that opens the drive exclusively gets it meanwhile. A drive
    // whose disc is mounted, or whose block node another program holds so,
    // is not used.
    explicit SgIoTransport(LinuxKernel& kernel, std::string devRoot = "/dev", bool exclusive = false);
    ~SgIoTransport() override;
    SgIoTransport(const SgIoTransport&) = delete;
    SgIoTransport& operator=(const SgIoTransport&) = delete;

    bool PassThrough() const override { return true; }
    int Scan(DeviceTable& table, const Identify& identify) override;
    void Execute(const DeviceEntry& device, const uint8_t* cdb, uint8_t* data, uint32_t length, uint8_t direction,
                 CommandResult& result) override;
    std::string DevicePath(const DeviceEntry& device) const override;
    std::vector<std::string> OtherNames(const DeviceEntry& device) const override;
    std::vector<UnlistedDrive> Unlisted() const override { return m_unlisted; }

private:
    // A descriptor of the kernel's, closed through it when it goes.
    class KernelFd {
    public:
        KernelFd() = default;
        KernelFd(LinuxKernel& kernel, int fd) : m_kernel(&kernel), m_fd(fd) {}
        ~KernelFd() { Reset(); }
        KernelFd(KernelFd&& other) noexcept : m_kernel(other.m_kernel), m_fd(std::exchange(other.m_fd, -1)) {}
        KernelFd& operator=(KernelFd&& other) noexcept {
            if (this != &other) {
                Reset();
                m_kernel = other.m_kernel;
                m_fd = std::exchange(other.m_fd, -1);
            }
            return *this;
        }
        KernelFd(const KernelFd&) = delete;
        KernelFd& operator=(const KernelFd&) = delete;
        int Get() const { return m_fd; }

    private:
        void Reset() {
            if (m_fd >= 0) m_kernel->Close(std::exchange(m_fd, -1));
        }
        LinuxKernel* m_kernel = nullptr;
        int m_fd = -1;
    };
    struct OpenDrive {
        KernelFd fd;
        KernelFd blockHold;               // the block node, held with O_EXCL (exclusive scans)
        std::string path;                 // the node opened
        std::vector<std::string> others;  // the drive's other names
        bool blockNode = false;           // opened at /dev/srN
        std::string nodeName;             // "sg1", "sr0"
    };
    const OpenDrive* Find(DeviceHandle handle) const;
    void CloseAll();
    // For an exclusive scan: holds the drive's block node, or says why the
    // drive cannot be this program's alone (nullopt: held, or nothing there
    // to hold).
    std::optional<UnlistedDrive> HoldBlockNode(OpenDrive& drive, const std::vector<std::string>& nodes,
                                               const std::string& block);
    // The drive refused because its block node is taken: by a mount (named
    // with its mount point) or by another program.
    UnlistedDrive BlockNodeTaken(const std::vector<std::string>& nodes, const std::string& block);
    // The refusal of a drive whose disc is mounted; nullopt when it is not.
    std::optional<UnlistedDrive> MountedDisc(const std::vector<std::string>& nodes, const std::string& block);

    LinuxKernel& m_kernel;
    std::string m_devRoot;
    bool m_exclusive;
    // Handle k (1-based) is m_open[k - 1]; 0 stays "no drive".
    std::vector<OpenDrive> m_open;
    std::vector<UnlistedDrive> m_unlisted;
};

}  // namespace keluflash
