// A hostile drive, or a hostile system between the program and the drive: a
// USB device can answer anything, a driver can report anything, and the
// program may run as root. The program's own transports run unchanged (SG_IO
// over a simulated Linux kernel, NT pass-through and ASPI over simulated
// Windows ports); the fuzzer's bytes decide, call by call, whether the system
// answers as it would for an honest simulated KELU drive, honestly with one
// field bent, or with anything at all: SG_IO's return, status, host and driver
// bytes, residual, sense and data; the pass-through's return and error code,
// its status, transfer length, sense and data; the ASPI request block's status,
// adapter and target status, sense and data.
//
// A whole update runs on the virtual clock (scan, checks, patch area,
// download, ready wait, verification) and must neither crash, trip a
// sanitizer nor hang. The oracle is this file's own view of what the system
// answered: the update may end "OK:Verify ok!!" only when every read-back
// command of the verification truly came back GOOD, in full, with no host,
// driver or system error, and the bytes the system handed back sum to the
// image checksum.
//
// Input: byte 0 picks the system. Then, whenever the run of honest calls is
// used up, one byte decides the next call: 0x40 and above are an honest run
// of (byte - 0x40) * 8 calls more, so a few bytes reach any of the 2016
// read-back commands; below 0x40 the call is hostile, its kind in the byte
// and its fields in the bytes that follow. Once the input is used up every
// call is honest.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/form1.h"
#include "app/recording_system_services.h"
#include "app/silent_view.h"
#include "drive/atapi.h"
#include "drive/linux/sg_io_transport.h"
#include "drive/scsi_opcodes.h"
#include "drive/sim/linux/simulated_linux_machine.h"
#include "drive/sim/simulated_windows_machine.h"
#include "drive/windows/aspi_request.h"
#include "drive/windows/windows_transport.h"
#include "fuzz/fuzz_folder.h"
#include "image/image_writer.h"

namespace keluflash::fuzz {
namespace {

// What a hostile call costs on the clock: a ready wait of hostile polls ends
// by its own time-out, never spins.
constexpr uint32_t kHostileCallMilliseconds = 50;

// The fuzzer's bytes, read front to back; zeros once they run out.
class ByteStream {
public:
    ByteStream(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool Empty() const { return m_at >= m_size; }
    uint8_t Next() { return m_at < m_size ? m_data[m_at++] : 0; }
    uint16_t Next16() { return static_cast<uint16_t>(Next() << 8 | Next()); }
    // Up to `count` bytes into `to`; the rest of `to` keeps what it held.
    void Fill(uint8_t* to, size_t count) {
        const size_t take = std::min(count, m_size - std::min(m_at, m_size));
        std::copy_n(m_data + m_at, take, to);
        m_at += take;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_at = 0;
};

enum class CallKind : uint8_t { Honest, Refused, Raw, Bent };

// The decision for each call, and the oracle's record of the verification's
// reads: those since the last command that was not a read-back read.
class Script {
public:
    explicit Script(ByteStream& bytes, VirtualClock& clock) : m_bytes(bytes), m_clock(clock) {}

    ByteStream& Bytes() { return m_bytes; }

    CallKind NextCall() {
        if (m_honestLeft > 0) {
            --m_honestLeft;
            return CallKind::Honest;
        }
        if (m_bytes.Empty()) return CallKind::Honest;
        const uint8_t control = m_bytes.Next();
        if (control >= 0x40) {
            m_honestLeft = static_cast<uint32_t>(control - 0x40) * 8;
            return CallKind::Honest;
        }
        m_clock.Advance(kHostileCallMilliseconds);
        switch (control % 3) {
            case 0: return CallKind::Refused;
            case 1: return CallKind::Raw;
            default: return CallKind::Bent;
        }
    }

    static bool IsReadBack(const uint8_t* cdb) {
        return IsVendorCommand(cdb) && cdb[5] == kSubReadMemory;
    }
    // After each call: a read-back read and whether it truly returned GOOD in
    // full, with the bytes it handed back; whether the drive answered at all
    // (no host, driver or system error), for TEST UNIT READY after a trigger.
    void Called(const uint8_t* cdb, bool trulyGood, const uint8_t* data, uint32_t length, bool answered) {
        if (IsVendorCommand(cdb) && cdb[5] == kSubWriteBlock && cdb[8] == 0 && cdb[9] == 0) m_pollAnswered = false;
        if (cdb[0] == kOpTestUnitReady && answered) m_pollAnswered = true;
        if (!IsReadBack(cdb)) {
            m_reads = 0;
            m_allGood = true;
            m_sum = 0;
            return;
        }
        ++m_reads;
        m_allGood = m_allGood && trulyGood;
        if (data != nullptr)
            for (uint32_t i = 0; i < length; ++i) m_sum += data[i];
    }
    uint32_t Reads() const { return m_reads; }
    bool AllGood() const { return m_allGood; }
    uint16_t Sum() const { return static_cast<uint16_t>(m_sum); }
    // Since the last trigger, a TEST UNIT READY that the drive answered.
    bool PollAnswered() const { return m_pollAnswered; }

private:
    ByteStream& m_bytes;
    VirtualClock& m_clock;
    uint32_t m_honestLeft = 0;
    uint32_t m_reads = 0;
    bool m_allGood = true;
    uint32_t m_sum = 0;
    bool m_pollAnswered = false;
};

// --- Linux: ioctl(SG_IO) -----------------------------------------------------

class HostileKernel final : public LinuxKernel {
public:
    HostileKernel(LinuxKernel& honest, Script& script) : m_honest(honest), m_script(script) {}

    std::vector<OpticalDriveNode> OpticalDrives() override { return m_honest.OpticalDrives(); }
    int Open(const std::string& path, bool exclusive) override { return m_honest.Open(path, exclusive); }
    int Claim(const std::string& blockPath) override { return m_honest.Claim(blockPath); }
    void Close(int fd) override { m_honest.Close(fd); }
    bool StillPresent(const std::string& nodeName) override {
        return m_script.Bytes().Empty() ? m_honest.StillPresent(nodeName) : (m_script.Bytes().Next() & 1) != 0;
    }
    std::string MountPoint(const std::string& blockPath) override { return m_honest.MountPoint(blockPath); }

    int SgIo(int fd, sg_io_hdr_t& header) override {
        ByteStream& bytes = m_script.Bytes();
        uint8_t* data = static_cast<uint8_t*>(header.dxferp);
        const bool dataIn = header.dxfer_direction == SG_DXFER_FROM_DEV && data != nullptr;
        int error = 0;
        switch (m_script.NextCall()) {
            case CallKind::Honest: error = m_honest.SgIo(fd, header); break;
            case CallKind::Refused: {
                constexpr int kErrors[] = {EIO, ENODEV, ENXIO, EPERM, EACCES, EBADF, EINVAL, ENOMEM, EAGAIN, EINTR};
                error = kErrors[bytes.Next() % std::size(kErrors)];
                break;
            }
            case CallKind::Raw:
                header.status = bytes.Next();
                header.masked_status = static_cast<unsigned char>((header.status >> 1) & 0x7F);
                header.host_status = static_cast<unsigned short>(bytes.Next() % 0x10);
                header.driver_status = bytes.Next();
                header.resid = static_cast<int16_t>(bytes.Next16());
                header.sb_len_wr = static_cast<unsigned char>(bytes.Next() % (header.mx_sb_len + 1u));
                bytes.Fill(header.sbp, header.sb_len_wr);
                if (dataIn) bytes.Fill(data, std::min<uint32_t>(header.dxfer_len, bytes.Next() * 2u));
                break;
            case CallKind::Bent:
                error = m_honest.SgIo(fd, header);
                if (error == 0) Bend(header, data, dataIn);
                break;
        }
        const bool answered = error == 0 && header.host_status == 0 &&
                              ((header.driver_status & 0x0F) == 0 || (header.driver_status & 0x0F) == 0x08);
        const bool good = answered && header.status == 0 &&
                          ((header.driver_status & 0x0F) == 0 || header.sb_len_wr == 0) &&
                          (header.resid == 0 || !dataIn);
        m_script.Called(header.cmdp, good, dataIn ? data : nullptr, dataIn ? header.dxfer_len : 0, answered);
        return error;
    }

private:
    void Bend(sg_io_hdr_t& header, uint8_t* data, bool dataIn) {
        ByteStream& bytes = m_script.Bytes();
        const uint8_t what = bytes.Next();
        const uint8_t value = bytes.Next();
        switch (what % 7) {
            case 6:
                // The host gives up as the answer comes: its status byte is
                // lost, its sense stays in the buffer.
                header.host_status = 0x03;
                header.status = 0;
                header.driver_status = 0;
                break;
            case 0: header.status = value; break;
            case 1: header.host_status = static_cast<unsigned short>(value % 0x10); break;
            case 2: header.driver_status = value; break;
            case 3: header.resid = static_cast<int8_t>(value); break;
            case 4: header.sb_len_wr = static_cast<unsigned char>(value % (header.mx_sb_len + 1u)); break;
            default:
                if (dataIn && header.dxfer_len > 0) data[bytes.Next() % header.dxfer_len] ^= value;
                break;
        }
    }

    LinuxKernel& m_honest;
    Script& m_script;
};

// --- Windows NT: DeviceIoControl(IOCTL_SCSI_PASS_THROUGH_DIRECT) -------------

class HostilePassThrough final : public PassThroughPort {
public:
    HostilePassThrough(PassThroughPort& honest, Script& script) : m_honest(honest), m_script(script) {}

    bool DeviceIoControl(DeviceHandle handle, PassThroughBuffer& buffer, uint32_t& lastError) override {
        ByteStream& bytes = m_script.Bytes();
        ScsiPassThroughDirect& spt = buffer.spt;
        const uint32_t requested = spt.DataTransferLength;
        uint8_t* data = static_cast<uint8_t*>(spt.DataBuffer);
        const bool dataIn = spt.DataIn == kScsiIoctlDataIn && data != nullptr;
        bool done = true;
        switch (m_script.NextCall()) {
            case CallKind::Honest: done = m_honest.DeviceIoControl(handle, buffer, lastError); break;
            case CallKind::Refused: {
                constexpr uint32_t kErrors[] = {1, 5, 6, 21, 31, 55, 87, 121, 1117, 1167, 0x12345678};
                done = false;
                lastError = kErrors[bytes.Next() % std::size(kErrors)];
                break;
            }
            case CallKind::Raw:
                spt.ScsiStatus = bytes.Next();
                spt.DataTransferLength = bytes.Next16();
                spt.SenseInfoLength = bytes.Next();
                bytes.Fill(buffer.sense, std::min<size_t>(spt.SenseInfoLength, sizeof buffer.sense));
                if (dataIn) bytes.Fill(data, std::min<uint32_t>(requested, bytes.Next() * 2u));
                break;
            case CallKind::Bent: {
                done = m_honest.DeviceIoControl(handle, buffer, lastError);
                const uint8_t what = bytes.Next();
                const uint8_t value = bytes.Next();
                switch (what % 5) {
                    case 0: spt.ScsiStatus = value; break;
                    case 1: spt.DataTransferLength = value; break;
                    case 2: spt.SenseInfoLength = value; break;
                    case 3:
                        // The command ran, and the system still reports a failure
                        // ("the semaphore timeout period has expired" and the like).
                        done = false;
                        lastError = (value & 1) ? 121 : 1117;
                        break;
                    default:
                        if (dataIn && requested > 0) data[bytes.Next() % requested] ^= value;
                        break;
                }
                break;
            }
        }
        const bool good = done && spt.ScsiStatus == 0 && (!dataIn || spt.DataTransferLength >= requested);
        m_script.Called(spt.Cdb, good, dataIn ? data : nullptr, dataIn ? requested : 0, done);
        return done;
    }

private:
    PassThroughPort& m_honest;
    Script& m_script;
};

// --- Windows 9x: SendASPI32Command --------------------------------------------

class HostileAspiLibrary final : public AspiLibrary {
public:
    HostileAspiLibrary(std::unique_ptr<AspiLibrary> honest, Script& script)
        : m_honest(std::move(honest)), m_script(script) {}

    uint32_t GetASPI32SupportInfo() override { return m_honest->GetASPI32SupportInfo(); }

    uint32_t SendASPI32Command(void* request) override {
        if (static_cast<SrbHeader*>(request)->SRB_Cmd != kScExecScsiCmd) return m_honest->SendASPI32Command(request);
        ByteStream& bytes = m_script.Bytes();
        SrbExecSCSICmd& block = *static_cast<SrbExecSCSICmd*>(request);
        const bool dataIn = (block.SRB_Flags & 0x18) == kDirectionIn && block.SRB_BufPointer != nullptr;
        uint32_t answer = 0;
        switch (m_script.NextCall()) {
            case CallKind::Honest: answer = m_honest->SendASPI32Command(request); break;
            case CallKind::Refused: {
                constexpr uint8_t kStatuses[] = {kSsErr, kSsAborted, kSsAbortFail, kSsInvalidCmd, kSsInvalidHa,
                                                 kSsNoDevice};
                block.SRB_Status = kStatuses[bytes.Next() % std::size(kStatuses)];
                block.SRB_HaStat = bytes.Next() % 2 ? 0 : bytes.Next();
                answer = block.SRB_Status;
                break;
            }
            case CallKind::Raw:
                // Never SS_PENDING: a request this layer never completes is
                // the honest layer's own fault to play.
                block.SRB_Status = std::max<uint8_t>(bytes.Next(), kSsComp);
                block.SRB_HaStat = bytes.Next();
                block.SRB_TargStat = bytes.Next();
                bytes.Fill(block.SenseArea, bytes.Next() % (sizeof block.SenseArea + 1));
                if (dataIn) bytes.Fill(block.SRB_BufPointer, std::min<uint32_t>(block.SRB_BufLen, bytes.Next() * 2u));
                answer = block.SRB_Status;
                break;
            case CallKind::Bent: {
                answer = m_honest->SendASPI32Command(request);
                if (ReadAspiStatus(block.SRB_Status) == kSsPending) break;
                const uint8_t what = bytes.Next();
                const uint8_t value = bytes.Next();
                switch (what % 4) {
                    case 0: block.SRB_Status = std::max<uint8_t>(value, kSsComp); break;
                    case 1: block.SRB_HaStat = value; break;
                    case 2: block.SRB_TargStat = value; break;
                    default:
                        if (dataIn && block.SRB_BufLen > 0) block.SRB_BufPointer[bytes.Next() % block.SRB_BufLen] ^= value;
                        break;
                }
                break;
            }
        }
        const uint8_t status = ReadAspiStatus(block.SRB_Status);
        const bool answered =
            status != kSsInvalidHa && status != kSsNoDevice && (status == kSsComp || block.SRB_HaStat == 0);
        const bool good = status == kSsComp && block.SRB_HaStat == 0 && block.SRB_TargStat == 0;
        m_script.Called(block.CDBByte, good, dataIn ? block.SRB_BufPointer : nullptr, dataIn ? block.SRB_BufLen : 0,
                        answered);
        return answer;
    }

private:
    std::unique_ptr<AspiLibrary> m_honest;
    Script& m_script;
};

class HostileAspiPort final : public AspiPort {
public:
    HostileAspiPort(AspiPort& honest, Script& script) : m_honest(honest), m_script(script) {}
    std::optional<std::string> SystemDirectory(size_t capacity) override { return m_honest.SystemDirectory(capacity); }
    std::unique_ptr<AspiLibrary> LoadAspiLibrary(const std::string& path) override {
        std::unique_ptr<AspiLibrary> library = m_honest.LoadAspiLibrary(path);
        if (!library) return nullptr;
        return std::make_unique<HostileAspiLibrary>(std::move(library), m_script);
    }
    std::unique_ptr<AspiEvent> CreateCompletionEvent() override { return m_honest.CreateCompletionEvent(); }

private:
    AspiPort& m_honest;
    Script& m_script;
};

// The demo firmware of the honest drive, written once per run.
const std::string& ImageFile() {
    static const FuzzFolder folder("keluflash-hostile-drive-fuzz-");
    static const std::string path = [] {
        const std::string file = folder.File("demo.kfs");
        std::string error;
        if (!SaveImageFile(file, BuildDemoFirmware(DemoFirmwareRecipe{}).bytes, error)) std::abort();
        return file;
    }();
    return path;
}

SimulatedMachineConfig MachineConfig(SimulatedPlatform platform) {
    SimulatedMachineConfig config;
    config.platform = platform;
    SimulatedDriveConfig drive;
    drive.recordDataOut = false;
    drive.programmingMilliseconds = 20;  // few polls in an honest wait: more inputs a second
    config.drives = {drive};
    return config;
}

// Runs the update over `transport` and checks what it said against the record.
void RunUpdate(Transport& transport, UserInterface& ui, VirtualClock& clock, const Script& script) {
    SilentView view;
    TAtapi atapi(transport, ui);
    RecordingSystemServices system;
    TForm1 form(atapi, clock, system, view);
    form.FormCreate();
    form.SetOpenDialogFileName(ImageFile());
    form.OpenChosenFile();
    form.BitBtn2Click();

    const std::vector<std::string>& lines = form.Messages();
    // The window's lines and the broken rule, for whoever reads the crash.
    const auto fail = [&lines](const char* rule) {
        for (const std::string& line : lines) std::fprintf(stderr, "  %s\n", line.c_str());
        std::fprintf(stderr, "hostile drive: %s\n", rule);
        std::abort();
    };
    const bool saidVerified = std::find(lines.begin(), lines.end(), "OK:Verify ok!!") != lines.end();
    if (saidVerified != (form.LastUpdateResult() == UpdateResult::Verified)) fail("the lines and the report disagree");
    // The drive is seen ready only after a poll it answered: a time-out or a
    // host or system error is never "ready", whatever came with it.
    const DriveState state = form.LastReport().state;
    const bool seenReady = state == DriveState::DriveReady || state == DriveState::Verified ||
                           state == DriveState::VerificationFailed;
    if (seenReady && !script.PollAnswered()) fail("the drive was taken as ready without a poll it answered");
    if (!saidVerified) return;
    const ImageHeader& header = form.Header();
    uint32_t expectedReads = 0;
    for (int bank = 0; bank < header.BlockCount(); ++bank) expectedReads += (bank == 1 || bank == 2) ? 240 : 256;
    if (script.Reads() != expectedReads) fail("verified without reading the whole flash back");
    if (!script.AllGood()) fail("verified though a read-back read did not come back GOOD in full");
    if (script.Sum() != TriggerChecksum(header, form.Selection())) fail("verified bytes that do not sum to the checksum");
}

}  // namespace
}  // namespace keluflash::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace keluflash;
    using namespace keluflash::fuzz;
    ByteStream bytes(data, size);
    SilentView quiet;
    const uint8_t system = bytes.Next() % 3;
    switch (system) {
        case 0: {
            SimulatedLinuxMachine machine(MachineConfig(SimulatedPlatform::Host), quiet);
            Script script(bytes, machine.Clock());
            HostileKernel kernel(machine.Kernel(), script);
            SgIoTransport transport(kernel);
            RunUpdate(transport, machine.Ui(), machine.Clock(), script);
            break;
        }
        case 1:
        case 2: {
            const bool nt = system == 1;
            SimulatedWindowsMachine machine(
                MachineConfig(nt ? SimulatedPlatform::WindowsNt : SimulatedPlatform::Windows9x), quiet);
            Script script(bytes, machine.Clock());
            const WindowsPorts honest = machine.Ports();
            HostilePassThrough passThrough(honest.passThrough, script);
            HostileAspiPort aspi(honest.aspi, script);
            const WindowsPorts ports{honest.platform,    aspi,      passThrough, honest.driveLetters,
                                     honest.errorText,   honest.ui, honest.clock};
            const std::unique_ptr<Transport> transport = MakeWindowsTransport(ports);
            RunUpdate(*transport, machine.Ui(), machine.Clock(), script);
            break;
        }
    }
    return 0;
}
