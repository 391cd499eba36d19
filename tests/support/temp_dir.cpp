#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <system_error>

namespace keluflash::test {

TempDir::TempDir() {
    // Named after the test; the first name nobody holds, so two programs
    // running the same test at once get folders of their own.
    static std::atomic<unsigned> counter{0};
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = "keluflash";
    if (info != nullptr) name += std::string("-") + info->test_suite_name() + "-" + info->name();
    for (char& c : name)
        if (c == '/') c = '_';
    const auto base = std::filesystem::temp_directory_path();
    for (;;) {
        m_path = base / (name + "-" + std::to_string(counter++));
        if (std::filesystem::create_directory(m_path)) break;
    }
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

std::string TempDir::Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    const std::string path = File(name);
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    file.close();
    EXPECT_TRUE(file.good()) << "cannot write " << path;
    return path;
}

}  // namespace keluflash::test
