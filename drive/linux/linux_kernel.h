#pragma once
// The kernel as the SG_IO transport sees it: the optical drives in sysfs, the
// device nodes it opens and closes, and the one ioctl(SG_IO). The host's
// kernel is one implementation; the simulated Linux machine and tests are
// others, so the transport's own code runs unchanged over each.
#include <scsi/sg.h>
#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <istream>
#include <optional>
#include <string>
#include <vector>

#include "drive/linux/sysfs_optical_drives.h"

namespace keluflash {

class LinuxKernel {
public:
    virtual ~LinuxKernel() = default;
    // The optical drives, in srN number order.
    virtual std::vector<OpticalDriveNode> OpticalDrives() = 0;
    // open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC), with O_EXCL when
    // `exclusive` (sg then refuses a second opener, and a block node whose
    // disc is mounted, with EBUSY): a descriptor, or -errno.
    virtual int Open(const std::string& path, bool exclusive) = 0;
    // A block node opened only to keep it: open(path, O_RDONLY | O_NONBLOCK |
    // O_EXCL | O_CLOEXEC). While it is open nobody can mount the disc or open
    // the node with O_EXCL; EBUSY when a disc is mounted or another program
    // holds it so. A descriptor for Close, or -errno.
    virtual int Claim(const std::string& blockPath) = 0;
    virtual void Close(int fd) = 0;
    // ioctl(fd, SG_IO, &header): 0 when the call went through (the outcome of
    // the command is in the header), else the errno of the failed call.
    virtual int SgIo(int fd, sg_io_hdr_t& header) = 0;
    // Whether the kernel still has the device behind a node ("sg1", "sr0").
    // Asked after a host error: a drive unplugged mid-command comes back as
    // DID_ERROR, and its nodes leave sysfs moments later, so a gone device is
    // waited for a short, bounded while.
    virtual bool StillPresent(const std::string& nodeName) = 0;
    // Where a disc in the drive whose block node is `blockPath` ("/dev/sr0")
    // is mounted, under whatever name the mount was made (/dev/cdrom, a
    // /dev/disk/by-id link, a bind mount): mounts are matched by device
    // number. Empty when it is not mounted, as far as this process sees.
    virtual std::string MountPoint(const std::string& blockPath) = 0;
    // For the operator's fix when a node does not open: the group that owns
    // it ("cdrom"), and the programs that hold it open ("wodim (pid 812)"),
    // as far as the system shows them to this user. Empty when unknown.
    virtual std::string NodeGroup(const std::string&) { return {}; }
    virtual std::string NodeHolders(const std::string&) { return {}; }
};

// The mount point of the first mount in `mountInfo` (the text of
// /proc/self/mountinfo) that is of block device `device`: its device field
// is that number, or its source is a block node of that number.
// `blockNodeNumber` gives the device number of a path that names a block
// node (nothing otherwise). Octal escapes (\040) are decoded; empty when no
// mount is of the device.
std::string MountPointOf(std::istream& mountInfo, dev_t device,
                         const std::function<std::optional<dev_t>(const std::string&)>& blockNodeNumber);

// This machine's kernel; sysfs read under `sysfsRoot` (a fixture tree in tests).
class HostLinuxKernel final : public LinuxKernel {
public:
    explicit HostLinuxKernel(std::filesystem::path sysfsRoot = "/sys") : m_sysfsRoot(std::move(sysfsRoot)) {}
    std::vector<OpticalDriveNode> OpticalDrives() override;
    int Open(const std::string& path, bool exclusive) override;
    int Claim(const std::string& blockPath) override;
    void Close(int fd) override;
    int SgIo(int fd, sg_io_hdr_t& header) override;
    bool StillPresent(const std::string& nodeName) override;
    std::string MountPoint(const std::string& blockPath) override;
    std::string NodeGroup(const std::string& path) override;
    std::string NodeHolders(const std::string& path) override;

private:
    std::filesystem::path m_sysfsRoot;
};

}  // namespace keluflash
