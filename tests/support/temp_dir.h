#pragma once
// A folder of its own for one test, removed with everything in it.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace keluflash::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string File(const std::string& name) const { return (m_path / name).string(); }
    // Writes the bytes to a file of the folder (the test fails when it
    // cannot) and returns its path.
    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const;

private:
    std::filesystem::path m_path;
};

}  // namespace keluflash::test
