// TAtapi over the Linux ports, with a fake kernel behind SG_IO and a sysfs
// fixture: the drive scan and a command go the whole way down and back.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "drive/atapi.h"
#include "drive/linux/linux_drive_letters.h"
#include "drive/linux/linux_system_ports.h"
#include "drive/linux/sg_io_pass_through.h"
#include "drive/sim/virtual_clock.h"

namespace keluflash {
namespace {

namespace fs = std::filesystem;

class RecordingUi final : public UserInterface {
public:
    std::vector<std::string> boxes;
    void PumpMessage() override {}
    void ProcessMessages() override {}
    int MessageBox(const std::string& text, const std::string&, unsigned) override {
        boxes.push_back(text);
        return kIdOk;
    }
};

// Answers INQUIRY with a KELU identity and TEST UNIT READY with NOT READY.
class FakeKernel final : public SgIoCall {
public:
    int Run(int, sg_io_hdr_t& header) override {
        if (header.cmdp[0] == 0x12) {
            std::vector<uint8_t> inquiry(36, 0);
            inquiry[0] = 0x05;
            std::memcpy(&inquiry[8], "KELU    ZXR-0131K       1.00", 28);
            std::memcpy(header.dxferp, inquiry.data(), std::min<size_t>(header.dxfer_len, inquiry.size()));
            return 0;
        }
        const uint8_t sense[18] = {0x70, 0, 0x02, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x3A, 0x00};
        std::memcpy(header.sbp, sense, std::min<size_t>(header.mx_sb_len, sizeof(sense)));
        header.sb_len_wr = static_cast<unsigned char>(std::min<size_t>(header.mx_sb_len, sizeof(sense)));
        header.status = 0x02;
        header.driver_status = 0x08;
        return 0;
    }
};

TEST(LinuxTAtapi, ScansTheDrivesAndCarriesStatusAndSense) {
    const fs::path root = fs::path(testing::TempDir()) / ("keluflash-atapi-" + std::to_string(::getpid()));
    fs::remove_all(root);
    for (const auto& [block, sg] : {std::pair{"sr0", "sg1"}, std::pair{"sr1", "sg2"}}) {
        const fs::path device = root / "sys" / "class" / "block" / block / "device";
        fs::create_directories(device / "scsi_generic" / sg);
        std::ofstream(device / "type") << "5\n";
    }
    fs::create_directories(root / "dev");
    std::ofstream(root / "dev" / "sg1") << "";
    // The second drive refuses us both its nodes.
    const std::string refused = (root / "dev" / "sg2").string();
    OpenNode open = [&](const std::string& path) {
        return path == refused || path == (root / "dev" / "sr1").string() ? -EACCES : OpenDeviceNode(path);
    };

    LinuxPlatformPort platform;
    NoAspiPort aspi;
    LinuxDriveLetters letters(root / "sys", root / "dev", open);
    FakeKernel kernel;
    SgIoPassThroughPort passThrough(letters, kernel);
    StrerrorText errorText;
    RecordingUi ui;
    VirtualClock clock;
    {
        TAtapi atapi(DrivePorts{platform, aspi, passThrough, letters, errorText, ui, clock});
        ASSERT_EQ(atapi.DeviceCount(), 1);
        EXPECT_TRUE(atapi.NtFlag());
        EXPECT_EQ(atapi.Device(0).IdentificationText(), "KELU    ZXR-0131K       ");
        EXPECT_EQ(atapi.Device(0).RevisionText(), "1.00");
        EXPECT_EQ(letters.OpenFailure('B'), "permission denied: run as root or with access to " + refused);

        EXPECT_EQ(atapi.TestUnitReady(), 2);
        EXPECT_EQ(atapi.LastSense(), (SenseTriple{0x02, 0x3A, 0x00}));
        EXPECT_TRUE(ui.boxes.empty());
    }
    fs::remove_all(root);
}

}  // namespace
}  // namespace keluflash
