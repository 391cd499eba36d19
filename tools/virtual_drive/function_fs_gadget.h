#pragma once
// A USB gadget made of one FunctionFS function (interface 08/06/50: mass
// storage, SCSI command set, Bulk-Only; one bulk-in and one bulk-out
// endpoint), put together in configfs and bound to a USB device controller,
// normally dummy_hcd's virtual one, so the running kernel's own USB host
// side, usb-storage, sees a USB drive. Everything it creates in configfs, the
// FunctionFS mount and every descriptor is undone when it goes away.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "drive/linux/unique_fd.h"
#include "tools/virtual_drive/bulk_only_transport.h"

namespace keluflash::virtual_drive {

struct GadgetOptions {
    std::string udc;         // empty: the first dummy_udc.N
    std::string product;     // USB product string (the drive's INQUIRY product)
};

// Why the gadget could not be made, in words for the person who started it.
struct GadgetError {
    std::string message;
};

class FunctionFsGadget {
    struct Key {};

public:
    explicit FunctionFsGadget(Key) {}
    // Checks root, configfs, FunctionFS and a controller, then builds the
    // gadget and writes the function's descriptors; not yet bound.
    static std::unique_ptr<FunctionFsGadget> Create(const GadgetOptions& options, GadgetError& error);
    ~FunctionFsGadget();
    FunctionFsGadget(const FunctionFsGadget&) = delete;
    FunctionFsGadget& operator=(const FunctionFsGadget&) = delete;

    // Binds the gadget to the controller: the host sees the device attach.
    bool Bind(GadgetError& error);
    // Unbinds it: to the host the device is unplugged.
    void Unbind();
    bool Bound() const { return m_bound; }

    const std::string& Udc() const { return m_udc; }
    int ControlEndpoint() const { return m_ep0.Get(); }
    int BulkIn() const { return m_bulkIn.Get(); }
    int BulkOut() const { return m_bulkOut.Get(); }

private:
    bool Build(const GadgetOptions& options, GadgetError& error);

    // Undo steps, run last first when the gadget goes away.
    class Cleanup {
    public:
        ~Cleanup() { RunAll(); }
        void Push(std::function<void()> step) { m_steps.push_back(std::move(step)); }
        void RunAll() {
            while (!m_steps.empty()) {
                std::function<void()> step = std::move(m_steps.back());
                m_steps.pop_back();
                step();
            }
        }

    private:
        std::vector<std::function<void()>> m_steps;
    };

    std::string m_udc;
    std::string m_gadgetDir;
    bool m_bound = false;
    Cleanup m_cleanup;  // destroyed after the descriptors below are closed
    UniqueFd m_ep0;
    UniqueFd m_bulkIn;
    UniqueFd m_bulkOut;
};

// The bulk pipes over the gadget's endpoint files. `cutOff` tells a transfer
// to give up (a reset came, or the program stops); a blocked transfer is
// woken by a signal to its thread.
class FunctionFsPipes final : public BulkPipes {
public:
    FunctionFsPipes(const FunctionFsGadget& gadget, std::function<bool()> cutOff)
        : m_in(gadget.BulkIn()), m_out(gadget.BulkOut()), m_cutOff(std::move(cutOff)) {}

    bool Receive(uint8_t* data, uint32_t length, uint32_t& received) override;
    bool Send(const uint8_t* data, uint32_t length) override;
    bool HaltIn() override;
    bool HaltOut() override;

private:
    int m_in;
    int m_out;
    std::function<bool()> m_cutOff;
};

// The class requests of Bulk-Only on the control endpoint.
enum class ControlEvent {
    None,
    Reset,       // Bulk-Only Mass Storage Reset (acknowledged)
    Disabled,    // the host reset the port or chose another configuration
    Enabled,
    Unbound,
};
// Reads and answers one batch of FunctionFS events on ep0: Get Max LUN gets
// 0, the reset is acknowledged, every other request is stalled. Calls
// `onEvent` for each event that matters; false when ep0 failed (EINTR too).
bool ServeControlEvents(int ep0, const std::function<void(ControlEvent, const std::string&)>& onEvent);

// The sg and sr nodes the kernel made for the drive behind the dummy_hcd host
// of the controller `udc` (dummy_udc.N pairs with dummy_hcd.N) whose vendor
// and product match, or empty strings.
struct AttachedNodes {
    std::string generic;   // "/dev/sg1"
    std::string block;     // "/dev/sr1"
};
AttachedNodes FindAttachedNodes(const std::string& udc, const std::string& vendor, const std::string& product);

}  // namespace keluflash::virtual_drive
