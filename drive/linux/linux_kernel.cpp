#include "drive/linux/linux_kernel.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <sstream>
#include <system_error>
#include <thread>

namespace keluflash {

std::vector<OpticalDriveNode> HostLinuxKernel::OpticalDrives() { return FindOpticalDrives(m_sysfsRoot); }

int HostLinuxKernel::Open(const std::string& path, bool exclusive) {
    // O_NONBLOCK: no medium is needed to open a drive (and an exclusive open
    // of a node another program holds fails with EBUSY instead of waiting).
    const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC | (exclusive ? O_EXCL : 0));
    return fd >= 0 ? fd : -(errno != 0 ? errno : EIO);
}

void HostLinuxKernel::Close(int fd) { ::close(fd); }

int HostLinuxKernel::SgIo(int fd, sg_io_hdr_t& header) {
    if (::ioctl(fd, SG_IO, &header) == 0) {
        return 0;
    }
    return errno != 0 ? errno : EIO;
}

bool HostLinuxKernel::StillPresent(const std::string& nodeName) {
    // How long the device's removal may lag behind the command it failed.
    constexpr auto kRemovalWait = std::chrono::milliseconds(1000);
    constexpr auto kStep = std::chrono::milliseconds(50);
    const std::filesystem::path entry =
        m_sysfsRoot / "class" / (nodeName.starts_with("sg") ? "scsi_generic" : "block") / nodeName;
    const auto until = std::chrono::steady_clock::now() + kRemovalWait;
    for (;;) {
        std::error_code error;
        if (!std::filesystem::exists(entry, error) && !error) {
            return false;
        }
        if (std::chrono::steady_clock::now() >= until) {
            return true;
        }
        std::this_thread::sleep_for(kStep);
    }
}

std::string HostLinuxKernel::MountPoint(const std::string& blockName) {
    // /proc/self/mounts: "device mount-point type options 0 0", the mount
    // point with its spaces written as \040.
    std::ifstream mounts("/proc/self/mounts");
    const std::string device = "/dev/" + blockName;
    std::string line;
    while (std::getline(mounts, line)) {
        std::istringstream fields(line);
        std::string source;
        std::string target;
        if (fields >> source >> target && source == device) return target;
    }
    return {};
}

std::string HostLinuxKernel::NodeGroup(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return {};
    std::vector<char> buffer(4096);
    struct group entry {};
    struct group* found = nullptr;
    if (::getgrgid_r(info.st_gid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
        return std::to_string(info.st_gid);
    }
    return found->gr_name;
}

std::string HostLinuxKernel::NodeHolders(const std::string& path) {
    // Every process's open descriptors under /proc; those of other users are
    // hidden from an unprivileged caller, which then learns nothing more.
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path node = fs::weakly_canonical(path, error);
    if (error) return {};
    std::string holders;
    for (fs::directory_iterator process("/proc", error), end; !error && process != end; process.increment(error)) {
        const std::string pid = process->path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
        std::error_code fdError;
        for (fs::directory_iterator fd(process->path() / "fd", fdError); !fdError && fd != end;
             fd.increment(fdError)) {
            std::error_code linkError;
            if (fs::read_symlink(fd->path(), linkError) != node || linkError) continue;
            std::string name;
            std::getline(std::ifstream(process->path() / "comm"), name);
            holders += (holders.empty() ? "" : ", ") + (name.empty() ? "a program" : name) + " (pid " + pid + ")";
            break;
        }
    }
    return holders;
}

}  // namespace keluflash
