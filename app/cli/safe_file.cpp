#include "app/cli/safe_file.h"

#include <cerrno>
#include <filesystem>
#include <random>
#include <system_error>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "drive/errno_text.h"

namespace keluflash::cli {

namespace fs = std::filesystem;

namespace {

constexpr const char* kForceHint = "it exists (pass --force to replace it)";

// The longest name most file systems take (ext4, NTFS, FAT's long names).
constexpr size_t kMaxNameBytes = 255;

std::string TemporaryName(const fs::path& target) {
    std::random_device random;
    const auto suffix = std::to_string(random()) + std::to_string(random());
    // Any name the target may have must leave room for the temporary one:
    // the target's part is cut (at a character's start) to fit.
    std::string base = target.filename().string();
    const size_t room = kMaxNameBytes - 1 - 6 - suffix.size();
    if (base.size() > room) {
        size_t cut = room;
        while (cut > 0 && (static_cast<unsigned char>(base[cut]) & 0xC0) == 0x80) --cut;
        base.resize(cut);
    }
    // Appended piece by piece: GCC 12 warns (-Wrestrict) on "." + string.
    std::string name = ".";
    name += base;
    name += ".part-";
    name += suffix;
    return (target.parent_path() / name).string();
}

// Creates `path` for writing; fails when it exists already.
std::FILE* CreateNew(const std::string& path) {
#ifdef _WIN32
    if (fs::exists(path)) {
        errno = EEXIST;
        return nullptr;
    }
    return std::fopen(path.c_str(), "wb");
#else
    return std::fopen(path.c_str(), "wbx");
#endif
}

}  // namespace

SafeFileWriter::SafeFileWriter(std::string target, std::string temporary, std::FILE* file, bool force)
    : m_target(std::move(target)), m_temporary(std::move(temporary)), m_file(file, &std::fclose), m_force(force) {}

SafeFileWriter::SafeFileWriter(SafeFileWriter&& other) noexcept
    : m_target(std::move(other.m_target)),
      m_temporary(std::move(other.m_temporary)),
      m_file(std::move(other.m_file)),
      m_force(other.m_force),
      m_writeError(other.m_writeError),
      m_committed(other.m_committed) {
    other.m_committed = true;  // the moved-from writer owns no file
}

SafeFileWriter::~SafeFileWriter() {
    if (m_committed) return;
    m_file.reset();
    std::error_code ignored;
    fs::remove(m_temporary, ignored);
}

std::optional<SafeFileWriter> SafeFileWriter::Begin(const std::string& target, bool force, std::string& error) {
    std::error_code statusError;
    const fs::file_status status = fs::status(target, statusError);
    if (fs::exists(status)) {
        if (fs::is_directory(status)) {
            error = "cannot write " + target + ": " + ErrnoText(EISDIR);
            return std::nullopt;
        }
        if (!fs::is_regular_file(status)) {
            error = "cannot write " + target + ": not a regular file";
            return std::nullopt;
        }
        if (!force) {
            error = "cannot write " + target + ": " + kForceHint;
            return std::nullopt;
        }
    }
    const fs::path path(target);
    const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
    if (!fs::is_directory(folder, statusError)) {
        error = "cannot write " + target + ": " + ErrnoText(ENOENT) + " (the folder " + folder.string() + ")";
        return std::nullopt;
    }
    const std::string temporary = TemporaryName(path);
    errno = 0;
    std::FILE* file = CreateNew(temporary);
    if (file == nullptr) {
        error = "cannot create a file in " + folder.string() + ": " + ErrnoText(errno != 0 ? errno : EACCES);
        return std::nullopt;
    }
    return SafeFileWriter(target, temporary, file, force);
}

void SafeFileWriter::Write(const uint8_t* data, size_t size) {
    if (m_writeError != 0 || size == 0) return;
    errno = 0;
    if (std::fwrite(data, 1, size, m_file.get()) != size) m_writeError = errno != 0 ? errno : EIO;
}

bool SafeFileWriter::Commit(std::string& error) {
    const auto fail = [&](int number) {
        error = "cannot write " + m_target + ": " + ErrnoText(number != 0 ? number : EIO);
        return false;
    };
    if (m_writeError != 0) return fail(m_writeError);
    errno = 0;
    if (std::fflush(m_file.get()) != 0) return fail(errno);
#ifndef _WIN32
    // The data reaches the disk before the name does.
    if (::fsync(fileno(m_file.get())) != 0 && errno != EINVAL) return fail(errno);
#endif
    std::FILE* file = m_file.release();
    errno = 0;
    if (std::fclose(file) != 0) return fail(errno);

    std::error_code renameError;
    if (!m_force) {
        // A link fails when the name was taken meanwhile, where a rename
        // would replace what someone else just wrote.
        fs::create_hard_link(m_temporary, m_target, renameError);
        if (!renameError) {
            fs::remove(m_temporary, renameError);
            m_committed = true;
            return true;
        }
        if (renameError == std::errc::file_exists) {
            error = "cannot write " + m_target + ": " + kForceHint;
            return false;
        }
        // File systems without links: the check in Begin has to do.
        if (fs::exists(m_target)) {
            error = "cannot write " + m_target + ": " + kForceHint;
            return false;
        }
    }
    fs::rename(m_temporary, m_target, renameError);
    if (renameError) {
        error = "cannot write " + m_target + ": " + renameError.message();
        return false;
    }
    m_committed = true;
    return true;
}

bool WriteFileSafely(const std::string& target, const std::vector<uint8_t>& bytes, bool force, std::string& error) {
    std::optional<SafeFileWriter> writer = SafeFileWriter::Begin(target, force, error);
    if (!writer) return false;
    writer->Write(bytes.data(), bytes.size());
    return writer->Commit(error);
}

}  // namespace keluflash::cli
