#include "drive/sim/linux/simulated_linux_machine.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "drive/scsi_opcodes.h"

namespace keluflash {

namespace {

std::string NodeName(const char* prefix, size_t drive) { return prefix + std::to_string(drive); }

}  // namespace

SimulatedLinuxMachine::SimulatedLinuxMachine(SimulatedMachineConfig config, UserInterface& ui)
    : SimulatedMachine(std::move(config)), m_ui(ui), m_goneReported(DriveCount(), false) {}

// The transports close their nodes through this machine: they go first.
SimulatedLinuxMachine::~SimulatedLinuxMachine() {
    m_transport.reset();
    m_exclusiveTransport.reset();
}

Transport& SimulatedLinuxMachine::DriveTransport() {
    if (!m_transport) {
        m_transport = std::make_unique<SgIoTransport>(Kernel());
    }
    return *m_transport;
}

Transport& SimulatedLinuxMachine::ExclusiveDriveTransport() {
    if (!m_exclusiveTransport) {
        m_exclusiveTransport = std::make_unique<SgIoTransport>(Kernel(), "/dev", true);
    }
    return *m_exclusiveTransport;
}

bool SimulatedLinuxMachine::Listed(const std::vector<size_t>& drives, size_t drive) const {
    return std::find(drives.begin(), drives.end(), drive) != drives.end();
}

std::vector<OpticalDriveNode> SimulatedLinuxMachine::OpticalDrives() {
    // sr0, sr1, ... with sg0, sg1, ... behind them (no disk in front).
    std::vector<OpticalDriveNode> nodes;
    for (size_t i = 0; i < DriveCount(); ++i) {
        nodes.push_back({static_cast<unsigned>(i), NodeName("sr", i), NodeName("sg", i)});
    }
    return nodes;
}

std::optional<std::pair<size_t, bool>> SimulatedLinuxMachine::NodeAt(const std::string& path) const {
    for (size_t i = 0; i < DriveCount(); ++i) {
        if (path == "/dev/" + NodeName("sg", i)) return std::pair{i, false};
        if (path == "/dev/" + NodeName("sr", i)) return std::pair{i, true};
    }
    return std::nullopt;
}

bool SimulatedLinuxMachine::BlockNodeTaken(size_t drive) const {
    const auto& access = Config().linuxAccess;
    return access.mounted.contains(drive) || Listed(access.blockNodeHeld, drive) ||
           std::any_of(m_open.begin(), m_open.end(), [drive](const OpenNode& node) {
               return node.drive == drive && node.blockNode && node.exclusive;
           });
}

// As the kernel's block layer: an exclusive open of a block node fails while
// a disc is mounted or another exclusive open holds it; an open without
// O_EXCL is not kept off. The sg node takes every opener here.
int SimulatedLinuxMachine::OpenAt(const std::string& path, bool exclusive, bool blockOnly) {
    const auto node = NodeAt(path);
    if (!node || (blockOnly && !node->second)) return -ENOENT;
    const auto [drive, block] = *node;
    const auto& access = Config().linuxAccess;
    if (Listed(access.unopenable, drive) || (!block && Listed(access.withoutSgAccess, drive))) return -EACCES;
    if (Lost(drive)) return -ENOENT;  // the node went with the device
    if (block && exclusive && BlockNodeTaken(drive)) return -EBUSY;
    m_open.push_back({m_nextFd, drive, block, block && exclusive});
    return m_nextFd++;
}

int SimulatedLinuxMachine::Open(const std::string& path, bool exclusive) { return OpenAt(path, exclusive, false); }

int SimulatedLinuxMachine::Claim(const std::string& blockPath) { return OpenAt(blockPath, true, true); }

std::string SimulatedLinuxMachine::MountPoint(const std::string& blockPath) {
    const auto node = NodeAt(blockPath);
    if (!node || !node->second) return {};
    const auto& mounted = Config().linuxAccess.mounted;
    const auto point = mounted.find(node->first);
    return point != mounted.end() ? point->second : std::string();
}

void SimulatedLinuxMachine::Close(int fd) {
    std::erase_if(m_open, [fd](const OpenNode& node) { return node.fd == fd; });
}

bool SimulatedLinuxMachine::StillPresent(const std::string& nodeName) {
    for (size_t i = 0; i < DriveCount(); ++i) {
        if (nodeName == NodeName("sg", i) || nodeName == NodeName("sr", i)) return !Lost(i);
    }
    return false;
}

int SimulatedLinuxMachine::SgIo(int fd, sg_io_hdr_t& header) {
    const auto node = std::find_if(m_open.begin(), m_open.end(), [fd](const OpenNode& n) { return n.fd == fd; });
    if (node == m_open.end()) return EBADF;
    if (header.interface_id != 'S' || header.cmdp == nullptr || header.cmd_len == 0 || header.cmd_len > 16) {
        return EINVAL;
    }
    if (Lost(node->drive) && m_goneReported[node->drive]) return ENODEV;
    std::array<uint8_t, 16> cdb{};
    std::memcpy(cdb.data(), header.cmdp, header.cmd_len);
    // Without CAP_SYS_RAWIO the block node passes only commands the kernel
    // knows as harmless: 5A reads as MODE SENSE(10) there, WRITE BUFFER does not.
    if (node->blockNode && cdb[0] == kOpWriteBuffer) return EPERM;

    const uint8_t direction = header.dxfer_direction == SG_DXFER_FROM_DEV ? kDirectionIn
                              : header.dxfer_direction == SG_DXFER_TO_DEV ? kDirectionOut
                                                                          : kDirectionNone;
    const uint32_t length = direction == kDirectionNone ? 0 : header.dxfer_len;
    const Delivery delivery =
        Deliver(node->drive, cdb.data(), static_cast<uint8_t*>(header.dxferp), length, direction);
    header.status = 0;
    header.host_status = 0;
    header.driver_status = 0;
    header.sb_len_wr = 0;
    header.resid = 0;
    if (delivery.fault == MachineFaultKind::DriveGone) {
        // As usb-storage does when the device goes: the command in flight
        // fails with DID_ERROR, every later call on the node with ENODEV.
        m_goneReported[node->drive] = true;
        header.host_status = kSgHostError;
        return 0;
    }
    if (delivery.fault == MachineFaultKind::OsError) return static_cast<int>(delivery.osError);
    if (delivery.fault == MachineFaultKind::NeverCompletes || delivery.fault == MachineFaultKind::HostTimeOut) {
        Clock().Advance(header.timeout);
        header.host_status = kSgHostTimeOut;
    } else if (delivery.fault) {
        header.host_status = kSgHostError;
    }
    const ScsiResult& result = delivery.scsi;
    header.status = result.scsiStatus;
    if (delivery.fault == MachineFaultKind::HostTimeOutWithSense) {
        Clock().Advance(header.timeout);
        header.host_status = kSgHostTimeOut;
        header.status = 0;
    }
    if (direction == kDirectionIn) {
        header.resid = static_cast<int>(length - std::min(length, result.transferred));
    }
    if (result.HasSense() && header.sbp != nullptr && header.mx_sb_len > 0) {
        const size_t count = std::min<size_t>(header.mx_sb_len, result.sense.size());
        std::memcpy(header.sbp, result.sense.data(), count);
        header.sb_len_wr = static_cast<unsigned char>(count);
        if (delivery.fault != MachineFaultKind::HostTimeOutWithSense) header.driver_status = kSgDriverSense;
    }
    return 0;
}

}  // namespace keluflash
