#include "drive/linux/linux_kernel.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

namespace keluflash {

std::vector<OpticalDriveNode> HostLinuxKernel::OpticalDrives() { return FindOpticalDrives(m_sysfsRoot); }

int HostLinuxKernel::Open(const std::string& path) {
    // O_NONBLOCK: no medium is needed to open a drive.
    const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    return fd >= 0 ? fd : -(errno != 0 ? errno : EIO);
}

void HostLinuxKernel::Close(int fd) { ::close(fd); }

int HostLinuxKernel::SgIo(int fd, sg_io_hdr_t& header) {
    if (::ioctl(fd, SG_IO, &header) == 0) {
        return 0;
    }
    return errno != 0 ? errno : EIO;
}

}  // namespace keluflash
