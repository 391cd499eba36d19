// A WNASPI32.DLL of our own for the Windows tests: the ASPI for Win32 entry
// points over simulated KELU drives, so that the real LoadLibraryA /
// SendASPI32Command / event code of the Windows port runs end to end.
//
// Set-up, read from the environment when the library is first used:
//   KELUFLASH_SIMULATE        the simulated set-up by name ("default" if unset)
//   KELUFLASH_SIM_PROGRAMMING_MS  how long a drive programs its flash after a trigger
// and on every command:
//   KELUFLASH_ASPI_COMPLETION "pending" (default): an event-notified command is
//                             left pending and completed on a pool thread, which
//                             then signals the request's event; "immediate": it
//                             completes before SendASPI32Command returns.
// Drives sit on adapter i / 8, target i % 8, LUN 0. The drives' virtual clock
// follows real time, so a drive programs for real milliseconds while the
// caller waits with the real clock.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "drive/aspi_request.h"
#include "drive/sim/simulated_drive.h"
#include "drive/sim/simulated_machine.h"
#include "drive/sim/virtual_clock.h"
#include "drive/win32/windows_api.h"
#include "tests/win32/wnaspi32/simulated_aspi_statistics.h"

namespace keluflash {
namespace {

inline constexpr uint8_t kCdromDeviceType = 5;
inline constexpr uint8_t kHaStatSelectionTimeout = 0x11;
inline constexpr int kTargetsPerAdapter = 8;

std::string Environment(const char* name, const char* fallback) {
    char value[256];
    const DWORD length = GetEnvironmentVariableA(name, value, sizeof(value));
    return length > 0 && length < sizeof(value) ? std::string(value, length) : std::string(fallback);
}

// What a completed SC_EXEC_SCSI_CMD leaves in its request block.
struct Completion {
    uint8_t status = kSsComp;
    uint8_t haStat = 0;
    uint8_t targStat = 0;
    std::array<uint8_t, 18> sense{};
    bool withSense = false;

    void WriteTo(SrbExecSCSICmd& srb) const {
        srb.SRB_HaStat = haStat;
        srb.SRB_TargStat = targStat;
        if (withSense) {
            const size_t length = std::min<size_t>({srb.SRB_SenseLen, sense.size(), sizeof(srb.SenseArea)});
            std::memcpy(srb.SenseArea, sense.data(), length);
        }
        srb.SRB_Status = status;  // last: a caller polling the status sees a finished block
    }
};

// A completion delivered later on a pool thread. The event handle is a
// duplicate of the caller's, so it stays valid however the caller goes on.
struct PendingCompletion {
    SrbExecSCSICmd* srb;
    Completion completion;
    HANDLE event;
};

void CALLBACK CompleteOnPoolThread(PTP_CALLBACK_INSTANCE, void* context) {
    std::unique_ptr<PendingCompletion> pending(static_cast<PendingCompletion*>(context));
    pending->completion.WriteTo(*pending->srb);
    SetEvent(pending->event);
    CloseHandle(pending->event);
}

// Pool callbacks may still be finishing in this library's code when the
// caller unloads it; pinned, it stays mapped until the process ends.
void PinThisLibrary() {
    HMODULE self = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCSTR>(&CompleteOnPoolThread), &self);
}

class SimulatedAspiLayer {
public:
    SimulatedAspiLayer() : m_startTick(GetTickCount()) {
        const std::string name = Environment("KELUFLASH_SIMULATE", "default");
        const SimulatedProfile* profile = FindSimulatedProfile(name);
        if (profile == nullptr) profile = &SimulatedProfiles().front();
        const std::string programming = Environment("KELUFLASH_SIM_PROGRAMMING_MS", "");
        for (SimulatedDriveConfig config : profile->config.drives) {
            if (!programming.empty()) config.programmingMilliseconds = static_cast<uint32_t>(std::atoi(programming.c_str()));
            m_drives.push_back(std::make_unique<SimulatedDrive>(config, m_clock));
        }
    }

    uint32_t SupportInfo() {
        const size_t adapters = (m_drives.size() + kTargetsPerAdapter - 1) / kTargetsPerAdapter;
        return (uint32_t{kSsComp} << 8) | static_cast<uint32_t>(adapters == 0 ? 1 : adapters);
    }

    uint32_t Send(void* request) {
        auto* header = static_cast<SrbHeader*>(request);
        switch (header->SRB_Cmd) {
            case kScGetDevType: return GetDeviceType(*static_cast<SrbGDEVBlock*>(request));
            case kScExecScsiCmd: return Execute(*static_cast<SrbExecSCSICmd*>(request));
            case kScAbortSrb: return Abort(*static_cast<SrbAbort*>(request));
            default: return header->SRB_Status = kSsInvalidCmd;
        }
    }

    void Statistics(SimulatedAspiStatistics& out) {
        std::lock_guard lock(m_mutex);
        out = m_statistics;
    }

private:
    SimulatedDrive* Drive(uint8_t adapter, uint8_t target, uint8_t lun) {
        const size_t index = size_t{adapter} * kTargetsPerAdapter + target;
        if (lun != 0 || target >= kTargetsPerAdapter || index >= m_drives.size()) return nullptr;
        return m_drives[index].get();
    }

    uint32_t GetDeviceType(SrbGDEVBlock& srb) {
        std::lock_guard lock(m_mutex);
        if (SimulatedDrive* drive = Drive(srb.SRB_HaId, srb.SRB_Target, srb.SRB_Lun)) {
            (void)drive;
            srb.SRB_DeviceType = kCdromDeviceType;
            return srb.SRB_Status = kSsComp;
        }
        return srb.SRB_Status = kSsNoDevice;
    }

    uint32_t Execute(SrbExecSCSICmd& srb) {
        std::lock_guard lock(m_mutex);
        ++m_statistics.commands;
        m_statistics.lastBufLen = srb.SRB_BufLen;
        SimulatedDrive* drive = Drive(srb.SRB_HaId, srb.SRB_Target, srb.SRB_Lun);
        if (drive == nullptr) return srb.SRB_Status = kSsNoDevice;

        FollowRealTime();
        const uint8_t direction = srb.SRB_Flags & (kDirectionIn | kDirectionOut);
        const ScsiResult result = drive->Execute(srb.CDBByte, srb.SRB_BufPointer, srb.SRB_BufLen, direction);
        if (!result.completed) {
            ++m_statistics.neverCompleted;
            return srb.SRB_Status = kSsPending;
        }
        Completion completion;
        if (result.transportError) {
            completion.status = kSsErr;
            completion.haStat = kHaStatSelectionTimeout;
        } else if (result.scsiStatus != 0) {
            completion.status = kSsErr;
            completion.targStat = result.scsiStatus;
            completion.sense = result.sense;
            completion.withSense = true;
        }

        const bool byEvent = (srb.SRB_Flags & kSrbEventNotify) != 0 && srb.SRB_PostProc != nullptr &&
                             Environment("KELUFLASH_ASPI_COMPLETION", "pending") != "immediate";
        if (!byEvent) {
            ++m_statistics.completedAtOnce;
            completion.WriteTo(srb);
            if (srb.SRB_Flags & kSrbEventNotify) SetEvent(srb.SRB_PostProc);
            return srb.SRB_Status;
        }
        HANDLE event = nullptr;
        if (!DuplicateHandle(GetCurrentProcess(), srb.SRB_PostProc, GetCurrentProcess(), &event, 0, FALSE,
                             DUPLICATE_SAME_ACCESS)) {
            return srb.SRB_Status = kSsErr;
        }
        PinThisLibrary();
        ++m_statistics.completedByEvent;
        srb.SRB_Status = kSsPending;
        auto pending = std::make_unique<PendingCompletion>(PendingCompletion{&srb, completion, event});
        if (!TrySubmitThreadpoolCallback(&CompleteOnPoolThread, pending.get(), nullptr)) {
            CloseHandle(event);
            return srb.SRB_Status = kSsErr;
        }
        pending.release();  // the pool callback owns it now
        return kSsPending;
    }

    uint32_t Abort(SrbAbort& srb) {
        std::lock_guard lock(m_mutex);
        ++m_statistics.aborts;
        if (auto* target = static_cast<SrbExecSCSICmd*>(srb.SRB_ToAbort); target && target->SRB_Status == kSsPending) {
            target->SRB_Status = kSsAborted;
        }
        return srb.SRB_Status = kSsComp;
    }

    void FollowRealTime() {
        const uint64_t elapsed = GetTickCount() - m_startTick;
        if (elapsed > m_clock.Now()) m_clock.Advance(elapsed - m_clock.Now());
    }

    std::mutex m_mutex;
    VirtualClock m_clock;
    DWORD m_startTick;
    std::vector<std::unique_ptr<SimulatedDrive>> m_drives;
    SimulatedAspiStatistics m_statistics;
};

// The library's one state: the ASPI layer lives as long as the library, as a
// real ASPI layer's adapters do. Built on first use, not at load time.
SimulatedAspiLayer& Layer() {
    static SimulatedAspiLayer layer;
    return layer;
}

}  // namespace
}  // namespace keluflash

extern "C" {

DWORD __cdecl GetASPI32SupportInfo() { return keluflash::Layer().SupportInfo(); }

DWORD __cdecl SendASPI32Command(void* srb) { return keluflash::Layer().Send(srb); }

void __cdecl GetSimulatedAspiStatistics(keluflash::SimulatedAspiStatistics* statistics) {
    keluflash::Layer().Statistics(*statistics);
}

}  // extern "C"
