#pragma once
// The pass-through port on Linux: the request buffer the transport fills for
// DeviceIoControl goes to the kernel as one SG_IO call on the drive's
// descriptor, and the kernel's answer comes back the way Windows gives it.
#include <scsi/sg.h>

#include "drive/transport_ports.h"

namespace keluflash {

// The one system call behind the port, so tests can answer for the kernel.
class SgIoCall {
public:
    virtual ~SgIoCall() = default;
    // ioctl(fd, SG_IO, &header): 0 when the call went through (the outcome
    // of the command is in the header), else the errno of the failed call.
    virtual int Run(int fd, sg_io_hdr_t& header) = 0;
};

class KernelSgIoCall final : public SgIoCall {
public:
    int Run(int fd, sg_io_hdr_t& header) override;
};

// The descriptors behind the handles the drive scan gave out.
class DescriptorTable {
public:
    virtual ~DescriptorTable() = default;
    // The descriptor of a handle this process opened for a drive; -1 for any
    // other handle (0 when no drive was found, a closed one, ...).
    virtual int Descriptor(DeviceHandle handle) const = 0;
};

// Host and driver bytes of sg_io_hdr_t (the kernel's DID_* and DRIVER_*).
inline constexpr unsigned kSgHostTimeOut = 0x03;
inline constexpr unsigned kSgDriverMask = 0x0f;
inline constexpr unsigned kSgDriverTimeout = 0x06;
inline constexpr unsigned kSgDriverSense = 0x08;

class SgIoPassThroughPort final : public PassThroughPort {
public:
    SgIoPassThroughPort(const DescriptorTable& drives, SgIoCall& call) : m_drives(drives), m_call(call) {}

    // false with an errno when the call fails or the request is malformed;
    // false with 121 (time-out) or 1117 (I/O error) when the host adapter or
    // driver gave up on the command, so the transport takes it as completed;
    // true with the SCSI status and sense in the buffer otherwise.
    bool DeviceIoControl(DeviceHandle handle, PassThroughBuffer& buffer, uint32_t& lastError) override;

private:
    const DescriptorTable& m_drives;
    SgIoCall& m_call;
};

}  // namespace keluflash
