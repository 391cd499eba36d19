#pragma once
// What the image layer asks of the file system: what a path names, its size
// and modification time, and its bytes. Each system's build links its own
// side (image/posix/, image/win32/); the Windows side makes only ANSI calls
// that Windows 95 already had, so the window starts on Windows 98 and Me.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace keluflash {

// Missing also stands for a path the system cannot look at.
enum class FileKind { Missing, Regular, Directory, Fifo, Device, Socket };

FileKind KindOf(const std::string& path);

// Size and modification time (in the system's own units: only compared).
struct FileStamp {
    uint64_t size = 0;
    int64_t modified = 0;
    bool operator==(const FileStamp&) const = default;
};

// Nothing when the path is not a regular file that can be opened.
std::optional<FileStamp> StampOf(const std::string& path);

// One regular file open for reading. Closed when destroyed.
class ReadableFile {
public:
    virtual ~ReadableFile() = default;
    // Positions at `offset` bytes from the start; past the end is allowed.
    virtual bool Seek(uint64_t offset) = 0;
    // Reads up to `count` bytes; fewer at the end, 0 after a read error.
    virtual size_t Read(uint8_t* buffer, size_t count) = 0;
};

// Opens a regular file; nothing for anything else, never waiting for a FIFO's
// writer.
std::unique_ptr<ReadableFile> OpenReadableFile(const std::string& path);

}  // namespace keluflash
