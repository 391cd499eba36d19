#include "drive/linux/linux_system_ports.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace keluflash {
namespace {

TEST(StrerrorText, GivesTheSystemTextWhenItFits) {
    StrerrorText text;
    uint32_t formatError = 0;
    EXPECT_EQ(text.FormatMessage(EACCES, 80, formatError), "Permission denied");
    EXPECT_EQ(formatError, 0u);

    const std::string full = SystemErrorMessage(EACCES);
    EXPECT_EQ(text.FormatMessage(EACCES, full.size() + 1, formatError), full);
    // No room for the terminating zero: formatting fails with its own error.
    EXPECT_EQ(text.FormatMessage(EACCES, full.size(), formatError), std::nullopt);
    EXPECT_EQ(formatError, static_cast<uint32_t>(ERANGE));
}

TEST(StrerrorText, UnknownNumbersStillHaveAText) {
    EXPECT_NE(SystemErrorMessage(123456).find("123456"), std::string::npos);
    StrerrorText text;
    uint32_t formatError = 0;
    EXPECT_TRUE(text.FormatMessage(0xFFFFFFFFu, 80, formatError).has_value());
}

TEST(LinuxSystemPorts, PassThroughPathAndNoAspi) {
    LinuxPlatformPort platform;
    EXPECT_TRUE(platform.IsNtFamily());
    NoAspiPort aspi;
    EXPECT_EQ(aspi.SystemDirectory(50), std::nullopt);
    EXPECT_EQ(aspi.LoadLibrary("C:\\WINDOWS\\SYSTEM\\WNASPI32.DLL"), nullptr);
    EXPECT_EQ(aspi.CreateEvent(), nullptr);
}

}  // namespace
}  // namespace keluflash
