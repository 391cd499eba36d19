#include "drive/linux/sg_io_transport.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "drive/errno_text.h"

namespace keluflash {

namespace {

std::string LowerFirst(std::string text) {
    if (!text.empty()) {
        text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    }
    return text;
}

void FailWithErrno(CommandResult& result, int error, bool gone) {
    result.outcome = CommandOutcome::OsError;
    result.osError = static_cast<uint32_t>(error);
    result.osErrorText = ErrnoText(error);
    result.deviceGone = gone;
}

}  // namespace

std::string OpenFailureText(int error) {
    switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
        return "permission denied";
    case ENOENT:
        return "no device node";
    case EBUSY:
        return "device busy";
    default:
        return LowerFirst(ErrnoText(error));
    }
}

SgIoTransport::SgIoTransport(LinuxKernel& kernel, std::string devRoot, bool exclusive)
    : m_kernel(kernel), m_devRoot(std::move(devRoot)), m_exclusive(exclusive) {}

SgIoTransport::~SgIoTransport() = default;

void SgIoTransport::CloseAll() { m_open.clear(); }

std::optional<UnlistedDrive> SgIoTransport::MountedDisc(const std::vector<std::string>& nodes,
                                                        const std::string& block) {
    const std::string mountPoint = m_kernel.MountPoint(block);
    if (mountPoint.empty()) return std::nullopt;
    return UnlistedDrive(nodes.front(), "the disc in " + block + " is mounted at " + mountPoint + ": unmount it first",
                         std::vector<std::string>(nodes.begin() + 1, nodes.end()));
}

UnlistedDrive SgIoTransport::BlockNodeTaken(const std::vector<std::string>& nodes, const std::string& block) {
    // A mount holds the block node as an exclusive open does; the mount
    // table tells which it is, unless the mount is in another namespace.
    if (std::optional<UnlistedDrive> mounted = MountedDisc(nodes, block)) return std::move(*mounted);
    UnlistedDrive taken(nodes.front(),
                        "device busy: " + block + " is held by another program, or mounted where this program "
                                                  "cannot see it",
                        std::vector<std::string>(nodes.begin() + 1, nodes.end()), UnlistedCause::InUse);
    taken.holders = m_kernel.NodeHolders(block);
    return taken;
}

std::optional<UnlistedDrive> SgIoTransport::HoldBlockNode(OpenDrive& drive, const std::vector<std::string>& nodes,
                                                          const std::string& block) {
    // Opened at the block node with O_EXCL: that open holds it.
    if (drive.blockNode) return std::nullopt;
    const int fd = m_kernel.Claim(block);
    if (fd >= 0) {
        drive.blockHold = KernelFd(m_kernel, fd);
        return std::nullopt;
    }
    switch (-fd) {
    case EBUSY:
        return BlockNodeTaken(nodes, block);
    // Nothing there to hold: no medium, a block device that is offline or
    // has no node here, or a user who may open only the sg node (as udev
    // rules may leave it). Nobody mounts what is not there; a disc that is
    // mounted all the same is still found by its device number.
    case ENOMEDIUM:
    case ENXIO:
    case ENODEV:
    case ENOENT:
    case EACCES:
    case EPERM:
        return MountedDisc(nodes, block);
    default:
        return UnlistedDrive(nodes.front(),
                             "cannot hold " + block + " for this program alone (" + OpenFailureText(-fd) + ")",
                             std::vector<std::string>(nodes.begin() + 1, nodes.end()));
    }
}

int SgIoTransport::Scan(DeviceTable& table, const Identify& identify) {
    CloseAll();
    m_unlisted.clear();
    int count = 0;
    for (const OpticalDriveNode& node : m_kernel.OpticalDrives()) {
        const std::string block = m_devRoot + "/" + node.blockName;
        const std::string generic = node.genericName.empty() ? std::string{} : m_devRoot + "/" + node.genericName;
        std::vector<std::string> nodes;
        if (!generic.empty()) {
            nodes.push_back(generic);
        }
        nodes.push_back(block);

        if (count == kDeviceTableSize) {
            m_unlisted.emplace_back(nodes.front(), "the device table holds 20 drives",
                                    std::vector<std::string>(nodes.begin() + 1, nodes.end()), UnlistedCause::TableFull);
            continue;
        }
        // The reason shown is the first failure that is not a missing node:
        // when both nodes refuse, the sg node's permission is the one to fix.
        int reportedError = 0;
        std::string reportedPath;
        OpenDrive opened;
        for (const std::string& path : nodes) {
            const int fd = m_kernel.Open(path, m_exclusive);
            if (fd >= 0) {
                opened.fd = KernelFd(m_kernel, fd);
                opened.path = path;
                opened.blockNode = path == block;
                opened.nodeName = path == block ? node.blockName : node.genericName;
                break;
            }
            // A node another program holds is that program's drive, whatever
            // else failed: its other node must not let a second update in
            // beside it.
            if (reportedError == 0 || (reportedError == ENOENT && -fd != ENOENT) || -fd == EBUSY) {
                reportedError = -fd;
                reportedPath = path;
            }
            if (-fd == EBUSY) break;
        }
        if (opened.fd.Get() < 0) {
            if (m_exclusive && reportedError == EBUSY && reportedPath == block) {
                m_unlisted.push_back(BlockNodeTaken(nodes, block));
                continue;
            }
            std::vector<std::string> others;
            for (const std::string& path : nodes) {
                if (path != reportedPath) others.push_back(path);
            }
            UnlistedDrive unlisted(reportedPath, OpenFailureText(reportedError), others);
            if (reportedError == EACCES || reportedError == EPERM || reportedError == EROFS) {
                unlisted.cause = UnlistedCause::NodePermission;
                unlisted.owningGroup = m_kernel.NodeGroup(reportedPath);
            } else if (reportedError == EBUSY) {
                unlisted.cause = UnlistedCause::InUse;
                unlisted.holders = m_kernel.NodeHolders(reportedPath);
            }
            m_unlisted.push_back(std::move(unlisted));
            continue;
        }
        // The drive is this program's alone before a command goes to it; a
        // refusal closes what was opened and sends nothing.
        if (m_exclusive) {
            if (std::optional<UnlistedDrive> refused = HoldBlockNode(opened, nodes, block)) {
                m_unlisted.push_back(std::move(*refused));
                continue;
            }
        }
        for (const std::string& path : nodes) {
            if (path != opened.path) opened.others.push_back(path);
        }
        m_open.push_back(std::move(opened));

        DeviceEntry& entry = table[static_cast<size_t>(count)];
        entry = DeviceEntry{};
        entry.handle = m_open.size();
        std::array<uint8_t, kInquiryLength> inquiry{};
        identify(entry, inquiry.data());
        FillInquiryTexts(entry, inquiry.data(), true);
        ++count;
    }
    return count;
}

const SgIoTransport::OpenDrive* SgIoTransport::Find(DeviceHandle handle) const {
    if (handle == 0 || handle > m_open.size()) {
        return nullptr;
    }
    return &m_open[handle - 1];
}

void SgIoTransport::Execute(const DeviceEntry& device, const uint8_t* cdb, uint8_t* data, uint32_t length,
                            uint8_t direction, CommandResult& result) {
    result = CommandResult{};
    const OpenDrive* drive = Find(device.handle);
    if (drive == nullptr) {
        // No drive was found, or the handle is not one of ours: nothing goes
        // to the kernel (descriptor 0 would be standard input).
        FailWithErrno(result, EBADF, false);
        return;
    }

    std::array<uint8_t, 12> command{};
    std::memcpy(command.data(), cdb, command.size());
    sg_io_hdr_t header{};
    header.interface_id = 'S';
    header.cmd_len = static_cast<unsigned char>(command.size());
    header.cmdp = command.data();
    header.dxfer_direction = direction == kDirectionIn    ? SG_DXFER_FROM_DEV
                             : direction == kDirectionOut ? SG_DXFER_TO_DEV
                                                          : SG_DXFER_NONE;
    if (header.dxfer_direction != SG_DXFER_NONE && data != nullptr) {
        header.dxfer_len = length;
        header.dxferp = data;
    }
    header.sbp = result.senseData.data();
    header.mx_sb_len = static_cast<unsigned char>(result.senseData.size());
    header.timeout = kSgTimeoutMilliseconds;

    if (const int error = m_kernel.SgIo(drive->fd.Get(), header); error != 0) {
        // A drive that is gone answers ENODEV or ENXIO; anything else is the
        // system refusing the call.
        result.senseData.fill(0);
        FailWithErrno(result, error, error == ENODEV || error == ENXIO);
        if (drive->blockNode && (error == EPERM || error == EACCES)) {
            // The block node passes only the commands the kernel knows as safe.
            result.osErrorText += " (the kernel refuses this command on " + drive->path +
                                  " without CAP_SYS_RAWIO; use the drive's /dev/sgN node)";
        }
        return;
    }
    // A drive unplugged mid-command: the kernel fails that command with
    // DID_ERROR and then removes the device.
    const bool gone = header.host_status == kSgHostNoConnect || header.host_status == kSgHostBadTarget ||
                      (header.host_status == kSgHostError && !m_kernel.StillPresent(drive->nodeName));
    if (gone) {
        result.senseData.fill(0);
        FailWithErrno(result, ENODEV, true);
        return;
    }

    uint8_t status = header.status;
    const unsigned driver = header.driver_status & kSgDriverMask;
    // Some drivers report CHECK CONDITION only through the driver byte.
    if (status == kScsiStatusGood && driver == kSgDriverSense && header.sb_len_wr > 0) {
        status = kScsiStatusCheckCondition;
    }
    result.scsiStatus = status;
    result.senseLength = std::min<uint8_t>(header.sb_len_wr, static_cast<uint8_t>(result.senseData.size()));
    // The kernel reports what did not move; a negative or oversized count
    // from a driver is read as "nothing moved".
    if (header.dxfer_direction != SG_DXFER_NONE && data != nullptr) {
        result.residual = header.resid < 0 || static_cast<uint32_t>(header.resid) > length
                              ? length
                              : static_cast<uint32_t>(header.resid);
    }
    if (header.host_status == kSgHostTimeOut || driver == kSgDriverTimeout) {
        result.outcome = CommandOutcome::HostFailure;
        result.hostFailure = HostFailureKind::TimedOut;
    } else if (header.host_status != 0 || (driver != 0 && driver != kSgDriverSense)) {
        // The command may have reached the drive: its status and sense count.
        result.outcome = CommandOutcome::HostFailure;
        result.hostFailure = HostFailureKind::TransportError;
    } else {
        result.outcome = CommandOutcome::Answered;
    }
}

std::string SgIoTransport::DevicePath(const DeviceEntry& device) const {
    const OpenDrive* drive = Find(device.handle);
    return drive != nullptr ? drive->path : std::string{};
}

std::vector<std::string> SgIoTransport::OtherNames(const DeviceEntry& device) const {
    const OpenDrive* drive = Find(device.handle);
    return drive != nullptr ? drive->others : std::vector<std::string>{};
}

}  // namespace keluflash
