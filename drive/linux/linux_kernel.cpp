#include "drive/linux/linux_kernel.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <sstream>
#include <system_error>
#include <thread>

namespace keluflash {

namespace {

std::optional<dev_t> BlockNodeNumber(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISBLK(info.st_mode)) return std::nullopt;
    return info.st_rdev;
}

// A field of /proc/self/mountinfo with its \ooo escapes (space, tab,
// newline, backslash) turned back into the bytes they stand for.
std::string Unescaped(const std::string& field) {
    const auto octal = [](char c) { return c >= '0' && c <= '7'; };
    std::string text;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && octal(field[i + 1]) && octal(field[i + 2]) &&
            octal(field[i + 3])) {
            text += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0'));
            i += 3;
        } else {
            text += field[i];
        }
    }
    return text;
}

}  // namespace

std::string MountPointOf(std::istream& mountInfo, dev_t device,
                         const std::function<std::optional<dev_t>(const std::string&)>& blockNodeNumber) {
    // "36 25 11:0 / /media/disc ro,nosuid shared:1 - iso9660 /dev/sr0 ro": the
    // optional fields end at "-", after which come the type and the source.
    // Only a source that is a path is looked up ("tmpfs", "host:/share" are not).
    std::string line;
    while (std::getline(mountInfo, line)) {
        std::istringstream fields(line);
        std::string id, parent, numbers, root, point, field;
        if (!(fields >> id >> parent >> numbers >> root >> point)) continue;
        while (fields >> field && field != "-") {
        }
        std::string type, source;
        fields >> type >> source;
        unsigned major = 0;
        unsigned minor = 0;
        char colon = 0;
        std::istringstream number(numbers);
        const bool sameNumber = number >> major >> colon >> minor && colon == ':' && makedev(major, minor) == device;
        if (sameNumber || (source.starts_with('/') && blockNodeNumber(Unescaped(source)) == device))
            return Unescaped(point);
    }
    return {};
}

std::vector<OpticalDriveNode> HostLinuxKernel::OpticalDrives() { return FindOpticalDrives(m_sysfsRoot); }

int HostLinuxKernel::Open(const std::string& path, bool exclusive) {
    // O_NONBLOCK: no medium is needed to open a drive (and an exclusive open
    // of a node another program holds fails with EBUSY instead of waiting).
    const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC | (exclusive ? O_EXCL : 0));
    return fd >= 0 ? fd : -(errno != 0 ? errno : EIO);
}

int HostLinuxKernel::Claim(const std::string& blockPath) {
    // Read-only: holding the node needs no more, and a user who may only
    // read it can still keep others off.
    const int fd = ::open(blockPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_EXCL);
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

std::string HostLinuxKernel::MountPoint(const std::string& blockPath) {
    const std::optional<dev_t> device = BlockNodeNumber(blockPath);
    if (!device) return {};
    std::ifstream mountInfo("/proc/self/mountinfo");
    return MountPointOf(mountInfo, *device, BlockNodeNumber);
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
