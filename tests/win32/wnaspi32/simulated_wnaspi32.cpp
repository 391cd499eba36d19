// A WNASPI32.DLL of our own for the Windows tests: the ASPI for Win32 entry
// points over a simulated machine's ASPI layer, so that the real LoadLibraryA /
// SendASPI32Command / event code of the Windows port runs end to end. The
// simulated layer answers each request; this library adds what only a real
// one can do: completing a request later on another thread and signalling the
// request's real event.
//
// The caller's request blocks are read and written by their published byte
// offsets, from a table of this library's own, never through the program's
// declarations of them: a field the program puts in the wrong place is read
// from the right one here, and the end-to-end test fails. The simulated layer
// gets a copy of each block (one per caller's block, kept while the layer may
// still refer to it) and its answer is copied back by the same table.
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
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "drive/sim/simulated_windows_machine.h"
#include "drive/win32/windows_api.h"
#include "drive/windows/aspi_request.h"
#include "tests/win32/wnaspi32/simulated_aspi_statistics.h"

namespace keluflash {
namespace {

std::string Environment(const char* name, const char* fallback) {
    char value[256];
    const DWORD length = GetEnvironmentVariableA(name, value, sizeof(value));
    return length > 0 && length < sizeof(value) ? std::string(value, length) : std::string(fallback);
}

// The published ASPI for Win32 request blocks of a 32-bit program, by byte
// offset. Every block starts with the same header.
namespace published {
constexpr size_t kCmd = 0;
constexpr size_t kStatus = 1;
constexpr size_t kHaId = 2;
constexpr size_t kFlags = 3;
// SC_GET_DEV_TYPE (12 bytes)
constexpr size_t kGdevTarget = 8;
constexpr size_t kGdevLun = 9;
constexpr size_t kGdevDeviceType = 10;
// SC_EXEC_SCSI_CMD (80 bytes)
constexpr size_t kExecTarget = 8;
constexpr size_t kExecLun = 9;
constexpr size_t kExecBufLen = 12;      // 4 bytes
constexpr size_t kExecBufPointer = 16;  // 4 bytes
constexpr size_t kExecSenseLen = 20;
constexpr size_t kExecCdbLen = 21;
constexpr size_t kExecHaStat = 22;
constexpr size_t kExecTargStat = 23;
constexpr size_t kExecPostProc = 24;  // 4 bytes
constexpr size_t kExecCdb = 48;       // 16 bytes
constexpr size_t kExecSenseArea = 64;  // 16 bytes, to the end of the block
constexpr size_t kExecCdbSize = 16;
constexpr size_t kExecSenseSize = 16;
// SC_ABORT_SRB (12 bytes)
constexpr size_t kAbortToAbort = 8;  // 4 bytes
}  // namespace published

uint8_t* Bytes(void* block) { return static_cast<uint8_t*>(block); }

uint8_t ReadByte(void* block, size_t offset) {
    return *static_cast<volatile uint8_t*>(Bytes(block) + offset);
}

void WriteByte(void* block, size_t offset, uint8_t value) {
    *static_cast<volatile uint8_t*>(Bytes(block) + offset) = value;
}

uint32_t ReadDword(void* block, size_t offset) {
    uint32_t value = 0;
    std::memcpy(&value, Bytes(block) + offset, sizeof value);
    return value;
}

// A pointer field: 4 bytes in a 32-bit program.
void* ReadPointer(void* block, size_t offset) {
    static_assert(sizeof(void*) == 4, "the blocks of a 32-bit program");
    void* value = nullptr;
    std::memcpy(&value, Bytes(block) + offset, sizeof value);
    return value;
}

// A critical section held for a scope: one lock that Windows XP has.
class CriticalSection {
public:
    CriticalSection() { InitializeCriticalSection(&m_section); }
    ~CriticalSection() { DeleteCriticalSection(&m_section); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;
    void Lock() { EnterCriticalSection(&m_section); }
    void Unlock() { LeaveCriticalSection(&m_section); }

private:
    CRITICAL_SECTION m_section;
};

class Locked {
public:
    explicit Locked(CriticalSection& section) : m_section(section) { m_section.Lock(); }
    ~Locked() { m_section.Unlock(); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

private:
    CriticalSection& m_section;
};

// A status delivered later on a pool thread into the caller's block. The
// event handle is a duplicate of the caller's, so it stays valid however the
// caller goes on.
struct PendingCompletion {
    void* block;
    uint8_t status;
    HANDLE event;
};

void CALLBACK CompleteOnPoolThread(PTP_CALLBACK_INSTANCE, void* context) {
    std::unique_ptr<PendingCompletion> pending(static_cast<PendingCompletion*>(context));
    WriteByte(pending->block, published::kStatus, pending->status);
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
    int ShowMessage(const std::string&, const std::string&, unsigned) override { return kIdOk; }
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
          m_library(m_machine.Ports().aspi.LoadAspiLibrary(m_machine.Config().windows.systemDirectory + "\\WNASPI32.DLL")),
          m_startTick(GetTickCount()) {}

    uint32_t SupportInfo() {
        Locked lock(m_mutex);
        return m_library->GetASPI32SupportInfo();
    }

    uint32_t Send(void* request) {
        Locked lock(m_mutex);
        FollowRealTime();
        switch (ReadByte(request, published::kCmd)) {
            case kScGetDevType: return Probe(request);
            case kScExecScsiCmd: return Execute(request);
            case kScAbortSrb: return Abort(request);
            default: return m_library->SendASPI32Command(request);
        }
    }

    void Statistics(SimulatedAspiStatistics& out) {
        Locked lock(m_mutex);
        out = m_statistics;
    }

private:
    void FollowRealTime() {
        VirtualClock& clock = m_machine.Clock();
        const uint64_t elapsed = GetTickCount() - m_startTick;
        if (elapsed > clock.Now()) clock.Advance(elapsed - clock.Now());
    }

    uint32_t Probe(void* block) {
        SrbGDEVBlock& copy = m_probes[block];
        copy.SRB_Cmd = kScGetDevType;
        copy.SRB_HaId = ReadByte(block, published::kHaId);
        copy.SRB_Flags = ReadByte(block, published::kFlags);
        copy.SRB_Target = ReadByte(block, published::kGdevTarget);
        copy.SRB_Lun = ReadByte(block, published::kGdevLun);
        m_library->SendASPI32Command(&copy);
        WriteByte(block, published::kGdevDeviceType, copy.SRB_DeviceType);
        WriteByte(block, published::kStatus, copy.SRB_Status);
        return copy.SRB_Status;
    }

    uint32_t Execute(void* block) {
        ++m_statistics.commands;
        SrbExecSCSICmd& copy = m_commands[block];
        copy.SRB_Cmd = kScExecScsiCmd;
        copy.SRB_HaId = ReadByte(block, published::kHaId);
        copy.SRB_Flags = ReadByte(block, published::kFlags);
        copy.SRB_Target = ReadByte(block, published::kExecTarget);
        copy.SRB_Lun = ReadByte(block, published::kExecLun);
        copy.SRB_BufLen = ReadDword(block, published::kExecBufLen);
        copy.SRB_BufPointer = static_cast<uint8_t*>(ReadPointer(block, published::kExecBufPointer));
        copy.SRB_SenseLen = ReadByte(block, published::kExecSenseLen);
        copy.SRB_CDBLen = ReadByte(block, published::kExecCdbLen);
        copy.SRB_PostProc = ReadPointer(block, published::kExecPostProc);
        std::memcpy(copy.CDBByte, Bytes(block) + published::kExecCdb, published::kExecCdbSize);
        // The layer writes sense data only when there is some; the rest of
        // the caller's sense area stays as it was.
        std::memcpy(copy.SenseArea, Bytes(block) + published::kExecSenseArea, published::kExecSenseSize);
        m_statistics.lastBufLen = copy.SRB_BufLen;

        const uint8_t status = static_cast<uint8_t>(m_library->SendASPI32Command(&copy));
        WriteByte(block, published::kExecHaStat, copy.SRB_HaStat);
        WriteByte(block, published::kExecTargStat, copy.SRB_TargStat);
        std::memcpy(Bytes(block) + published::kExecSenseArea, copy.SenseArea, published::kExecSenseSize);
        if (status == kSsPending) {
            ++m_statistics.neverCompleted;
            WriteByte(block, published::kStatus, status);
            return status;
        }
        HANDLE caller = ReadPointer(block, published::kExecPostProc);
        const bool notify = (copy.SRB_Flags & kSrbEventNotify) != 0 && caller != nullptr;
        if (!notify || Environment("KELUFLASH_ASPI_COMPLETION", "pending") == "immediate") {
            ++m_statistics.completedAtOnce;
            WriteByte(block, published::kStatus, status);
            if (notify) SetEvent(caller);
            return status;
        }
        HANDLE event = nullptr;
        if (!DuplicateHandle(GetCurrentProcess(), caller, GetCurrentProcess(), &event, 0, FALSE,
                             DUPLICATE_SAME_ACCESS)) {
            WriteByte(block, published::kStatus, kSsErr);
            return kSsErr;
        }
        PinThisLibrary();
        // The rest of the block is written; its status says "pending" until
        // the pool thread completes it.
        WriteByte(block, published::kStatus, kSsPending);
        auto pending = std::make_unique<PendingCompletion>(PendingCompletion{block, status, event});
        if (!TrySubmitThreadpoolCallback(&CompleteOnPoolThread, pending.get(), nullptr)) {
            CloseHandle(event);
            WriteByte(block, published::kStatus, kSsErr);
            return kSsErr;
        }
        pending.release();  // the pool callback owns it now
        ++m_statistics.completedByEvent;
        return kSsPending;
    }

    // The layer knows the copies, so the request to abort is named by its
    // copy; an aborted request's new status goes back into the caller's block.
    uint32_t Abort(void* block) {
        ++m_statistics.aborts;
        void* target = ReadPointer(block, published::kAbortToAbort);
        SrbAbort copy{};
        copy.SRB_Cmd = kScAbortSrb;
        copy.SRB_HaId = ReadByte(block, published::kHaId);
        const auto command = m_commands.find(target);
        const auto probe = m_probes.find(target);
        copy.SRB_ToAbort = command != m_commands.end() ? static_cast<void*>(&command->second)
                           : probe != m_probes.end()  ? static_cast<void*>(&probe->second)
                                                      : target;
        m_library->SendASPI32Command(&copy);
        if (command != m_commands.end() && command->second.SRB_Status == kSsAborted)
            WriteByte(target, published::kStatus, kSsAborted);
        if (probe != m_probes.end() && probe->second.SRB_Status == kSsAborted)
            WriteByte(target, published::kStatus, kSsAborted);
        WriteByte(block, published::kStatus, copy.SRB_Status);
        return copy.SRB_Status;
    }

    CriticalSection m_mutex;
    // One copy per caller's block, as long as the library lives: the layer
    // may hold on to a request it has not completed.
    std::map<void*, SrbExecSCSICmd> m_commands;
    std::map<void*, SrbGDEVBlock> m_probes;
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
