// The file system's side of the image layer on Windows. ANSI calls only, all
// of them in Windows 95's KERNEL32: no wide-character or C library file call,
// which Windows 98 and Me lack or only stub.
#include "image/file_access.h"

#include <windows.h>

#include <algorithm>

namespace keluflash {

namespace {

// One handle from CreateFileA, closed when destroyed.
class Win32File final : public ReadableFile {
public:
    explicit Win32File(HANDLE handle) : m_handle(handle) {}
    Win32File(const Win32File&) = delete;
    Win32File& operator=(const Win32File&) = delete;
    ~Win32File() override { CloseHandle(m_handle); }

    HANDLE Handle() const { return m_handle; }

    bool Seek(uint64_t offset) override {
        LONG high = static_cast<LONG>(offset >> 32);
        const DWORD low = SetFilePointer(m_handle, static_cast<LONG>(offset & 0xFFFFFFFFu), &high, FILE_BEGIN);
        return !(low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR);
    }

    size_t Read(uint8_t* buffer, size_t count) override {
        size_t got = 0;
        while (got < count) {
            const DWORD want = static_cast<DWORD>(std::min<size_t>(count - got, 0x100000));
            DWORD now = 0;
            if (!ReadFile(m_handle, buffer + got, want, &now, nullptr) || now == 0) break;
            got += now;
        }
        return got;
    }

private:
    HANDLE m_handle;
};

// Opens whatever the path names that CreateFileA opens (a file, a device, a
// pipe); nothing for a directory or a path that is not there. Windows 9x
// refuses FILE_SHARE_DELETE, so it is not asked for.
std::unique_ptr<Win32File> OpenAny(const std::string& path) {
    const HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<Win32File>(handle);
}

}  // namespace

FileKind KindOf(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return FileKind::Directory;
    // Devices ("NUL", "COM1") and pipes have attributes on some systems and
    // none on others: the open handle's type tells.
    const std::unique_ptr<Win32File> file = OpenAny(path);
    if (!file) return FileKind::Missing;
    switch (GetFileType(file->Handle())) {
        case FILE_TYPE_DISK: return FileKind::Regular;
        case FILE_TYPE_PIPE: return FileKind::Fifo;
        default: return FileKind::Device;
    }
}

std::optional<FileStamp> StampOf(const std::string& path) {
    const std::unique_ptr<Win32File> file = OpenAny(path);
    BY_HANDLE_FILE_INFORMATION information{};
    if (!file || GetFileType(file->Handle()) != FILE_TYPE_DISK ||
        !GetFileInformationByHandle(file->Handle(), &information))
        return std::nullopt;
    const uint64_t size = (uint64_t{information.nFileSizeHigh} << 32) | information.nFileSizeLow;
    const uint64_t modified =
        (uint64_t{information.ftLastWriteTime.dwHighDateTime} << 32) | information.ftLastWriteTime.dwLowDateTime;
    return FileStamp{size, static_cast<int64_t>(modified)};
}

std::unique_ptr<ReadableFile> OpenReadableFile(const std::string& path) {
    std::unique_ptr<Win32File> file = OpenAny(path);
    if (!file || GetFileType(file->Handle()) != FILE_TYPE_DISK) return nullptr;
    return file;
}

}  // namespace keluflash
