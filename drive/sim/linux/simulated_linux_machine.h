#pragma once
// A simulated Linux machine: its drives in a simulated sysfs (srN with sgN
// behind each), their device nodes, and ioctl(SG_IO) answered for them, so
// the SG_IO transport's own code runs over simulated drives and shows Linux
// paths. Descriptors are numbers of this machine; none is a real one.
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "drive/linux/linux_kernel.h"
#include "drive/linux/sg_io_transport.h"
#include "drive/sim/simulated_machine.h"

namespace keluflash {

class SimulatedLinuxMachine final : public SimulatedMachine, private LinuxKernel {
public:
    SimulatedLinuxMachine(SimulatedMachineConfig config, UserInterface& ui);
    ~SimulatedLinuxMachine() override;

    Transport& DriveTransport() override;
    Transport& ExclusiveDriveTransport() override;
    UserInterface& Ui() override { return m_ui; }
    LinuxKernel& Kernel() { return *this; }

private:
    struct OpenNode {
        int fd;
        size_t drive;
        bool blockNode;
        bool exclusive;
    };
    std::vector<OpticalDriveNode> OpticalDrives() override;
    int Open(const std::string& path, bool exclusive) override;
    int Claim(const std::string& blockPath) override;
    std::string MountPoint(const std::string& blockPath) override;
    void Close(int fd) override;
    int SgIo(int fd, sg_io_hdr_t& header) override;
    bool StillPresent(const std::string& nodeName) override;
    bool Listed(const std::vector<size_t>& drives, size_t drive) const;
    // The drive behind a node's path ("/dev/sg0", "/dev/sr0"), and whether it
    // is the block node; nullopt for any other path.
    std::optional<std::pair<size_t, bool>> NodeAt(const std::string& path) const;
    // Whether an exclusive open of the drive's block node is refused: a disc
    // is mounted, or someone holds the node exclusively.
    bool BlockNodeTaken(size_t drive) const;
    // Opens a node for the program (a new descriptor), or -errno.
    int OpenAt(const std::string& path, bool exclusive, bool blockOnly);

    UserInterface& m_ui;
    std::vector<OpenNode> m_open;
    std::vector<bool> m_goneReported;   // per drive: the command it vanished in was answered
    int m_nextFd = 1000;
    std::unique_ptr<SgIoTransport> m_transport;
    std::unique_ptr<SgIoTransport> m_exclusiveTransport;
};

}  // namespace keluflash
