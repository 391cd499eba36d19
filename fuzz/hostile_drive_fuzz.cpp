// A hostile drive: a USB device can answer anything, and the program may run
// as root. The fuzzer's bytes decide, command by command, whether the drive
// answers as an honest simulated KELU drive would or with anything at all: any
// status, any sense, any data in (INQUIRY, sense, patch information, query
// mode, read-back), a host failure or a system error. A whole update runs on
// the virtual clock (scan, the checks, patch area, download, ready wait,
// verification) and must neither crash, trip a sanitizer nor hang, and it
// must never say "OK:Verify ok!!" unless what the drive read back truly sums
// to the checksum.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/form1.h"
#include "app/recording_system_services.h"
#include "app/silent_view.h"
#include "drive/atapi.h"
#include "drive/sim/simulated_drive.h"
#include "drive/sim/virtual_clock.h"
#include "drive/transport.h"
#include "fuzz/fuzz_folder.h"
#include "image/image_writer.h"

namespace keluflash::fuzz {
namespace {

constexpr uint32_t kHostileCommandMilliseconds = 50;

// The fuzzer's bytes, read front to back; zeros once they run out.
class ByteStream {
public:
    ByteStream(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool Empty() const { return m_at >= m_size; }
    uint8_t Next() { return m_at < m_size ? m_data[m_at++] : 0; }
    void Fill(uint8_t* to, size_t count) {
        const size_t take = std::min(count, m_size - std::min(m_at, m_size));
        std::copy_n(m_data + m_at, take, to);
        std::fill(to + take, to + count, uint8_t{0});
        m_at += take;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_at = 0;
};

class HostileTransport final : public Transport {
public:
    HostileTransport(ByteStream& bytes, SimulatedDrive& honest, VirtualClock& clock, bool passThrough)
        : m_bytes(bytes), m_honest(honest), m_clock(clock), m_passThrough(passThrough) {}

    bool PassThrough() const override { return m_passThrough; }

    int Scan(DeviceTable& table, const Identify& identify) override {
        const int count = 1 + m_bytes.Next() % 2;
        for (int i = 0; i < count; ++i) {
            DeviceEntry& entry = table[static_cast<size_t>(i)];
            entry.handle = static_cast<DeviceHandle>(i + 1);
            std::array<uint8_t, kInquiryLength> inquiry{};
            identify(entry, inquiry.data());
            FillInquiryTexts(entry, inquiry.data(), true);
        }
        return count;
    }

    void Execute(const DeviceEntry&, const uint8_t* cdb, uint8_t* data, uint32_t length, uint8_t direction,
                 CommandResult& result) override {
        m_sense.fill(0);
        const bool readBack = cdb[0] == 0x5A && cdb[5] == 0x11;
        if (!readBack) m_readBack = ReadBack{};
        const uint8_t control = m_bytes.Empty() ? 0 : m_bytes.Next();
        uint8_t status = 0;
        switch (control % 5) {
            case 0:
            case 1: status = Honest(cdb, data, length, direction, result); break;
            case 2: status = Answer(data, length, direction, result); break;
            case 3: status = HostFailure(data, length, direction, result); break;
            default: status = SystemError(result); break;
        }
        if (!m_passThrough) result.aspiStatus = status;
        if (readBack) {
            m_readBack.reads += 1;
            if (ProgramStatus(result, m_passThrough) == kStatusGood)
                for (uint32_t i = 0; i < length; ++i) m_readBack.sum += data[i];
        }
    }
    std::string DevicePath(const DeviceEntry& device) const override {
        return "hostile" + std::to_string(device.handle);
    }

    // The read-back reads since the last other command.
    struct ReadBack {
        uint32_t reads = 0;
        uint32_t sum = 0;
    };
    const ReadBack& LastReadBack() const { return m_readBack; }

private:
    uint8_t StatusByte(uint8_t scsiStatus) const {
        if (scsiStatus == kScsiStatusGood) return kStatusGood;
        return m_passThrough ? scsiStatus : uint8_t{4};  // ASPI: SS_ERR
    }
    void TakeSense(const uint8_t* sense, size_t length, CommandResult& result) {
        const size_t n = std::min(length, m_sense.size());
        std::copy_n(sense, n, m_sense.begin());
        std::copy_n(sense, std::min(n, result.senseData.size()), result.senseData.begin());
        result.senseLength = static_cast<uint8_t>(std::min(n, result.senseData.size()));
    }

    uint8_t Honest(const uint8_t* cdb, uint8_t* data, uint32_t length, uint8_t direction, CommandResult& result) {
        const ScsiResult answer = m_honest.Execute(cdb, data, length, direction);
        result.outcome = CommandOutcome::Answered;
        result.scsiStatus = answer.scsiStatus;
        if (answer.HasSense()) TakeSense(answer.sense.data(), answer.sense.size(), result);
        return StatusByte(answer.scsiStatus);
    }

    uint8_t Answer(uint8_t* data, uint32_t length, uint8_t direction, CommandResult& result) {
        m_clock.Advance(kHostileCommandMilliseconds);
        if (direction == kDirectionIn && data != nullptr) m_bytes.Fill(data, length);
        result.outcome = CommandOutcome::Answered;
        result.scsiStatus = m_bytes.Next();
        if (result.scsiStatus == kScsiStatusCheckCondition) {
            std::array<uint8_t, kSenseDataLength> sense{};
            m_bytes.Fill(sense.data(), sense.size());
            TakeSense(sense.data(), sense.size(), result);
        }
        return StatusByte(result.scsiStatus);
    }

    uint8_t HostFailure(uint8_t* data, uint32_t length, uint8_t direction, CommandResult& result) {
        m_clock.Advance(kHostileCommandMilliseconds);
        const uint8_t how = m_bytes.Next();
        // Part of the data may have come before the host gave up.
        if (direction == kDirectionIn && data != nullptr) m_bytes.Fill(data, std::min<uint32_t>(length, how));
        result.outcome = CommandOutcome::HostFailure;
        result.hostFailure = (how & 1) ? HostFailureKind::TimedOut : HostFailureKind::TransportError;
        result.scsiStatus = (how & 2) ? kScsiStatusCheckCondition : kScsiStatusGood;
        if (how & 2) {
            std::array<uint8_t, kSenseDataLength> sense{};
            m_bytes.Fill(sense.data(), sense.size());
            TakeSense(sense.data(), sense.size(), result);
        }
        return m_passThrough ? StatusByte(result.scsiStatus) : uint8_t{4};
    }

    uint8_t SystemError(CommandResult& result) {
        m_clock.Advance(kHostileCommandMilliseconds);
        const uint8_t how = m_bytes.Next();
        result.outcome = CommandOutcome::OsError;
        result.deviceGone = (how & 1) != 0;
        result.osError = how;
        result.osErrorText = (how & 2) ? "No such device" : "";
        return 0;
    }

    ByteStream& m_bytes;
    SimulatedDrive& m_honest;
    VirtualClock& m_clock;
    bool m_passThrough;
    std::array<uint8_t, kCommandSenseCapacity> m_sense{};
    ReadBack m_readBack;
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

}  // namespace
}  // namespace keluflash::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace keluflash;
    using namespace keluflash::fuzz;
    const std::string& image = ImageFile();
    ByteStream bytes(data, size);
    const bool passThrough = (bytes.Next() & 1) == 0;
    VirtualClock clock;
    SimulatedDriveConfig config;
    config.recordDataOut = false;
    config.programmingMilliseconds = 300;  // fewer polls of an honest wait: more inputs a second
    SimulatedDrive honest(config, clock);
    HostileTransport transport(bytes, honest, clock, passThrough);
    SilentView view;
    TAtapi atapi(transport, view);
    RecordingSystemServices system;
    TForm1 form(atapi, clock, system, view);
    form.FormCreate();
    form.SetOpenDialogFileName(image);
    form.OpenChosenFile();
    form.BitBtn2Click();

    const std::vector<std::string>& lines = form.Messages();
    const auto verified = std::find(lines.begin(), lines.end(), "OK:Verify ok!!");
    if (verified != lines.end()) {
        // The last reads were the verification's, all of them answered.
        const ImageHeader& header = form.Header();
        uint32_t expectedReads = 0;
        for (int bank = 0; bank < header.BlockCount(); ++bank) expectedReads += (bank == 1 || bank == 2) ? 240 : 256;
        const auto& readBack = transport.LastReadBack();
        if (readBack.reads != expectedReads) std::abort();
        if (static_cast<uint16_t>(readBack.sum) != TriggerChecksum(header, form.Selection())) std::abort();
        if (std::find(lines.begin(), verified, "Ok:Flash Complete!!") == verified) std::abort();
        if (form.LastUpdateResult() != UpdateResult::Verified) std::abort();
    } else if (form.LastUpdateResult() == UpdateResult::Verified) {
        std::abort();
    }
    return 0;
}
