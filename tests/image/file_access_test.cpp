// The file system's side of the image layer, on the system the test runs on
// (POSIX calls on Linux, ANSI Win32 calls under Wine).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "image/file_access.h"
#include "tests/support/temp_dir.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace keluflash {
namespace {

// The null device: a device on every system, harmless to open.
#ifdef _WIN32
constexpr const char* kNullDevice = "NUL";
#else
constexpr const char* kNullDevice = "/dev/null";
#endif

TEST(FileAccess, WhatAPathNames) {
    const test::TempDir dir;
    const std::string file = dir.Write("image.kfs", {1, 2, 3});
    std::filesystem::create_directory(dir.File("folder"));
    struct Case {
        std::string path;
        FileKind kind;
        bool opens;
    };
    std::vector<Case> cases = {
        {file, FileKind::Regular, true},
        {dir.File("folder"), FileKind::Directory, false},
        {dir.File("missing.kfs"), FileKind::Missing, false},
        {kNullDevice, FileKind::Device, false},
    };
#ifndef _WIN32
    // A FIFO is refused at once, never waited on for a writer.
    const std::string fifo = dir.File("fifo.kfs");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    cases.push_back({fifo, FileKind::Fifo, false});
#endif
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(KindOf(c.path), c.kind);
        EXPECT_EQ(OpenReadableFile(c.path) != nullptr, c.opens);
        EXPECT_EQ(StampOf(c.path).has_value(), c.opens);
    }
}

TEST(FileAccess, ReadsSeeksAndStamps) {
    const test::TempDir dir;
    std::vector<uint8_t> bytes(70000);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
    const std::string file = dir.Write("image.kfs", bytes);

    const auto stamp = StampOf(file);
    ASSERT_TRUE(stamp);
    EXPECT_EQ(stamp->size, bytes.size());

    const auto reader = OpenReadableFile(file);
    ASSERT_TRUE(reader);
    std::vector<uint8_t> got(bytes.size() + 10);
    EXPECT_EQ(reader->Read(got.data(), got.size()), bytes.size());  // short at the end
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), got.begin()));
    ASSERT_TRUE(reader->Seek(65536));
    uint8_t four[4] = {};
    EXPECT_EQ(reader->Read(four, 4), 4u);
    EXPECT_EQ(four[3], bytes[65539]);
    ASSERT_TRUE(reader->Seek(bytes.size() + 100));  // past the end: allowed, nothing to read
    EXPECT_EQ(reader->Read(four, 4), 0u);

    // A file rewritten with other contents and another time has another stamp.
    dir.Write("image.kfs", {9});
    std::filesystem::last_write_time(file, std::filesystem::last_write_time(file) + std::chrono::hours(1));
    const auto changed = StampOf(file);
    ASSERT_TRUE(changed);
    EXPECT_EQ(changed->size, 1u);
    EXPECT_NE(changed->modified, stamp->modified);
}

}  // namespace
}  // namespace keluflash
