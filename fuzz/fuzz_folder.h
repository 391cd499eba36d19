#pragma once
// One private temporary folder for a fuzz run's files, removed at exit.
#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>

namespace keluflash::fuzz {

class FuzzFolder {
public:
    explicit FuzzFolder(const std::string& prefix) {
        const auto base = std::filesystem::temp_directory_path();
        for (unsigned n = 0;; ++n) {
            m_path = base / (prefix + std::to_string(reinterpret_cast<uintptr_t>(this) ^ n) + "-" + std::to_string(n));
            std::error_code error;
            if (std::filesystem::create_directory(m_path, error)) break;
        }
    }
    ~FuzzFolder() {
        std::error_code error;
        std::filesystem::remove_all(m_path, error);
    }
    FuzzFolder(const FuzzFolder&) = delete;
    FuzzFolder& operator=(const FuzzFolder&) = delete;
    std::string File(const std::string& name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

}  // namespace keluflash::fuzz
