#include "app/cli/file_checks.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

#include "drive/errno_text.h"

namespace keluflash::cli {

namespace fs = std::filesystem;

std::optional<std::string> ReadProblem(const std::string& path) {
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (error) return error.message();
    if (fs::is_directory(status)) return ErrnoText(EISDIR);
    if (!fs::is_regular_file(status)) return std::string("not a regular file");
    errno = 0;
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file) return ErrnoText(errno != 0 ? errno : EACCES);
    return std::nullopt;
}

bool SameFile(const std::string& a, const std::string& b) {
    std::error_code error;
    if (fs::equivalent(a, b, error)) return true;
    const fs::path first = fs::weakly_canonical(a, error);
    if (error) return false;
    const fs::path second = fs::weakly_canonical(b, error);
    return !error && first == second;
}

std::optional<std::string> ImageFileProblem(const std::string& fileName) {
    if (const std::optional<std::string> why = ReadProblem(fileName)) return "cannot read " + fileName + ": " + *why;
    std::error_code error;
    if (std::filesystem::file_size(fileName, error) == 0 && !error) return fileName + " is empty";
    return std::nullopt;
}

}  // namespace keluflash::cli
