#pragma once
// Shared by the image tests: a report that records its lines and a private
// temporary folder for image files.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include <gtest/gtest.h>

#include "image/operator_report.h"
#include "image/image_writer.h"

namespace keluflash::test {

class RecordingReport : public OperatorReport {
public:
    void AddMessage(std::string_view text) override { lines.emplace_back(text); }
    void SetProgress(int value) override { progress.push_back(value); }
    std::vector<std::string> lines;
    std::vector<int> progress;
};

// A folder that disappears with the object.
class TempFolder {
public:
    TempFolder() {
        static int counter = 0;
        const auto base = std::filesystem::temp_directory_path();
        for (;;) {
            m_path = base / ("keluflash-image-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                             "-" + std::to_string(reinterpret_cast<uintptr_t>(this)) + "-" + std::to_string(counter++));
            std::error_code error;
            if (std::filesystem::create_directory(m_path, error)) break;
        }
    }
    ~TempFolder() {
        std::error_code error;
        std::filesystem::remove_all(m_path, error);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    std::string Path(const std::string& name) const { return (m_path / name).string(); }
    // Writes the bytes and returns the file's path.
    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
        std::string error;
        const std::string path = Path(name);
        EXPECT_TRUE(SaveImageFile(path, bytes, error)) << error;
        return path;
    }

private:
    std::filesystem::path m_path;
};

}  // namespace keluflash::test
