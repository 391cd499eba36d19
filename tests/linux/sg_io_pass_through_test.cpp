#include "drive/linux/sg_io_pass_through.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstring>
#include <functional>
#include <vector>

namespace keluflash {
namespace {

constexpr DeviceHandle kHandle = 7;
constexpr int kFd = 7;

class OneDrive final : public DescriptorTable {
public:
    int Descriptor(DeviceHandle handle) const override { return handle == kHandle ? kFd : -1; }
};

// Answers for the kernel: records what it was asked and plays one outcome.
class FakeSgIo final : public SgIoCall {
public:
    std::function<int(sg_io_hdr_t&)> answer = [](sg_io_hdr_t&) { return 0; };
    int calls = 0;
    int fd = -1;
    sg_io_hdr_t seen{};
    std::array<uint8_t, 16> cdb{};

    int Run(int descriptor, sg_io_hdr_t& header) override {
        ++calls;
        fd = descriptor;
        seen = header;
        std::memcpy(cdb.data(), header.cmdp, std::min<size_t>(header.cmd_len, cdb.size()));
        return answer(header);
    }
};

// The request as the transport fills it before DeviceIoControl.
PassThroughBuffer Request(uint8_t dataIn, void* data, uint32_t length) {
    const uint8_t cdb[12] = {0x12, 0, 0, 0, 0x32, 0, 0, 0, 0, 0, 0, 0xAB};
    return MakePassThroughRequest(cdb, data, length, dataIn);
}

class SgIoPassThroughTest : public testing::Test {
protected:
    OneDrive drives;
    FakeSgIo kernel;
    SgIoPassThroughPort port{drives, kernel};
    std::vector<uint8_t> data = std::vector<uint8_t>(50);
};

TEST_F(SgIoPassThroughTest, TranslatesDirectionLengthTimeoutCdbAndSenseArea) {
    struct Case {
        uint8_t dataIn;
        int direction;
        uint32_t length;
        uint32_t expectedLength;
        bool expectBuffer;
    };
    const Case cases[] = {
        {kScsiIoctlDataOut, SG_DXFER_TO_DEV, 50, 50, true},
        {kScsiIoctlDataIn, SG_DXFER_FROM_DEV, 50, 50, true},
        // No data: nothing moves whatever the length says.
        {kScsiIoctlDataUnspecified, SG_DXFER_NONE, 50, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.dataIn));
        PassThroughBuffer buffer = Request(c.dataIn, data.data(), c.length);
        uint32_t error = 0;
        ASSERT_TRUE(port.DeviceIoControl(kHandle, buffer, error));
        EXPECT_EQ(kernel.fd, kFd);
        EXPECT_EQ(kernel.seen.interface_id, 'S');
        EXPECT_EQ(kernel.seen.dxfer_direction, c.direction);
        EXPECT_EQ(kernel.seen.dxfer_len, c.expectedLength);
        EXPECT_EQ(kernel.seen.dxferp, c.expectBuffer ? static_cast<void*>(data.data()) : nullptr);
        EXPECT_EQ(kernel.seen.timeout, 20000u);
        EXPECT_EQ(kernel.seen.cmd_len, 12);
        EXPECT_EQ(kernel.cdb[0], 0x12);
        EXPECT_EQ(kernel.cdb[11], 0xAB);
        EXPECT_EQ(kernel.seen.sbp, buffer.sense);
        EXPECT_EQ(kernel.seen.mx_sb_len, 24);
    }
}

TEST_F(SgIoPassThroughTest, LargeTransfersAndTimeoutsTravelWhole) {
    std::vector<uint8_t> patch(65536);
    PassThroughBuffer buffer = Request(kScsiIoctlDataIn, patch.data(), 65536);
    buffer.spt.TimeOutValue = 0xFFFFFFFFu;  // would overflow in milliseconds
    uint32_t error = 0;
    ASSERT_TRUE(port.DeviceIoControl(kHandle, buffer, error));
    EXPECT_EQ(kernel.seen.dxfer_len, 65536u);
    EXPECT_EQ(kernel.seen.timeout, UINT_MAX);
}

TEST_F(SgIoPassThroughTest, MapsTheKernelsAnswer) {
    const std::array<uint8_t, 18> sense = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0x01};
    struct Case {
        const char* name;
        int ioctlError;
        uint8_t status;
        uint16_t host;
        uint16_t driver;
        bool writesSense;
        bool result;
        uint32_t lastError;      // when result is false
        uint8_t scsiStatus;      // when the call went through
    };
    const Case cases[] = {
        {"good", 0, 0, 0, 0, false, true, 0, 0},
        {"check condition with sense", 0, 2, 0, 0x08, true, true, 0, 2},
        {"sense through the driver byte only", 0, 0, 0, 0x08, true, true, 0, 2},
        {"busy", 0, 8, 0, 0, false, true, 0, 8},
        {"ioctl refused", EACCES, 0, 0, 0, false, false, EACCES, 0},
        {"ioctl not a sg device", ENOTTY, 0, 0, 0, false, false, ENOTTY, 0},
        {"errno with the time-out's number", EREMOTEIO, 0, 0, 0, false, false, EIO, 0},
        {"host time-out", 0, 0, 0x03, 0, false, false, kErrorSemTimeout, 0},
        {"driver time-out", 0, 0, 0, 0x06, false, false, kErrorSemTimeout, 0},
        {"host lost the device", 0, 0, 0x01, 0, false, false, kErrorIoDevice, 0},
        {"host error", 0, 0, 0x07, 0, false, false, kErrorIoDevice, 0},
        {"driver error", 0, 0, 0, 0x04, false, false, kErrorIoDevice, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        kernel.answer = [&](sg_io_hdr_t& header) {
            if (c.ioctlError != 0) {
                return c.ioctlError;
            }
            header.status = c.status;
            header.host_status = c.host;
            header.driver_status = c.driver;
            if (c.writesSense) {
                const size_t n = std::min<size_t>(header.mx_sb_len, sense.size());
                std::memcpy(header.sbp, sense.data(), n);
                header.sb_len_wr = static_cast<unsigned char>(n);
            }
            return 0;
        };
        PassThroughBuffer buffer = Request(kScsiIoctlDataIn, data.data(), 50);
        uint32_t error = 0;
        EXPECT_EQ(port.DeviceIoControl(kHandle, buffer, error), c.result);
        if (!c.result) {
            EXPECT_EQ(error, c.lastError);
        }
        EXPECT_EQ(buffer.spt.ScsiStatus, c.scsiStatus);
        if (c.writesSense) {
            EXPECT_EQ(buffer.sense[2], 0x05);
            EXPECT_EQ(buffer.sense[12], 0x24);
            EXPECT_EQ(buffer.sense[13], 0x01);
        } else {
            EXPECT_EQ(buffer.sense[2], 0);
        }
    }
}

TEST_F(SgIoPassThroughTest, HostErrorKeepsTheStatusTheDeviceGave) {
    kernel.answer = [](sg_io_hdr_t& header) {
        header.status = 2;
        header.host_status = 0x03;
        return 0;
    };
    PassThroughBuffer buffer = Request(kScsiIoctlDataIn, data.data(), 50);
    uint32_t error = 0;
    EXPECT_FALSE(port.DeviceIoControl(kHandle, buffer, error));
    EXPECT_EQ(error, kErrorSemTimeout);
    EXPECT_EQ(buffer.spt.ScsiStatus, 2);
}

TEST_F(SgIoPassThroughTest, RefusesRequestsItCannotHonourWithoutCallingTheKernel) {
    struct Case {
        const char* name;
        DeviceHandle handle;
        std::function<void(PassThroughBuffer&)> spoil;
        uint32_t lastError;
    };
    const Case cases[] = {
        {"no drive behind handle 0", 0, [](PassThroughBuffer&) {}, EBADF},
        {"handle never opened", 8, [](PassThroughBuffer&) {}, EBADF},
        {"unknown direction", kHandle, [](PassThroughBuffer& b) { b.spt.DataIn = 3; }, EINVAL},
        {"no CDB", kHandle, [](PassThroughBuffer& b) { b.spt.CdbLength = 0; }, EINVAL},
        {"CDB longer than its field", kHandle, [](PassThroughBuffer& b) { b.spt.CdbLength = 17; }, EINVAL},
        {"data without a buffer", kHandle, [](PassThroughBuffer& b) { b.spt.DataBuffer = nullptr; }, EINVAL},
        {"sense area over the request", kHandle, [](PassThroughBuffer& b) { b.spt.SenseInfoOffset = 8; }, EINVAL},
        {"sense area past the end", kHandle,
         [](PassThroughBuffer& b) { b.spt.SenseInfoOffset = sizeof(PassThroughBuffer) - 8; }, EINVAL},
        {"sense offset far outside", kHandle, [](PassThroughBuffer& b) { b.spt.SenseInfoOffset = 0xFFFFFFF0u; },
         EINVAL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PassThroughBuffer buffer = Request(kScsiIoctlDataIn, data.data(), 50);
        c.spoil(buffer);
        uint32_t error = 0;
        EXPECT_FALSE(port.DeviceIoControl(c.handle, buffer, error));
        EXPECT_EQ(error, c.lastError);
    }
    EXPECT_EQ(kernel.calls, 0);
}

TEST_F(SgIoPassThroughTest, NoSenseAreaAsksForNoSense) {
    PassThroughBuffer buffer = Request(kScsiIoctlDataUnspecified, nullptr, 0);
    buffer.spt.SenseInfoLength = 0;
    buffer.spt.SenseInfoOffset = 0;
    uint32_t error = 0;
    ASSERT_TRUE(port.DeviceIoControl(kHandle, buffer, error));
    EXPECT_EQ(kernel.seen.sbp, nullptr);
    EXPECT_EQ(kernel.seen.mx_sb_len, 0);
}

}  // namespace
}  // namespace keluflash
