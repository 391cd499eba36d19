// The five checks against a simulated drive.
#include "flash/compatibility_checks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "drive/atapi.h"
#include "drive/sim/simulated_windows_machine.h"
#include "tests/support/recording_report.h"
#include "tests/support/recording_ui.h"

namespace keluflash::test {
namespace {

struct DriveIdentity {
    std::string vendor = "KELU";
    std::string product = "ZXR-0131K";
    std::array<uint8_t, 2> firmwareId{0x4B, 0x31};
    bool inquiryFails = false;
};

// A machine with one drive; INQUIRY commands sent by a check are counted.
class CheckBench {
public:
    explicit CheckBench(const DriveIdentity& identity) : m_machine(Config(identity), m_ui), m_atapi(m_machine.DriveTransport(), m_machine.Ui()) {
        Drive().ClearCommands();
        if (identity.inquiryFails) {
            CommandFault fault;
            fault.opcode = 0x12;
            Drive().MutableConfig().faults.push_back(fault);
        }
    }
    TAtapi& Atapi() { return m_atapi; }
    SimulatedDrive& Drive() { return m_machine.Drive(0); }
    size_t Inquiries() {
        return static_cast<size_t>(std::count_if(Drive().Commands().begin(), Drive().Commands().end(),
                                                 [](const RecordedCommand& c) { return c.cdb[0] == 0x12; }));
    }

private:
    static SimulatedMachineConfig Config(const DriveIdentity& identity) {
        SimulatedMachineConfig config;
        config.drives[0].vendor = identity.vendor;
        config.drives[0].product = identity.product;
        config.drives[0].firmwareId = identity.firmwareId;
        return config;
    }
    RecordingUi m_ui;
    SimulatedWindowsMachine m_machine;
    TAtapi m_atapi;
};

constexpr std::array<uint8_t, 2> kW0{'W', '0'};

// The drives the documentation names, written out here rather than taken
// from the program's lists, so that a changed entry there fails.
constexpr std::array<std::string_view, 10> kDocumentedProducts{
    "DVD-ROM M100", "ZXR-0110K", "ZXR-0120K", "ZXR-0131K", "ZXR-0140K",
    "ZXR-0150K",    "ZXR-0151K", "ZXR-0160K", "ZXB-0110",  "ZXB-0120"};
constexpr std::array<std::string_view, 6> kDocumentedFamily{"ZXR-0110K", "ZXR-0120K", "ZXR-0130K",
                                                            "ZXR-0140K", "ZXR-0150K", "ZXR-0160K"};

// A product identification as the drive reports it: 16 characters, padded
// with spaces.
std::string Padded(std::string_view product) {
    std::string text(product);
    text.resize(16, ' ');
    return text;
}

TEST(CheckDriveFamily, Cases) {
    struct Case {
        std::string name;
        DriveIdentity drive;
        std::array<uint8_t, 2> imageId;
        std::optional<std::string> line;  // none: passes
        size_t inquiries;
    };
    const std::vector<Case> cases{
        {"W0 drive in the family list", {"KELU", "ZXR-0130K", kW0}, {0x11, 0x22}, std::nullopt, 1},
        {"W0 drive of ZXR-0151K, though a supported product", {"KELU", "ZXR-0151K", kW0}, {0x11, 0x22},
         kMessageFamilyRefused, 1},
        {"W0 comparison covers 17 characters only", {"KELU", "ZXR-0110K-EXTRA", kW0}, kW0, std::nullopt, 1},
        {"W0 vendor in lower case", {"kelu", "ZXR-0110K", kW0}, kW0, kMessageFamilyRefused, 1},
        {"other drive, same firmware id", {"KELU", "ZXR-0131K", {0x4B, 0x31}}, {0x4B, 0x31}, std::nullopt, 2},
        {"other drive, other firmware id", {"KELU", "ZXR-0131K", {0x4B, 0x31}}, {0x4B, 0x32},
         kMessageFirmwareIdRefused, 2},
        {"W but not 0", {"KELU", "ZXR-0130K", {'W', '1'}}, {'W', '1'}, std::nullopt, 2},
        {"failed INQUIRY reads 00 00, image 00 00", {"KELU", "ZXR-0131K", {0x4B, 0x31}, true}, {0, 0},
         std::nullopt, 2},
        {"failed INQUIRY reads 00 00, image 4B 31", {"KELU", "ZXR-0131K", {0x4B, 0x31}, true}, {0x4B, 0x31},
         kMessageFirmwareIdRefused, 2},
    };
    for (const Case& c : cases) {
        CheckBench bench(c.drive);
        RecordingReport report;
        EXPECT_EQ(CheckDriveFamily(bench.Atapi(), c.imageId, report), !c.line.has_value()) << c.name;
        EXPECT_EQ(report.messages, c.line ? std::vector<std::string>{*c.line} : std::vector<std::string>{}) << c.name;
        EXPECT_EQ(bench.Inquiries(), c.inquiries) << c.name;
    }
}

TEST(CheckDriveFamily, EveryDocumentedFamilyModelPassesWhateverTheImagesId) {
    for (const std::string_view model : kDocumentedFamily) {
        CheckBench bench({"KELU", Padded(model), kW0});
        RecordingReport report;
        EXPECT_TRUE(CheckDriveFamily(bench.Atapi(), {0x11, 0x22}, report)) << model;
        EXPECT_EQ(report.messages, std::vector<std::string>{}) << model;
    }
}

TEST(CheckFirmwareIdBytes, ComparesBothBytesOfAFreshInquiry) {
    CheckBench bench({});
    RecordingReport report;
    EXPECT_TRUE(CheckFirmwareIdBytes(bench.Atapi(), {0x4B, 0x31}, report));
    EXPECT_FALSE(CheckFirmwareIdBytes(bench.Atapi(), {0x31, 0x4B}, report));
    bench.Drive().MutableConfig().firmwareId = {0x31, 0x4B};  // a new identity after a flash
    EXPECT_TRUE(CheckFirmwareIdBytes(bench.Atapi(), {0x31, 0x4B}, report));
    EXPECT_EQ(report.messages, std::vector<std::string>{"Err:The firmware is not support this device!!(4)"});
    EXPECT_EQ(bench.Inquiries(), 3u);
}

TEST(CheckVendor, FirstFourCharacters) {
    const std::vector<std::pair<std::string, bool>> cases{
        {"KELU    ZXR-0131K       ", true}, {"KELUABCDZXR-0131K       ", true}, {"kelu    ZXR-0131K       ", false},
        {"KEL", false},                     {"", false},                         {"XKELU", false}};
    for (const auto& [text, pass] : cases) {
        RecordingReport report;
        EXPECT_EQ(CheckVendor(text, report), pass) << text;
        EXPECT_EQ(report.messages.size(), pass ? 0u : 1u);
        if (!pass) {
            EXPECT_EQ(report.messages[0], "The Firmware isn't support this device !!(6)");
        }
    }
}

TEST(CheckSupportedModel, SixteenCharactersFromPositionEight) {
    std::vector<std::pair<std::string, bool>> cases;
    for (const std::string_view product : kDocumentedProducts) cases.emplace_back("KELU    " + Padded(product) + " 1.00", true);
    cases.insert(cases.end(), {
        {"KELU    ZXR-0130K        1.00", false},                        // the family's ZXR-0130K is not supported
        {std::string("KELU    ZXR-0131K\0\0\0\0\0\0\0 1.00", 29), false},  // padded with 00
        {"KELU    zxr-0131k        1.00", false},
        {"KELU    ZXR-0131K", false},                                     // line ends early
        {"KELU", false},
        {"ABCDEFGHZXR-0131K        ", true},                              // the vendor part is not looked at
    });
    for (const auto& [text, pass] : cases) {
        RecordingReport report;
        EXPECT_EQ(CheckSupportedModel(text, report), pass) << text;
        EXPECT_EQ(report.messages, pass ? std::vector<std::string>{}
                                     : std::vector<std::string>{"The Firmware isn't support this device !!(2)"});
    }
}

TEST(CheckModelMatch, TwentyFourCharactersRevisionIgnored) {
    const std::string drive = "KELU    ZXR-0131K       ";
    const std::vector<std::pair<std::string, bool>> cases{
        {"KELU    ZXR-0131K       1.00", true},
        {"KELU    ZXR-0131K       2.10", true},
        {"KELU    ZXR-0131K       ", true},
        {"KELU    ZXR-0131K", false},  // ends early: 00 against a space
        {"KELU    ZXR-0140K       1.00", false},
        {"", false},
    };
    for (const auto& [model, pass] : cases) {
        RecordingReport report;
        EXPECT_EQ(CheckModelMatch(model, drive, report), pass) << model;
        EXPECT_EQ(report.messages, pass ? std::vector<std::string>{}
                                     : std::vector<std::string>{"The Firmware isn't support this device !!(3)"});
    }
}

TEST(Checks, FamilyDrivePassesFamilyButNotTheProductList) {
    CheckBench bench({"KELU", "ZXR-0130K", kW0});
    RecordingReport report;
    EXPECT_TRUE(CheckDriveFamily(bench.Atapi(), {0, 0}, report));
    const std::string listText = bench.Atapi().Device(0).IdentificationText() + " " +
                                 bench.Atapi().Device(0).RevisionText();
    EXPECT_TRUE(CheckVendor(bench.Atapi().Device(0).IdentificationText(), report));
    EXPECT_FALSE(CheckSupportedModel(listText, report));
    EXPECT_EQ(report.messages, std::vector<std::string>{"The Firmware isn't support this device !!(2)"});
}

}  // namespace
}  // namespace keluflash::test
