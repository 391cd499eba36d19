#include "drive/sim/simulated_machine.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <optional>

#include "drive/aspi_request.h"

namespace keluflash {

namespace {

constexpr uint8_t kSsNoAdapters = 0xE8;
constexpr uint8_t kHaStatTimeout = 0x09;
constexpr uint8_t kHaStatSelectionTimeout = 0x11;
constexpr unsigned kDriveNoRootDir = 1;
constexpr uint32_t kMillisecondsPerSecond = 1000;
constexpr DeviceHandle kFirstHandle = 0x100;
constexpr DeviceHandle kHandleStep = 4;       // handles are multiples of 4, as on Windows
constexpr size_t kLegacySptLength = 44;        // the 32-bit layout's Length

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

std::optional<std::string> BuiltInErrorText(uint32_t error) {
    switch (error) {
        case kErrorFileNotFound: return "The system cannot find the file specified.\r\n";
        case kErrorAccessDenied: return "Access is denied.\r\n";
        case kErrorInvalidHandle: return "The handle is invalid.\r\n";
        case 31: return "A device attached to the system is not functioning.\r\n";
        case kErrorInvalidParameter: return "The parameter is incorrect.\r\n";
        case kErrorSemTimeout: return "The semaphore timeout period has expired.\r\n";
        case kErrorInsufficientBuffer: return "The data area passed to a system call is too small.\r\n";
        case 1005:
            return "The volume does not contain a recognized file system.\r\n"
                   "Please make sure that all required file system drivers are loaded and that the volume is not "
                   "corrupted.\r\n";
        case kErrorIoDevice: return "The request could not be performed because of an I/O device error.\r\n";
        case kErrorDeviceNotConnected: return "The device is not connected.\r\n";
        default: return std::nullopt;
    }
}

}  // namespace

struct SimulatedMachine::Impl {
    // A request that the ASPI layer has not completed yet.
    struct PendingCommand {
        SrbExecSCSICmd* request = nullptr;
        const void* event = nullptr;          // its event, while that lives
        ScsiResult result;
        bool completes = true;                // false: never, until aborted
    };
    struct PendingProbe {
        SrbGDEVBlock* request;
        uint8_t status;
        uint8_t deviceType;
    };

    class Platform final : public PlatformPort {
    public:
        explicit Platform(Impl& m) : m_machine(m) {}
        bool IsNtFamily() override { return m_machine.config.ntFamily; }
    private:
        Impl& m_machine;
    };

    class Event final : public AspiEvent {
    public:
        explicit Event(Impl& m) : m_machine(m) {
            ++m_machine.counters.eventsCreated;
            ++m_machine.counters.eventsOpen;
            m_machine.liveEvents.push_back(this);
        }
        ~Event() override {
            --m_machine.counters.eventsOpen;
            std::erase(m_machine.liveEvents, this);
            if (m_machine.pending && m_machine.pending->event == this) m_machine.pending->event = nullptr;
        }
        Event(const Event&) = delete;
        Event& operator=(const Event&) = delete;
        WaitResult Wait(uint32_t milliseconds) override {
            ++m_machine.counters.waits;
            if (m_signalled) return WaitResult::Signalled;
            if (m_machine.pending && m_machine.pending->event == this) {
                if (m_machine.pending->result.aspiWaitFails) return WaitResult::Failed;
                if (m_machine.pending->completes) {
                    m_machine.Complete(*m_machine.pending->request, m_machine.pending->result);
                    m_machine.pending.reset();
                    m_signalled = true;
                    return WaitResult::Signalled;
                }
            }
            m_machine.clock.Advance(milliseconds);
            return WaitResult::TimedOut;
        }
        void* PostProc() override { return this; }
        void Signal() { m_signalled = true; }
    private:
        Impl& m_machine;
        bool m_signalled = false;
    };

    class Library final : public AspiLibrary {
    public:
        explicit Library(Impl& m) : m_machine(m) {
            ++m_machine.counters.libraryLoads;
            ++m_machine.counters.librariesLoaded;
        }
        ~Library() override { --m_machine.counters.librariesLoaded; }
        Library(const Library&) = delete;
        Library& operator=(const Library&) = delete;
        uint32_t GetASPI32SupportInfo() override {
            const uint8_t adapters = m_machine.config.aspiAdapters;
            return (uint32_t{adapters == 0 ? kSsNoAdapters : kSsComp} << 8) | adapters;
        }
        uint32_t SendASPI32Command(void* srb) override { return m_machine.Send(srb); }
    private:
        Impl& m_machine;
    };

    class Aspi final : public AspiPort {
    public:
        explicit Aspi(Impl& m) : m_machine(m) {}
        std::optional<std::string> SystemDirectory(size_t capacity) override {
            if (m_machine.config.systemDirectory.size() + 1 > capacity) return std::nullopt;
            return m_machine.config.systemDirectory;
        }
        std::unique_ptr<AspiLibrary> LoadLibrary(const std::string& path) override {
            m_machine.counters.loadPaths.push_back(path);
            const std::string expected = m_machine.config.systemDirectory + "\\WNASPI32.DLL";
            if (!m_machine.config.aspiInstalled || Lower(path) != Lower(expected)) return nullptr;
            return std::make_unique<Library>(m_machine);
        }
        std::unique_ptr<AspiEvent> CreateEvent() override {
            if (m_machine.config.aspiEventsFail) return nullptr;
            return std::make_unique<Event>(m_machine);
        }
    private:
        Impl& m_machine;
    };

    class PassThrough final : public PassThroughPort {
    public:
        explicit PassThrough(Impl& m) : m_machine(m) {}
        bool DeviceIoControl(DeviceHandle handle, PassThroughBuffer& buffer, uint32_t& lastError) override {
            return m_machine.RunPassThrough(handle, buffer, lastError);
        }
    private:
        Impl& m_machine;
    };

    class Letters final : public DriveLetterPort {
    public:
        explicit Letters(Impl& m) : m_machine(m) {}
        unsigned GetDriveType(char letter) override {
            if (m_machine.DriveAtLetter(letter) || m_machine.Unopenable(letter)) return kDriveCdrom;
            const auto other = m_machine.config.otherLetterTypes.find(letter);
            return other != m_machine.config.otherLetterTypes.end() ? other->second : kDriveNoRootDir;
        }
        DeviceHandle Open(char letter) override {
            const std::optional<size_t> drive = m_machine.DriveAtLetter(letter);
            if (!drive) return kInvalidHandle;
            const DeviceHandle handle = m_machine.nextHandle;
            m_machine.nextHandle += kHandleStep;
            m_machine.handles.emplace_back(handle, *drive);
            ++m_machine.counters.handlesOpen;
            m_machine.counters.lettersOpened.push_back(letter);
            return handle;
        }
        void Close(DeviceHandle handle) override {
            const auto found = std::find_if(m_machine.handles.begin(), m_machine.handles.end(),
                                            [handle](const auto& h) { return h.first == handle; });
            if (found == m_machine.handles.end()) return;
            m_machine.handles.erase(found);
            --m_machine.counters.handlesOpen;
        }
        std::string DevicePath(char letter) override { return std::string("\\\\.\\") + letter + ":"; }
        std::string OpenFailure(char letter) override {
            if (m_machine.DriveAtLetter(letter)) return "";
            return m_machine.Unopenable(letter) ? "Access is denied." : "The system cannot find the file specified.";
        }
    private:
        Impl& m_machine;
    };

    class ErrorTexts final : public SystemErrorText {
    public:
        explicit ErrorTexts(Impl& m) : m_machine(m) {}
        std::optional<std::string> FormatMessage(uint32_t error, size_t capacity, uint32_t& formatError) override {
            const auto configured = m_machine.config.errorTexts.find(error);
            const std::optional<std::string> text =
                configured != m_machine.config.errorTexts.end() ? configured->second : BuiltInErrorText(error);
            if (!text) {
                formatError = kErrorMessageNotFound;
                return std::nullopt;
            }
            if (text->size() + 1 > capacity) {
                formatError = kErrorInsufficientBuffer;
                return std::nullopt;
            }
            return text;
        }
    private:
        Impl& m_machine;
    };

    // The caller's user interface, with the ASPI layer's pending device probes
    // completing while the message queue is served.
    class Ui final : public UserInterface {
    public:
        explicit Ui(Impl& m) : m_machine(m) {}
        void PumpMessage() override {
            m_machine.CompleteProbes();
            m_machine.ui.PumpMessage();
        }
        void ProcessMessages() override {
            m_machine.CompleteProbes();
            m_machine.ui.ProcessMessages();
        }
        int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override {
            return m_machine.ui.MessageBox(text, caption, flags);
        }
    private:
        Impl& m_machine;
    };

    Impl(SimulatedMachineConfig c, UserInterface& u)
        : config(std::move(c)), ui(u), platform(*this), aspi(*this), passThrough(*this), letters(*this),
          errorTexts(*this), relay(*this) {
        for (const SimulatedDriveConfig& driveConfig : config.drives) {
            drives.push_back(std::make_unique<SimulatedDrive>(driveConfig, clock));
        }
    }

    AspiAddress AddressOf(size_t drive) const {
        if (drive < config.aspiAddresses.size()) return config.aspiAddresses[drive];
        return AspiAddress{0, static_cast<uint8_t>(drive), 0};
    }
    char LetterOf(size_t drive) const {
        if (drive < config.driveLetters.size()) return config.driveLetters[drive];
        return static_cast<char>('D' + drive);
    }
    std::optional<size_t> DriveAt(AspiAddress address) const {
        for (size_t i = 0; i < drives.size(); ++i) {
            if (AddressOf(i) == address) return i;
        }
        return std::nullopt;
    }
    std::optional<size_t> DriveAtLetter(char letter) const {
        for (size_t i = 0; i < drives.size(); ++i) {
            if (LetterOf(i) == letter) return i;
        }
        return std::nullopt;
    }
    bool Unopenable(char letter) const {
        return std::find(config.unopenableCdromLetters.begin(), config.unopenableCdromLetters.end(), letter) !=
               config.unopenableCdromLetters.end();
    }
    Event* LiveEvent(const void* postProc) const {
        for (Event* event : liveEvents) {
            if (event == postProc) return event;
        }
        return nullptr;
    }

    uint32_t Send(void* srb) {
        auto* header = static_cast<SrbHeader*>(srb);
        switch (header->SRB_Cmd) {
            case kScGetDevType: Probe(*static_cast<SrbGDEVBlock*>(srb)); break;
            case kScExecScsiCmd: Exec(*static_cast<SrbExecSCSICmd*>(srb)); break;
            case kScAbortSrb: Abort(*static_cast<SrbAbort*>(srb)); break;
            default: header->SRB_Status = kSsInvalidCmd; break;
        }
        return header->SRB_Status;
    }

    void Probe(SrbGDEVBlock& request) {
        ++counters.probes;
        uint8_t status = kSsNoDevice;
        uint8_t type = 0;
        if (request.SRB_HaId >= config.aspiAdapters) {
            status = kSsInvalidHa;
        } else {
            const AspiAddress address{request.SRB_HaId, request.SRB_Target, request.SRB_Lun};
            if (DriveAt(address)) {
                status = kSsComp;
                type = kDriveCdrom;
            }
            for (const SimulatedAspiDevice& device : config.aspiOtherDevices) {
                if (device.address == address && status != kSsComp) {
                    status = kSsComp;
                    type = device.deviceType;
                }
            }
        }
        if (config.aspiProbesNeverComplete || config.aspiPending) {
            request.SRB_Status = kSsPending;
            if (!config.aspiProbesNeverComplete) probes.push_back(PendingProbe{&request, status, type});
            return;
        }
        FinishProbe(request, status, type);
    }
    static void FinishProbe(SrbGDEVBlock& request, uint8_t status, uint8_t type) {
        if (status == kSsComp) request.SRB_DeviceType = type;
        request.SRB_Status = status;
    }
    void CompleteProbes() {
        for (const PendingProbe& probe : probes) FinishProbe(*probe.request, probe.status, probe.deviceType);
        probes.clear();
    }

    void Exec(SrbExecSCSICmd& request) {
        ++counters.aspiCommands;
        if (request.SRB_HaId >= config.aspiAdapters) {
            request.SRB_Status = kSsInvalidHa;
            return;
        }
        const std::optional<size_t> drive = DriveAt({request.SRB_HaId, request.SRB_Target, request.SRB_Lun});
        if (!drive) {
            request.SRB_Status = kSsNoDevice;
            return;
        }
        std::array<uint8_t, 12> cdb{};
        std::memcpy(cdb.data(), request.CDBByte, std::min<size_t>(request.SRB_CDBLen, cdb.size()));
        const uint8_t direction = request.SRB_Flags & (kDirectionIn | kDirectionOut);
        const ScsiResult result =
            drives[*drive]->Execute(cdb.data(), request.SRB_BufPointer, request.SRB_BufLen, direction);
        Event* event = (request.SRB_Flags & kSrbEventNotify) != 0 ? LiveEvent(request.SRB_PostProc) : nullptr;
        const bool stalls = !result.completed || result.aspiWaitFails;
        if (stalls || (config.aspiPending && event != nullptr)) {
            request.SRB_Status = kSsPending;
            pending = PendingCommand{&request, event, result, !stalls};
            return;
        }
        Complete(request, result);
        if (event != nullptr) event->Signal();
    }

    // What the ASPI layer writes into a request when its command ends. The
    // sense area is written only when the drive returned sense data.
    static void Complete(SrbExecSCSICmd& request, const ScsiResult& result) {
        request.SRB_HaStat = 0;
        request.SRB_TargStat = result.scsiStatus;
        uint8_t status = result.scsiStatus == kScsiGood ? kSsComp : kSsErr;
        if (result.transportError) {
            status = kSsErr;
            request.SRB_HaStat = *result.transportError == kErrorSemTimeout ? kHaStatTimeout : kHaStatSelectionTimeout;
        }
        if (result.HasSense()) {
            const size_t count = std::min<size_t>({request.SRB_SenseLen, sizeof request.SenseArea, result.sense.size()});
            std::memcpy(request.SenseArea, result.sense.data(), count);
        }
        request.SRB_Status = result.aspiStatus.value_or(status);
    }

    void Abort(SrbAbort& abort) {
        ++counters.aborts;
        abort.SRB_Status = kSsAbortFail;
        if (pending && pending->request == abort.SRB_ToAbort) {
            ++counters.abortsOfPending;
            pending->request->SRB_Status = kSsAborted;
            pending.reset();
            abort.SRB_Status = kSsComp;
        }
        const auto probe = std::find_if(probes.begin(), probes.end(),
                                        [&](const PendingProbe& p) { return p.request == abort.SRB_ToAbort; });
        if (probe != probes.end()) {
            probe->request->SRB_Status = kSsAborted;
            probes.erase(probe);
            abort.SRB_Status = kSsComp;
        }
    }

    bool RunPassThrough(DeviceHandle handle, PassThroughBuffer& buffer, uint32_t& lastError) {
        ++counters.passThroughCalls;
        const auto found =
            std::find_if(handles.begin(), handles.end(), [handle](const auto& h) { return h.first == handle; });
        if (found == handles.end()) {
            lastError = kErrorInvalidHandle;
            return false;
        }
        ScsiPassThroughDirect& spt = buffer.spt;
        const bool lengthKnown = spt.Length == sizeof(ScsiPassThroughDirect) || spt.Length == kLegacySptLength;
        const bool senseFits =
            spt.SenseInfoLength == 0 || size_t{spt.SenseInfoOffset} + spt.SenseInfoLength <= sizeof(PassThroughBuffer);
        const bool dataKnown = spt.DataIn <= kScsiIoctlDataUnspecified &&
                               (spt.DataTransferLength == 0 || spt.DataBuffer != nullptr);
        if (!lengthKnown || spt.CdbLength == 0 || spt.CdbLength > sizeof spt.Cdb || !senseFits || !dataKnown) {
            lastError = kErrorInvalidParameter;
            return false;
        }
        std::array<uint8_t, 12> cdb{};
        std::memcpy(cdb.data(), spt.Cdb, std::min<size_t>(spt.CdbLength, cdb.size()));
        const uint8_t direction = spt.DataIn == kScsiIoctlDataIn    ? kDirectionIn
                                  : spt.DataIn == kScsiIoctlDataOut ? kDirectionOut
                                                                    : kDirectionNone;
        const ScsiResult result = drives[found->second]->Execute(cdb.data(), static_cast<uint8_t*>(spt.DataBuffer),
                                                                spt.DataTransferLength, direction);
        if (!result.completed) {
            // The device time-out expires; the request comes back untouched.
            clock.Advance(uint64_t{spt.TimeOutValue} * kMillisecondsPerSecond);
            lastError = kErrorSemTimeout;
            return false;
        }
        spt.ScsiStatus = result.scsiStatus;
        if (spt.DataIn != kScsiIoctlDataOut) spt.DataTransferLength = result.transferred;
        if (result.HasSense() && spt.SenseInfoLength > 0) {
            auto* bytes = reinterpret_cast<uint8_t*>(&buffer);
            std::memcpy(bytes + spt.SenseInfoOffset, result.sense.data(),
                        std::min<size_t>(spt.SenseInfoLength, result.sense.size()));
        }
        if (result.transportError) {
            lastError = *result.transportError;
            return false;
        }
        return true;
    }

    SimulatedMachineConfig config;
    UserInterface& ui;
    VirtualClock clock;
    std::vector<std::unique_ptr<SimulatedDrive>> drives;
    SimulatedMachineCounters counters;
    std::vector<Event*> liveEvents;
    std::optional<PendingCommand> pending;
    std::vector<PendingProbe> probes;
    std::vector<std::pair<DeviceHandle, size_t>> handles;
    DeviceHandle nextHandle = kFirstHandle;

    Platform platform;
    Aspi aspi;
    PassThrough passThrough;
    Letters letters;
    ErrorTexts errorTexts;
    Ui relay;
};

SimulatedMachine::SimulatedMachine(SimulatedMachineConfig config, UserInterface& ui)
    : m_impl(std::make_unique<Impl>(std::move(config), ui)) {}

SimulatedMachine::~SimulatedMachine() = default;

VirtualClock& SimulatedMachine::Clock() { return m_impl->clock; }
SimulatedDrive& SimulatedMachine::Drive(size_t index) { return *m_impl->drives.at(index); }
size_t SimulatedMachine::DriveCount() const { return m_impl->drives.size(); }
const SimulatedMachineConfig& SimulatedMachine::Config() const { return m_impl->config; }
const SimulatedMachineCounters& SimulatedMachine::Counters() const { return m_impl->counters; }

DrivePorts SimulatedMachine::Ports() {
    Impl& m = *m_impl;
    return DrivePorts{m.platform, m.aspi, m.passThrough, m.letters, m.errorTexts, m.relay, m.clock};
}

}  // namespace keluflash
