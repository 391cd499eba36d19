// The file system's side of the image layer on Linux and other POSIX systems.
#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "image/file_access.h"

namespace keluflash {

namespace {

class PosixFile final : public ReadableFile {
public:
    explicit PosixFile(int descriptor) : m_descriptor(descriptor) {}
    PosixFile(const PosixFile&) = delete;
    PosixFile& operator=(const PosixFile&) = delete;
    ~PosixFile() override { ::close(m_descriptor); }

    bool Seek(uint64_t offset) override {
        return ::lseek(m_descriptor, static_cast<off_t>(offset), SEEK_SET) != static_cast<off_t>(-1);
    }

    size_t Read(uint8_t* buffer, size_t count) override {
        size_t got = 0;
        while (got < count) {
            const ssize_t now = ::read(m_descriptor, buffer + got, count - got);
            if (now < 0 && errno == EINTR) continue;
            if (now <= 0) break;
            got += static_cast<size_t>(now);
        }
        return got;
    }

private:
    int m_descriptor;
};

int64_t ModifiedOf(const struct stat& status) {
    return static_cast<int64_t>(status.st_mtim.tv_sec) * 1'000'000'000 + status.st_mtim.tv_nsec;
}

}  // namespace

FileKind KindOf(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return FileKind::Missing;
    if (S_ISDIR(status.st_mode)) return FileKind::Directory;
    if (S_ISFIFO(status.st_mode)) return FileKind::Fifo;
    if (S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode)) return FileKind::Device;
    if (S_ISSOCK(status.st_mode)) return FileKind::Socket;
    return FileKind::Regular;
}

std::optional<FileStamp> StampOf(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
    return FileStamp{static_cast<uint64_t>(status.st_size), ModifiedOf(status)};
}

std::unique_ptr<ReadableFile> OpenReadableFile(const std::string& path) {
    // Without O_NONBLOCK a FIFO put in the file's place would hold the open
    // until a writer came; it changes nothing for a regular file.
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (descriptor < 0) return nullptr;
    auto file = std::make_unique<PosixFile>(descriptor);
    struct stat status {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) return nullptr;
    return file;
}

}  // namespace keluflash
