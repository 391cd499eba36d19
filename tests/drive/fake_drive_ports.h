#pragma once
// Scripted stand-ins for the operating-system calls behind TAtapi: each one
// records what it was asked and answers what the test set up.
#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "drive/atapi.h"
#include "drive/sim/virtual_clock.h"
#include "drive/windows/aspi_transport.h"
#include "drive/windows/nt_pass_through_transport.h"
#include "drive/windows/windows_ports.h"
#include "drive/windows/windows_transport.h"
#include "tests/support/recording_ui.h"

namespace keluflash::test {

// A standard INQUIRY answer: vendor and product padded with blanks.
inline std::vector<uint8_t> InquiryAnswer(const std::string& vendor, const std::string& product,
                                          const std::string& revision) {
    std::vector<uint8_t> data(36, 0);
    data[0] = 5;
    auto put = [&data](size_t at, const std::string& text, size_t width) {
        for (size_t i = 0; i < width; ++i) data[at + i] = i < text.size() ? static_cast<uint8_t>(text[i]) : ' ';
    };
    put(8, vendor, 8);
    put(16, product, 16);
    put(32, revision, 4);
    return data;
}

// What a device answers to one command, on either path.
struct DeviceAnswer {
    uint8_t scsiStatus = 0;              // 0 GOOD, 2 CHECK CONDITION
    std::vector<uint8_t> sense;          // fixed-format sense bytes
    std::vector<uint8_t> dataIn;         // copied into the data buffer (bounded by its length)
    // ASPI: the request's status when the layer says other than the target's
    // status implies (a layer that calls a CHECK CONDITION complete).
    std::optional<uint8_t> aspiStatus = std::nullopt;
};
using Device = std::function<DeviceAnswer(const uint8_t* cdb)>;

inline Device InquiryDevice(std::vector<uint8_t> inquiry) {
    return [inquiry](const uint8_t* cdb) {
        DeviceAnswer answer;
        if (cdb[0] == 0x12) answer.dataIn = inquiry;
        return answer;
    };
}

inline void CopyIn(const DeviceAnswer& answer, uint8_t* data, uint32_t length) {
    std::copy_n(answer.dataIn.begin(), data == nullptr ? 0 : std::min<size_t>(length, answer.dataIn.size()), data);
}

class FakePlatform final : public PlatformPort {
public:
    bool nt = true;
    bool IsNtFamily() override { return nt; }
};

// --- ASPI --------------------------------------------------------------------

enum class Completion { AtOnce, OnWait, Never };

// The event's wait: signalled (the pending request completes first), timed
// out or failed.
class FakeAspiLibrary;
class FakeAspiEvent final : public AspiEvent {
public:
    FakeAspiEvent(FakeAspiLibrary& library, int& open) : m_library(library), m_open(open) { ++m_open; }
    ~FakeAspiEvent() override { --m_open; }
    WaitResult Wait(uint32_t milliseconds) override;
    void* PostProc() override { return this; }

private:
    FakeAspiLibrary& m_library;
    int& m_open;
};

struct AspiDeviceSlot {
    uint8_t deviceType = 5;
    Device device;
};

class FakeAspiLibrary final : public AspiLibrary {
public:
    uint32_t supportInfo = 0x0100;     // SS_COMP in byte 1, adapters in byte 0 (none)
    std::map<std::tuple<uint8_t, uint8_t, uint8_t>, AspiDeviceSlot> devices;
    Completion probeCompletion = Completion::AtOnce;
    std::function<Completion(const SrbGDEVBlock&)> probeMode;  // overrides probeCompletion
    int probePumpsToComplete = 0;      // OnWait: pumps before a probe completes
    Completion commandCompletion = Completion::AtOnce;
    AspiEvent::WaitResult unsignalled = AspiEvent::WaitResult::TimedOut;  // Never: what the wait says
    uint8_t haStat = 0;
    bool abortLeavesPending = false;   // the layer never gives an aborted request back

    std::vector<SrbExecSCSICmd> commands;   // the block as each command found it
    std::vector<SrbGDEVBlock> probes;
    std::vector<SrbAbort> aborts;
    std::vector<uint32_t> waits;
    int* freed = nullptr;                   // counts FreeLibrary

    ~FakeAspiLibrary() override {
        if (freed != nullptr) ++*freed;
    }
    uint32_t GetASPI32SupportInfo() override { return supportInfo; }

    uint32_t SendASPI32Command(void* srb) override {
        const uint8_t cmd = static_cast<SrbHeader*>(srb)->SRB_Cmd;
        if (cmd == kScGetDevType) {
            auto& probe = *static_cast<SrbGDEVBlock*>(srb);
            probes.push_back(probe);
            m_pendingProbe = &probe;
            m_probePumps = 0;
            m_probeMode = probeMode ? probeMode(probe) : probeCompletion;
            if (m_probeMode == Completion::AtOnce) CompleteProbe();
            else probe.SRB_Status = kSsPending;
        } else if (cmd == kScExecScsiCmd) {
            auto& request = *static_cast<SrbExecSCSICmd*>(srb);
            commands.push_back(request);
            m_pending = &request;
            if (commandCompletion == Completion::AtOnce) Complete();
            else request.SRB_Status = kSsPending;
        } else if (cmd == kScAbortSrb) {
            auto& abort = *static_cast<SrbAbort*>(srb);
            aborts.push_back(abort);
            abort.SRB_Status = kSsComp;
            if (m_pending != nullptr && abort.SRB_ToAbort == m_pending && !abortLeavesPending &&
                m_pending->SRB_Status == kSsPending) {
                m_pending->SRB_Status = kSsAborted;
            }
        }
        return 0;
    }

    // What a message pump lets happen: a pending probe may complete.
    void Pumped() {
        if (m_pendingProbe != nullptr && m_probeMode == Completion::OnWait &&
            ++m_probePumps >= probePumpsToComplete) {
            CompleteProbe();
        }
    }

    void Complete() {
        SrbExecSCSICmd& request = *m_pending;
        auto slot = devices.find({request.SRB_HaId, request.SRB_Target, request.SRB_Lun});
        if (slot == devices.end()) {
            request.SRB_Status = kSsNoDevice;
            return;
        }
        const DeviceAnswer answer = slot->second.device(request.CDBByte);
        CopyIn(answer, request.SRB_BufPointer, request.SRB_BufLen);
        request.SRB_HaStat = haStat;
        request.SRB_TargStat = answer.scsiStatus;
        std::copy_n(answer.sense.begin(), std::min<size_t>(answer.sense.size(), kAspiSenseLength), request.SenseArea);
        request.SRB_Status = answer.aspiStatus.value_or(answer.scsiStatus == 0 ? kSsComp : kSsErr);
        m_pending = nullptr;
    }
    bool Pending() const { return m_pending != nullptr; }

private:
    void CompleteProbe() {
        SrbGDEVBlock& probe = *m_pendingProbe;
        auto slot = devices.find({probe.SRB_HaId, probe.SRB_Target, probe.SRB_Lun});
        if (slot == devices.end()) {
            probe.SRB_Status = kSsNoDevice;
        } else {
            probe.SRB_DeviceType = slot->second.deviceType;
            probe.SRB_Status = kSsComp;
        }
        m_pendingProbe = nullptr;
    }
    SrbExecSCSICmd* m_pending = nullptr;
    SrbGDEVBlock* m_pendingProbe = nullptr;
    int m_probePumps = 0;
    Completion m_probeMode = Completion::AtOnce;
};

inline AspiEvent::WaitResult FakeAspiEvent::Wait(uint32_t milliseconds) {
    m_library.waits.push_back(milliseconds);
    if (m_library.Pending() && m_library.commandCompletion == Completion::OnWait) {
        m_library.Complete();
        return WaitResult::Signalled;
    }
    return m_library.unsignalled;
}

class FakeAspiPort final : public AspiPort {
public:
    std::optional<std::string> systemDirectory = std::string("C:\\WINDOWS\\SYSTEM");
    bool installed = true;
    bool eventsWork = true;
    std::vector<std::string> loads;
    std::vector<size_t> directoryCapacities;
    int openEvents = 0;
    int eventsCreated = 0;
    int librariesFreed = 0;
    FakeAspiLibrary* library = nullptr;     // the one loaded, while TAtapi holds it
    std::function<void(FakeAspiLibrary&)> setUp;  // configures the library before TAtapi sees it

    std::optional<std::string> SystemDirectory(size_t capacity) override {
        directoryCapacities.push_back(capacity);
        if (systemDirectory && systemDirectory->size() >= capacity) return std::nullopt;
        return systemDirectory;
    }
    std::unique_ptr<AspiLibrary> LoadAspiLibrary(const std::string& path) override {
        loads.push_back(path);
        if (!installed) return nullptr;
        auto loaded = std::make_unique<FakeAspiLibrary>();
        loaded->freed = &librariesFreed;
        library = loaded.get();
        if (setUp) setUp(*loaded);
        return loaded;
    }
    std::unique_ptr<AspiEvent> CreateCompletionEvent() override {
        if (!eventsWork) return nullptr;
        ++eventsCreated;
        return std::make_unique<FakeAspiEvent>(*library, openEvents);
    }
};

// --- Pass-through --------------------------------------------------------------

class FakePassThrough final : public PassThroughPort {
public:
    std::map<DeviceHandle, Device> devices;
    std::optional<uint32_t> failWith;        // the call fails with this error (after filling status and sense)
    std::vector<PassThroughBuffer> requests; // the buffer as each call found it
    std::vector<DeviceHandle> handles;

    bool DeviceIoControl(DeviceHandle handle, PassThroughBuffer& buffer, uint32_t& lastError) override {
        requests.push_back(buffer);
        handles.push_back(handle);
        auto device = devices.find(handle);
        if (device != devices.end()) {
            const DeviceAnswer answer = device->second(buffer.spt.Cdb);
            CopyIn(answer, static_cast<uint8_t*>(buffer.spt.DataBuffer), buffer.spt.DataTransferLength);
            buffer.spt.ScsiStatus = answer.scsiStatus;
            std::copy_n(answer.sense.begin(), std::min<size_t>(answer.sense.size(), buffer.spt.SenseInfoLength),
                        buffer.sense);
        } else if (!failWith) {
            lastError = 6;  // ERROR_INVALID_HANDLE
            return false;
        }
        if (failWith) {
            lastError = *failWith;
            return false;
        }
        return true;
    }
    std::vector<std::pair<DeviceHandle, uint32_t>> volumeControls;  // handle and code of each call
    bool VolumeControl(DeviceHandle handle, uint32_t controlCode, uint32_t&) override {
        volumeControls.emplace_back(handle, controlCode);
        return true;
    }
};

// Drive letters: which are CD-ROM drives and which of those open.
class FakeDriveLetters final : public DriveLetterPort {
public:
    std::set<char> cdroms;
    std::set<char> unopenable;
    std::vector<char> asked;
    std::vector<char> opened;
    std::vector<DeviceHandle> closed;

    static DeviceHandle HandleOf(char letter) { return 0x100 + static_cast<DeviceHandle>(letter); }
    unsigned DriveType(char letter) override {
        asked.push_back(letter);
        return cdroms.count(letter) ? kDriveCdrom : 3;  // DRIVE_FIXED
    }
    DeviceHandle Open(char letter) override {
        opened.push_back(letter);
        return unopenable.count(letter) ? kInvalidHandle : HandleOf(letter);
    }
    void Close(DeviceHandle handle) override { closed.push_back(handle); }
    std::string DevicePath(char letter) override { return std::string("\\\\.\\") + letter + ":"; }
    std::string OpenFailure(char) override { return {}; }
};

class FakeErrorText final : public SystemErrorText {
public:
    std::map<uint32_t, std::string> texts{{5, "Access is denied.\r\n"}};
    uint32_t failure = 317;  // ERROR_MR_MID_NOT_FOUND
    std::vector<size_t> capacities;
    std::optional<std::string> SystemMessage(uint32_t error, size_t capacity, uint32_t& formatError) override {
        capacities.push_back(capacity);
        auto text = texts.find(error);
        if (text == texts.end()) {
            formatError = failure;
            return std::nullopt;
        }
        if (text->second.size() >= capacity) {
            formatError = 122;  // ERROR_INSUFFICIENT_BUFFER
            return std::nullopt;
        }
        return text->second;
    }
};

// Every port in one place.
struct FakeMachine {
    FakePlatform platform;
    FakeAspiPort aspi;
    FakePassThrough passThrough;
    FakeDriveLetters letters;
    FakeErrorText errorText;
    RecordingUi ui;
    VirtualClock clock{1000};

    FakeMachine() {
        ui.onPump = [this] {
            if (aspi.library != nullptr) aspi.library->Pumped();
        };
    }
    WindowsPorts Ports() { return WindowsPorts{platform, aspi, passThrough, letters, errorText, ui, clock}; }
    // The platform's transport over these ports, made on first use.
    Transport& DriveTransport() {
        if (!transport) transport = MakeWindowsTransport(Ports());
        return *transport;
    }
    UserInterface& Ui() { return ui; }

    // A pass-through machine with CD-ROM drives at these letters.
    void AddLetterDrive(char letter, Device device) {
        letters.cdroms.insert(letter);
        passThrough.devices[FakeDriveLetters::HandleOf(letter)] = std::move(device);
    }
    // An ASPI machine: the library gets these devices when it loads.
    void UseAspi(uint8_t adapters) {
        platform.nt = false;
        aspi.setUp = [this, adapters](FakeAspiLibrary& library) {
            library.supportInfo = 0x0100u | adapters;
            library.devices = aspiDevices;
            if (tune) tune(library);
        };
    }
    std::map<std::tuple<uint8_t, uint8_t, uint8_t>, AspiDeviceSlot> aspiDevices;
    std::function<void(FakeAspiLibrary&)> tune;  // more set-up of the library as it loads
    std::unique_ptr<Transport> transport;         // last: it goes before the ports it uses
};

}  // namespace keluflash::test
