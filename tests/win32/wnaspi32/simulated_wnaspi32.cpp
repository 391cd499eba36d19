// A WNASPI32.DLL of our own for the Windows tests: the ASPI for Win32 entry
// points over a simulated machine's ASPI layer, so that the real LoadLibraryA /
// SendASPI32Command / event code of the Windows port runs end to end. The
// simulated layer answers each request; this library adds what only a real
// one can do: completing a request later on another thread and signalling the
// request's real event.
//
// Set-up, read from the environment when the library is first used:
//   KELUFLASH_SIMULATE            the simulated set-up by name ("default" if unset)
//   KELUFLASH_SIM_PROGRAMMING_MS  how long a drive programs its flash after a trigger
// and on every command:
//   KELUFLASH_ASPI_COMPLETION     "pending" (default): an event-notified command is
//                                 left pending and completed on a pool thread, which
//                                 then signals the request's event; "immediate": it
//                                 completes before SendASPI32Command returns.
// The drives' virtual clock follows real time, so a drive programs for real
// milliseconds while the caller waits with the real clock.
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>

#include "drive/aspi_request.h"
#include "drive/sim/simulated_windows_machine.h"
#include "drive/win32/windows_api.h"
#include "tests/win32/wnaspi32/simulated_aspi_statistics.h"

namespace keluflash {
namespace {

std::string Environment(const char* name, const char* fallback) {
    char value[256];
    const DWORD length = GetEnvironmentVariableA(name, value, sizeof(value));
    return length > 0 && length < sizeof(value) ? std::string(value, length) : std::string(fallback);
}

// A status delivered later on a pool thread. The event handle is a duplicate
// of the caller's, so it stays valid however the caller goes on.
struct PendingCompletion {
    SrbExecSCSICmd* srb;
    uint8_t status;
    HANDLE event;
};

void CALLBACK CompleteOnPoolThread(PTP_CALLBACK_INSTANCE, void* context) {
    std::unique_ptr<PendingCompletion> pending(static_cast<PendingCompletion*>(context));
    pending->srb->SRB_Status = pending->status;
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

// The simulated machine asks its host to pump messages; this library has no
// window of its own.
class NoUserInterface final : public UserInterface {
public:
    void PumpMessage() override {}
    void ProcessMessages() override {}
    int MessageBox(const std::string&, const std::string&, unsigned) override { return kIdOk; }
};

SimulatedMachineConfig ConfigFromEnvironment() {
    const SimulatedProfile* profile = FindSimulatedProfile(Environment("KELUFLASH_SIMULATE", "default"));
    SimulatedMachineConfig config = (profile ? *profile : SimulatedProfiles().front()).config;
    config.platform = SimulatedPlatform::Windows9x;
    config.windows.aspiInstalled = true;
    config.windows.aspiPending = false;  // this library leaves requests pending itself
    const std::string programming = Environment("KELUFLASH_SIM_PROGRAMMING_MS", "");
    if (!programming.empty()) {
        for (SimulatedDriveConfig& drive : config.drives) {
            drive.programmingMilliseconds = static_cast<uint32_t>(std::atoi(programming.c_str()));
        }
    }
    return config;
}

class SimulatedAspiLayer {
public:
    SimulatedAspiLayer()
        : m_machine(ConfigFromEnvironment(), m_ui),
          m_library(m_machine.Ports().aspi.LoadLibrary(m_machine.Config().windows.systemDirectory + "\\WNASPI32.DLL")),
          m_startTick(GetTickCount()) {}

    uint32_t SupportInfo() {
        std::lock_guard lock(m_mutex);
        return m_library->GetASPI32SupportInfo();
    }

    uint32_t Send(void* request) {
        std::lock_guard lock(m_mutex);
        FollowRealTime();
        if (static_cast<SrbHeader*>(request)->SRB_Cmd != kScExecScsiCmd) {
            if (static_cast<SrbHeader*>(request)->SRB_Cmd == kScAbortSrb) ++m_statistics.aborts;
            return m_library->SendASPI32Command(request);
        }
        auto& srb = *static_cast<SrbExecSCSICmd*>(request);
        ++m_statistics.commands;
        m_statistics.lastBufLen = srb.SRB_BufLen;
        const uint8_t status = static_cast<uint8_t>(m_library->SendASPI32Command(request));
        if (status == kSsPending) {
            ++m_statistics.neverCompleted;
            return status;
        }
        const bool notify = (srb.SRB_Flags & kSrbEventNotify) != 0 && srb.SRB_PostProc != nullptr;
        if (!notify || Environment("KELUFLASH_ASPI_COMPLETION", "pending") == "immediate") {
            ++m_statistics.completedAtOnce;
            if (notify) SetEvent(srb.SRB_PostProc);
            return status;
        }
        HANDLE event = nullptr;
        if (!DuplicateHandle(GetCurrentProcess(), srb.SRB_PostProc, GetCurrentProcess(), &event, 0, FALSE,
                             DUPLICATE_SAME_ACCESS)) {
            return srb.SRB_Status = kSsErr;
        }
        PinThisLibrary();
        // The rest of the block is written; its status says "pending" until
        // the pool thread completes it.
        srb.SRB_Status = kSsPending;
        auto pending = std::make_unique<PendingCompletion>(PendingCompletion{&srb, status, event});
        if (!TrySubmitThreadpoolCallback(&CompleteOnPoolThread, pending.get(), nullptr)) {
            CloseHandle(event);
            return srb.SRB_Status = kSsErr;
        }
        pending.release();  // the pool callback owns it now
        ++m_statistics.completedByEvent;
        return kSsPending;
    }

    void Statistics(SimulatedAspiStatistics& out) {
        std::lock_guard lock(m_mutex);
        out = m_statistics;
    }

private:
    void FollowRealTime() {
        VirtualClock& clock = m_machine.Clock();
        const uint64_t elapsed = GetTickCount() - m_startTick;
        if (elapsed > clock.Now()) clock.Advance(elapsed - clock.Now());
    }

    std::mutex m_mutex;
    NoUserInterface m_ui;
    SimulatedWindowsMachine m_machine;
    std::unique_ptr<AspiLibrary> m_library;
    DWORD m_startTick;
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
