#pragma once
// A simulated Linux machine: its drives in a simulated sysfs (srN with sgN
// behind each), their device nodes, and ioctl(SG_IO) answered for them, so
// the SG_IO transport's own code runs over simulated drives and shows Linux
// paths. Descriptors are numbers of this machine; none is a real one.
#include <memory>
#include <string>
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
    UserInterface& Ui() override { return m_ui; }
    LinuxKernel& Kernel() { return *this; }

private:
    struct OpenNode {
        int fd;
        size_t drive;
        bool blockNode;
    };
    std::vector<OpticalDriveNode> OpticalDrives() override;
    int Open(const std::string& path, bool exclusive) override;
    std::string MountPoint(const std::string&) override { return {}; }
    void Close(int fd) override;
    int SgIo(int fd, sg_io_hdr_t& header) override;
    bool StillPresent(const std::string& nodeName) override;
    bool Listed(const std::vector<size_t>& drives, size_t drive) const;

    UserInterface& m_ui;
    std::vector<OpenNode> m_open;
    std::vector<bool> m_goneReported;   // per drive: the command it vanished in was answered
    int m_nextFd = 1000;
    std::unique_ptr<SgIoTransport> m_transport;
};

}  // namespace keluflash
