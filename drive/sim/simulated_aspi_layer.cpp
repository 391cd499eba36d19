#include "drive/sim/simulated_aspi_layer.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>

namespace keluflash {

namespace {

constexpr uint8_t kSsNoAdapters = 0xE8;
constexpr uint8_t kHaStatTimeout = 0x09;
constexpr uint8_t kHaStatSelectionTimeout = 0x11;  // the target does not answer: it is gone
constexpr uint8_t kHaStatPhaseError = 0x14;

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

}  // namespace

class SimulatedAspiLayer::Event final : public AspiEvent {
public:
    explicit Event(SimulatedAspiLayer& layer) : m_layer(layer) {
        ++m_layer.m_counters.eventsCreated;
        ++m_layer.m_counters.eventsOpen;
        m_layer.m_liveEvents.push_back(this);
    }
    ~Event() override {
        --m_layer.m_counters.eventsOpen;
        std::erase(m_layer.m_liveEvents, this);
        if (m_layer.m_pending && m_layer.m_pending->event == this) m_layer.m_pending->event = nullptr;
    }
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;
    WaitResult Wait(uint32_t milliseconds) override {
        ++m_layer.m_counters.waits;
        if (m_signalled) return WaitResult::Signalled;
        auto& pending = m_layer.m_pending;
        if (pending && pending->event == this) {
            if (pending->waitFails) return WaitResult::Failed;
            if (pending->completes) {
                Complete(*pending->request, pending->delivery);
                pending.reset();
                m_signalled = true;
                return WaitResult::Signalled;
            }
        }
        m_layer.m_machine.Clock().Advance(milliseconds);
        return WaitResult::TimedOut;
    }
    void* PostProc() override { return this; }
    void Signal() { m_signalled = true; }

private:
    SimulatedAspiLayer& m_layer;
    bool m_signalled = false;
};

class SimulatedAspiLayer::Library final : public AspiLibrary {
public:
    explicit Library(SimulatedAspiLayer& layer) : m_layer(layer) {
        ++m_layer.m_counters.libraryLoads;
        ++m_layer.m_counters.librariesLoaded;
    }
    ~Library() override { --m_layer.m_counters.librariesLoaded; }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    uint32_t GetASPI32SupportInfo() override {
        const uint8_t adapters = m_layer.Config().aspiAdapters;
        return (uint32_t{adapters == 0 ? kSsNoAdapters : kSsComp} << 8) | adapters;
    }
    uint32_t SendASPI32Command(void* srb) override { return m_layer.Send(srb); }

private:
    SimulatedAspiLayer& m_layer;
};

SimulatedAspiLayer::SimulatedAspiLayer(SimulatedMachine& machine, SimulatedWindowsCounters& counters)
    : m_machine(machine), m_counters(counters) {}

SimulatedAspiLayer::~SimulatedAspiLayer() = default;

const SimulatedWindowsConfig& SimulatedAspiLayer::Config() const { return m_machine.Config().windows; }

std::optional<std::string> SimulatedAspiLayer::SystemDirectory(size_t capacity) {
    if (Config().systemDirectory.size() + 1 > capacity) return std::nullopt;
    return Config().systemDirectory;
}

std::unique_ptr<AspiLibrary> SimulatedAspiLayer::LoadAspiLibrary(const std::string& path) {
    m_counters.loadPaths.push_back(path);
    const std::string expected = Config().systemDirectory + "\\WNASPI32.DLL";
    if (!Config().aspiInstalled || Lower(path) != Lower(expected)) return nullptr;
    return std::make_unique<Library>(*this);
}

std::unique_ptr<AspiEvent> SimulatedAspiLayer::CreateCompletionEvent() {
    if (Config().aspiEventsFail) return nullptr;
    return std::make_unique<Event>(*this);
}

AspiAddress SimulatedAspiLayer::AddressOf(size_t drive) const {
    if (drive < Config().aspiAddresses.size()) return Config().aspiAddresses[drive];
    return AspiAddress{0, static_cast<uint8_t>(drive), 0};
}

std::optional<size_t> SimulatedAspiLayer::DriveAt(AspiAddress address) const {
    for (size_t i = 0; i < m_machine.DriveCount(); ++i) {
        if (AddressOf(i) == address) return i;
    }
    return std::nullopt;
}

SimulatedAspiLayer::Event* SimulatedAspiLayer::LiveEvent(const void* postProc) const {
    for (Event* event : m_liveEvents) {
        if (event == postProc) return event;
    }
    return nullptr;
}

uint32_t SimulatedAspiLayer::Send(void* srb) {
    auto* header = static_cast<SrbHeader*>(srb);
    switch (header->SRB_Cmd) {
        case kScGetDevType: Probe(*static_cast<SrbGDEVBlock*>(srb)); break;
        case kScExecScsiCmd: Exec(*static_cast<SrbExecSCSICmd*>(srb)); break;
        case kScAbortSrb: Abort(*static_cast<SrbAbort*>(srb)); break;
        default: header->SRB_Status = kSsInvalidCmd; break;
    }
    return header->SRB_Status;
}

void SimulatedAspiLayer::Probe(SrbGDEVBlock& request) {
    ++m_counters.probes;
    uint8_t status = kSsNoDevice;
    uint8_t type = 0;
    if (request.SRB_HaId >= Config().aspiAdapters) {
        status = kSsInvalidHa;
    } else {
        const AspiAddress address{request.SRB_HaId, request.SRB_Target, request.SRB_Lun};
        if (DriveAt(address)) {
            status = kSsComp;
            type = kScsiTypeCdrom;
        }
        for (const SimulatedAspiDevice& device : Config().aspiOtherDevices) {
            if (device.address == address && status != kSsComp) {
                status = kSsComp;
                type = device.deviceType;
            }
        }
    }
    const auto& stuck = Config().aspiStuckAdapters;
    const bool neverCompletes = Config().aspiProbesNeverComplete ||
                                std::find(stuck.begin(), stuck.end(), request.SRB_HaId) != stuck.end();
    if (neverCompletes || Config().aspiPending) {
        request.SRB_Status = kSsPending;
        if (!neverCompletes) m_probes.push_back(PendingProbe{&request, status, type});
        return;
    }
    if (status == kSsComp) request.SRB_DeviceType = type;
    request.SRB_Status = status;
}

void SimulatedAspiLayer::CompleteProbes() {
    for (const PendingProbe& probe : m_probes) {
        if (probe.status == kSsComp) probe.request->SRB_DeviceType = probe.deviceType;
        probe.request->SRB_Status = probe.status;
    }
    m_probes.clear();
}

void SimulatedAspiLayer::Exec(SrbExecSCSICmd& request) {
    ++m_counters.aspiCommands;
    if (request.SRB_HaId >= Config().aspiAdapters) {
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
    const SimulatedMachine::Delivery delivery =
        m_machine.Deliver(*drive, cdb.data(), request.SRB_BufPointer, request.SRB_BufLen, direction);
    Event* event = (request.SRB_Flags & kSrbEventNotify) != 0 ? LiveEvent(request.SRB_PostProc) : nullptr;
    const bool neverCompletes = delivery.fault == MachineFaultKind::NeverCompletes;
    const bool waitFails = delivery.fault == MachineFaultKind::AspiWaitFails;
    if (neverCompletes || waitFails || (Config().aspiPending && event != nullptr)) {
        request.SRB_Status = kSsPending;
        m_pending = PendingCommand{&request, event, delivery, !neverCompletes && !waitFails, waitFails};
        return;
    }
    Complete(request, delivery);
    if (event != nullptr) event->Signal();
}

// What the ASPI layer writes into a request when its command ends. The sense
// area is written only when the drive returned sense data.
void SimulatedAspiLayer::Complete(SrbExecSCSICmd& request, const SimulatedMachine::Delivery& delivery) {
    const ScsiResult& result = delivery.scsi;
    request.SRB_HaStat = 0;
    request.SRB_TargStat = result.scsiStatus;
    uint8_t status = result.scsiStatus == kScsiStatusGood ? kSsComp : kSsErr;
    if (delivery.fault && delivery.fault != MachineFaultKind::AspiStatus) {
        status = kSsErr;
        if (delivery.fault == MachineFaultKind::HostTimeOutWithSense) request.SRB_TargStat = kScsiStatusGood;
        request.SRB_HaStat = delivery.fault == MachineFaultKind::HostTimeOut ||
                                     delivery.fault == MachineFaultKind::HostTimeOutWithSense
                                 ? kHaStatTimeout
                             : delivery.fault == MachineFaultKind::DriveGone ? kHaStatSelectionTimeout
                                                                             : kHaStatPhaseError;
    }
    if (result.HasSense()) {
        const size_t count = std::min<size_t>({request.SRB_SenseLen, sizeof request.SenseArea, result.sense.size()});
        std::memcpy(request.SenseArea, result.sense.data(), count);
    }
    request.SRB_Status = delivery.fault == MachineFaultKind::AspiStatus ? delivery.aspiStatus : status;
}

void SimulatedAspiLayer::Abort(SrbAbort& abort) {
    ++m_counters.aborts;
    abort.SRB_Status = kSsAbortFail;
    if (m_pending && m_pending->request == abort.SRB_ToAbort) {
        ++m_counters.abortsOfPending;
        if (!Config().aspiAbortsNeverComplete) {
            m_pending->request->SRB_Status = kSsAborted;
            m_pending.reset();
            abort.SRB_Status = kSsComp;
        }
    }
    const auto probe = std::find_if(m_probes.begin(), m_probes.end(),
                                    [&](const PendingProbe& p) { return p.request == abort.SRB_ToAbort; });
    if (probe != m_probes.end()) {
        probe->request->SRB_Status = kSsAborted;
        m_probes.erase(probe);
        abort.SRB_Status = kSsComp;
    }
}

}  // namespace keluflash
