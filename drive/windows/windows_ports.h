#pragma once
// The Windows services the ASPI and NT pass-through transports call, cut where
// the Windows program calls the operating system. The real Windows machine and
// the simulated Windows machine implement them.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "drive/device_entry.h"
#include "drive/host_ports.h"
#include "drive/windows/pass_through_request.h"

namespace keluflash {

// GetVersionExA: true on the NT family, where the pass-through path is used.
class PlatformPort {
public:
    virtual ~PlatformPort() = default;
    virtual bool IsNtFamily() = 0;
};

// An event the ASPI layer signals when a pending request completes.
class AspiEvent {
public:
    virtual ~AspiEvent() = default;
    enum class WaitResult { Signalled, TimedOut, Failed };
    virtual WaitResult Wait(uint32_t milliseconds) = 0;
    // The value that goes into SRB_PostProc.
    virtual void* PostProc() = 0;
};

// A loaded WNASPI32.DLL with its two entry points.
class AspiLibrary {
public:
    virtual ~AspiLibrary() = default;
    virtual uint32_t GetASPI32SupportInfo() = 0;
    virtual uint32_t SendASPI32Command(void* srb) = 0;
};

class AspiPort {
public:
    virtual ~AspiPort() = default;
    // GetSystemDirectoryA into a buffer of `capacity` characters; nullopt when
    // the path does not fit or the call fails.
    virtual std::optional<std::string> SystemDirectory(size_t capacity) = 0;
    // LoadLibraryA + GetProcAddress; null when the library cannot be loaded.
    virtual std::unique_ptr<AspiLibrary> LoadAspiLibrary(const std::string& path) = 0;
    // CreateEventA (manual reset, not signalled); null when it cannot be made.
    virtual std::unique_ptr<AspiEvent> CreateCompletionEvent() = 0;
};

// The control codes on a drive letter's volume that move no data (winioctl.h).
inline constexpr uint32_t kFsctlLockVolume = 0x00090018;
inline constexpr uint32_t kFsctlUnlockVolume = 0x0009001C;
inline constexpr uint32_t kFsctlDismountVolume = 0x00090020;

// DeviceIoControl on an open device handle: IOCTL_SCSI_PASS_THROUGH_DIRECT,
// and the volume's control codes.
class PassThroughPort {
public:
    virtual ~PassThroughPort() = default;
    // Runs the request; on failure returns false and sets lastError to the
    // operating system's error code (121 and 1117 mean "completed" to callers).
    virtual bool DeviceIoControl(DeviceHandle handle, PassThroughBuffer& buffer, uint32_t& lastError) = 0;
    // One of the kFsctl codes, with no buffers; on failure returns false and
    // sets lastError.
    virtual bool VolumeControl(DeviceHandle handle, uint32_t controlCode, uint32_t& lastError) = 0;
};

inline constexpr unsigned kDriveCdrom = 5;
inline constexpr DeviceHandle kInvalidHandle = ~DeviceHandle{0};

// The drive letters A-Y: their type and their device handles. The port owns
// every handle it opens and closes them when it is destroyed.
class DriveLetterPort {
public:
    virtual ~DriveLetterPort() = default;
    virtual unsigned DriveType(char letter) = 0;     // GetDriveTypeA("X:\\")
    virtual DeviceHandle Open(char letter) = 0;         // CreateFileA("\\\\.\\X:"); kInvalidHandle on failure
    virtual void Close(DeviceHandle handle) = 0;        // CloseHandle
    // For the command-line listing: the node behind a letter and why it could
    // not be opened (empty when it was).
    virtual std::string DevicePath(char letter) = 0;
    virtual std::string OpenFailure(char letter) = 0;
    // The system's error code of that failure (5: access denied); 0 when the
    // open succeeded or the code is not known.
    virtual uint32_t OpenError(char) { return 0; }
};

inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorSharingViolation = 32;
inline constexpr uint32_t kErrorLockViolation = 33;
inline constexpr uint32_t kErrorDriveLocked = 108;  // "The disk is in use or locked by another process."
inline constexpr uint32_t kErrorBusy = 170;         // "The requested resource is in use."
// A drive with no disc: STATUS_NO_MEDIA_IN_DEVICE and STATUS_DEVICE_NOT_READY
// come back as ERROR_NOT_READY, STATUS_NO_MEDIA as ERROR_NO_MEDIA_IN_DRIVE.
inline constexpr uint32_t kErrorNotReady = 21;
inline constexpr uint32_t kErrorNoMediaInDrive = 1112;
// A volume that is not locked, asked to unlock.
inline constexpr uint32_t kErrorNotLocked = 158;

// FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM) into a buffer of `capacity`
// characters. nullopt when it fails, with the failure's own error code.
class SystemErrorText {
public:
    virtual ~SystemErrorText() = default;
    virtual std::optional<std::string> SystemMessage(uint32_t error, size_t capacity, uint32_t& formatError) = 0;
};

// Everything the two Windows transports need, chosen once by main().
struct WindowsPorts {
    PlatformPort& platform;
    AspiPort& aspi;
    PassThroughPort& passThrough;
    DriveLetterPort& driveLetters;
    SystemErrorText& errorText;
    UserInterface& ui;
    Clock& clock;            // bounds the ASPI device probe and the abort wait
};

}  // namespace keluflash
