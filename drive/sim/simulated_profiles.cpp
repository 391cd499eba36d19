// The named simulated set-ups that --simulate[=NAME] and the demo offer.
#include "drive/scsi_opcodes.h"
#include "drive/sim/simulated_machine.h"

namespace keluflash {

namespace {

SimulatedMachineConfig OneDrive(SimulatedDriveConfig drive) {
    SimulatedMachineConfig config;
    config.drives = {std::move(drive)};
    return config;
}

std::vector<SimulatedProfile> MakeProfiles() {
    std::vector<SimulatedProfile> profiles;

    profiles.push_back({"default", "a KELU ZXR-0131K that takes the first method-A trigger", {}});

    SimulatedMachineConfig nt;
    nt.platform = SimulatedPlatform::WindowsNt;
    profiles.push_back({"nt", "the default drive at D:, reached by SCSI pass-through", nt});

    SimulatedDriveConfig methodB;
    methodB.acceptedTriggers = {{5, 0xF0}};
    methodB.rejectedTriggerSense = {5, 0x24, 0};
    methodB.takesWriteBuffer = true;
    profiles.push_back({"method-b",
                        "rejects every method-A trigger (5/24/00); takes WRITE BUFFER downloads and their trigger",
                        OneDrive(methodB)});

    SimulatedDriveConfig retry;
    retry.acceptedTriggers = {{5, 0xF0}};
    retry.triggerRejections = {{{5, 0xE0}, {5, 0x1A, 0}}};
    profiles.push_back({"method-a-retry",
                        "takes only the second retry of the method-A trigger (first retry answered 5/1A/00)",
                        OneDrive(retry)});

    SimulatedDriveConfig w0;
    w0.product = "ZXR-0130K";
    w0.firmwareId = {'W', '0'};
    profiles.push_back({"w0-family", "a W0-family ZXR-0130K (firmware id W0)", OneDrive(w0)});

    SimulatedDriveConfig unknown;
    unknown.product = "ZXR-0160K";
    unknown.revision = "2.10";
    unknown.firmwareId = {'Z', '9'};
    profiles.push_back({"unknown-model", "a ZXR-0160K with firmware id Z9, which no image fits", OneDrive(unknown)});

    SimulatedMachineConfig aspi;
    aspi.platform = SimulatedPlatform::Windows9x;
    aspi.windows.aspiPending = true;
    aspi.windows.aspiAddresses = {{0, 1, 0}};
    aspi.windows.aspiOtherDevices = {{{0, 0, 0}, 0}};
    profiles.push_back({"aspi",
                        "the drive behind ASPI at 0:1:0 (a disk at 0:0:0), requests completing later",
                        aspi});

    SimulatedMachineConfig noAspi;
    noAspi.platform = SimulatedPlatform::Windows9x;
    noAspi.windows.aspiInstalled = false;
    profiles.push_back({"no-aspi", "no WNASPI32.DLL installed", noAspi});

    SimulatedDriveConfig patch;
    patch.patchArea = SimulatedDriveConfig::PatchArea{0, 0x1000, 300};
    profiles.push_back({"patch-area", "reports a patch area (bank 0, 0x1000, 300 bytes) that differs from any image",
                        OneDrive(patch)});

    SimulatedDriveConfig noMedium;
    noMedium.mediumPresent = false;
    profiles.push_back({"no-medium", "no disc in the drive: TEST UNIT READY answers 2/3A/00", OneDrive(noMedium)});

    SimulatedDriveConfig neverReady;
    neverReady.neverReady = true;
    profiles.push_back({"never-ready", "takes the trigger and stays NOT READY for good", OneDrive(neverReady)});

    SimulatedDriveConfig second;
    second.product = "ZXR-0150K";
    second.revision = "1.10";
    second.firmwareId = {0x4B, 0x35};
    SimulatedMachineConfig two;
    two.drives = {SimulatedDriveConfig{}, second};
    profiles.push_back({"two-drives", "a ZXR-0131K and a ZXR-0150K (firmware id K5)", two});

    SimulatedMachineConfig lost;
    lost.faults = {{.opcode = kOpVendor, .vendorSubCode = kSubWriteBlock, .nth = 4, .kind = MachineFaultKind::DriveGone}};
    profiles.push_back({"lost-drive", "the drive disappears at the fourth block write", lost});
    // The faults where no answer comes, each of which must never read as
    // success: the update decides on what the drive answered.
    SimulatedMachineConfig triggerUnanswered;
    triggerUnanswered.faults = {{.opcode = 0x5A,
                                 .vendorSubCode = 0xA0,
                                 .nth = 9,
                                 .kind = MachineFaultKind::HostTimeOut,
                                 .executes = true}};
    profiles.push_back({"trigger-unanswered",
                        "the drive takes the trigger of an 8-block image, and the trigger's answer times out",
                        triggerUnanswered});
    SimulatedMachineConfig slowReady;
    slowReady.faults = {{.opcode = 0x00, .times = 3, .kind = MachineFaultKind::HostTimeOut}};
    profiles.push_back({"slow-ready", "the first three TEST UNIT READYs after the trigger time out, then the drive "
                                      "is ready",
                        slowReady});
    SimulatedMachineConfig blockTimeout;
    blockTimeout.faults = {{.opcode = 0x5A, .vendorSubCode = 0xA0, .nth = 3, .kind = MachineFaultKind::HostTimeOut}};
    profiles.push_back({"block-timeout", "the third block write times out and never reaches the drive", blockTimeout});
    // Two drives of one model; the INQUIRY of the first (selected) fails
    // after the scan, so the last answer the ASPI layer saw is the second's.
    SimulatedDriveConfig sibling;
    sibling.firmwareId = {0x4B, 0x32};
    SimulatedMachineConfig aspiInquiry = aspi;
    aspiInquiry.drives = {SimulatedDriveConfig{}, sibling};
    aspiInquiry.windows.aspiAddresses = {{0, 1, 0}, {0, 2, 0}};
    aspiInquiry.faults = {{.drive = 0, .opcode = 0x12, .after = 1, .kind = MachineFaultKind::AspiStatus, .aspiStatus = 4}};
    profiles.push_back({"aspi-inquiry-fails",
                        "two ZXR-0131K behind ASPI (firmware ids 4B31 and 4B32); the first one's INQUIRY fails after "
                        "the scan",
                        aspiInquiry});

    // What a user outside the drive's group (Linux) or a limited user
    // (Windows) meets: the drive is there, and its nodes refuse to open.
    SimulatedMachineConfig noAccess;
    noAccess.linuxAccess.unopenable = {0};
    noAccess.windows.unopenableCdromLetters = {'D'};
    profiles.push_back({"no-access", "the default drive, which this user may not open (permission denied)", noAccess});

    return profiles;
}

}  // namespace

const std::vector<SimulatedProfile>& SimulatedProfiles() {
    static const std::vector<SimulatedProfile> profiles = MakeProfiles();
    return profiles;
}

const SimulatedProfile* FindSimulatedProfile(const std::string& name) {
    for (const SimulatedProfile& profile : SimulatedProfiles()) {
        if (profile.name == name) return &profile;
    }
    return nullptr;
}

}  // namespace keluflash
