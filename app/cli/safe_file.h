#pragma once
// Files keluflash-cli writes whole (dump, pack, demo-image): the bytes go to a
// temporary file in the target's folder, which is renamed into place only
// when it is complete. An existing target is refused unless the caller
// forces it; a failure leaves the old file as it was and no partial one.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace keluflash::cli {

class SafeFileWriter {
public:
    // Creates the temporary file. Nothing with the reason when the target
    // exists (and `force` is false), is not a regular file, or its folder
    // cannot take a new file.
    static std::optional<SafeFileWriter> Begin(const std::string& target, bool force, std::string& error);
    ~SafeFileWriter();  // removes the temporary file unless Commit succeeded
    SafeFileWriter(SafeFileWriter&& other) noexcept;
    SafeFileWriter& operator=(SafeFileWriter&&) = delete;
    SafeFileWriter(const SafeFileWriter&) = delete;
    SafeFileWriter& operator=(const SafeFileWriter&) = delete;

    // Appends; a failure is kept and reported by Commit.
    void Write(const uint8_t* data, size_t size);
    // Flushes the file to the disk and puts it in the target's place. False
    // with the reason; the target is then as it was.
    bool Commit(std::string& error);

private:
    SafeFileWriter(std::string target, std::string temporary, std::FILE* file, bool force);
    using FileHandle = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

    std::string m_target;
    std::string m_temporary;
    FileHandle m_file;
    bool m_force;
    int m_writeError = 0;  // errno of the first failed write
    bool m_committed = false;
};

// Begin, one Write, Commit.
bool WriteFileSafely(const std::string& target, const std::vector<uint8_t>& bytes, bool force, std::string& error);

}  // namespace keluflash::cli
