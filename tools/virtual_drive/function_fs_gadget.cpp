#include "tools/virtual_drive/function_fs_gadget.h"

#include <fcntl.h>
#include <linux/usb/ch9.h>
#include <linux/usb/functionfs.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

namespace keluflash::virtual_drive {

namespace {

namespace fs = std::filesystem;

constexpr const char* kConfigfs = "/sys/kernel/config";
constexpr const char* kGadgetRoot = "/sys/kernel/config/usb_gadget";
constexpr const char* kUdcClass = "/sys/class/udc";
constexpr const char* kModulesHint = "modprobe -a dummy_hcd libcomposite usb_f_fs usb-storage sg sr_mod";

constexpr uint8_t kClassMassStorage = 0x08;
constexpr uint8_t kSubclassScsi = 0x06;
constexpr uint8_t kProtocolBulkOnly = 0x50;
constexpr uint8_t kRequestGetMaxLun = 0xFE;
constexpr uint8_t kRequestBulkOnlyReset = 0xFF;

std::string ErrnoText(int error) { return std::generic_category().message(error); }

// Little-endian byte building for the FunctionFS blobs.
class Bytes {
public:
    void U8(uint8_t value) { m_bytes.push_back(value); }
    void Le16(uint16_t value) {
        U8(static_cast<uint8_t>(value));
        U8(static_cast<uint8_t>(value >> 8));
    }
    void Le32(uint32_t value) {
        Le16(static_cast<uint16_t>(value));
        Le16(static_cast<uint16_t>(value >> 16));
    }
    void Text(const std::string& text) {
        m_bytes.insert(m_bytes.end(), text.begin(), text.end());
        U8(0);
    }
    void PatchLe32(size_t offset, uint32_t value) {
        for (int i = 0; i < 4; ++i) m_bytes[offset + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
    }
    const std::vector<uint8_t>& Get() const { return m_bytes; }

private:
    std::vector<uint8_t> m_bytes;
};

// One interface with a bulk-in (first: ep1) and a bulk-out (ep2) endpoint.
void Interface(Bytes& out, uint16_t maxPacket) {
    out.U8(USB_DT_INTERFACE_SIZE);
    out.U8(USB_DT_INTERFACE);
    out.U8(0);  // interface number (FunctionFS renumbers)
    out.U8(0);  // alternate setting
    out.U8(2);  // endpoints
    out.U8(kClassMassStorage);
    out.U8(kSubclassScsi);
    out.U8(kProtocolBulkOnly);
    out.U8(1);  // iInterface: the first string
    for (const uint8_t address : {uint8_t{1 | USB_DIR_IN}, uint8_t{2 | USB_DIR_OUT}}) {
        out.U8(USB_DT_ENDPOINT_SIZE);
        out.U8(USB_DT_ENDPOINT);
        out.U8(address);
        out.U8(USB_ENDPOINT_XFER_BULK);
        out.Le16(maxPacket);
        out.U8(0);
    }
}

std::vector<uint8_t> Descriptors() {
    Bytes out;
    out.Le32(FUNCTIONFS_DESCRIPTORS_MAGIC_V2);
    out.Le32(0);  // length, patched below
    out.Le32(FUNCTIONFS_HAS_FS_DESC | FUNCTIONFS_HAS_HS_DESC);
    out.Le32(3);  // full-speed descriptors
    out.Le32(3);  // high-speed descriptors
    Interface(out, 64);
    Interface(out, 512);
    out.PatchLe32(4, static_cast<uint32_t>(out.Get().size()));
    return out.Get();
}

std::vector<uint8_t> Strings() {
    Bytes out;
    out.Le32(FUNCTIONFS_STRINGS_MAGIC);
    out.Le32(0);
    out.Le32(1);  // strings per language
    out.Le32(1);  // languages
    out.Le16(0x0409);
    out.Text("keluflash virtual drive");
    out.PatchLe32(4, static_cast<uint32_t>(out.Get().size()));
    return out.Get();
}

bool WriteText(const fs::path& file, const std::string& text, int& error) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return false;
    }
    const UniqueFd owned(fd);
    if (::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        error = errno;
        return false;
    }
    return true;
}

bool WriteAll(int fd, const std::vector<uint8_t>& bytes) {
    return ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

bool MountedAt(const std::string& type, const std::string& where) {
    std::ifstream in("/proc/mounts");
    std::string device, point, kind;
    while (in >> device >> point >> kind) {
        if (kind == type && point == where) return true;
        std::string rest;
        std::getline(in, rest);
    }
    return false;
}

std::string ReadAttribute(const fs::path& file) {
    std::ifstream in(file);
    std::string text;
    std::getline(in, text);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\n')) text.pop_back();
    return text;
}

std::string Trimmed(std::string text) {
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

}  // namespace

std::unique_ptr<FunctionFsGadget> FunctionFsGadget::Create(const GadgetOptions& options, GadgetError& error) {
    if (::geteuid() != 0) {
        error.message = "needs root: it builds a USB gadget in configfs, mounts FunctionFS and binds the gadget "
                        "to a USB device controller (run it with sudo)";
        return nullptr;
    }
    std::error_code ec;
    if (!fs::exists(kGadgetRoot, ec)) {
        if (!MountedAt("configfs", kConfigfs) && ::mount("none", kConfigfs, "configfs", 0, nullptr) != 0 &&
            errno != EBUSY) {
            error.message = std::string("cannot mount configfs at ") + kConfigfs + " (" + ErrnoText(errno) +
                            "); load the modules: " + kModulesHint;
            return nullptr;
        }
        if (!fs::exists(kGadgetRoot, ec)) {
            error.message = std::string("the kernel has no USB gadget configfs (") + kGadgetRoot +
                            "): load libcomposite, or all at once: " + kModulesHint;
            return nullptr;
        }
    }
    auto gadget = std::make_unique<FunctionFsGadget>(Key{});
    if (!gadget->Build(options, error)) return nullptr;
    return gadget;
}

bool FunctionFsGadget::Build(const GadgetOptions& options, GadgetError& error) {
    std::error_code ec;
    // The controller: the one named, else the virtual one of dummy_hcd; a
    // real controller would put the drive on a real cable.
    std::vector<std::string> controllers;
    for (const auto& entry : fs::directory_iterator(kUdcClass, ec)) controllers.push_back(entry.path().filename());
    std::sort(controllers.begin(), controllers.end());
    if (!options.udc.empty()) {
        if (std::find(controllers.begin(), controllers.end(), options.udc) == controllers.end()) {
            error.message = "no USB device controller " + options.udc + " in " + kUdcClass;
            return false;
        }
        m_udc = options.udc;
    } else {
        const auto dummy = std::find_if(controllers.begin(), controllers.end(),
                                        [](const std::string& name) { return name.starts_with("dummy_udc"); });
        if (dummy == controllers.end()) {
            error.message = std::string("no virtual USB device controller: load dummy_hcd (") + kModulesHint + ")";
            if (!controllers.empty()) error.message += "; or name a real one with --udc";
            return false;
        }
        m_udc = *dummy;
    }

    const std::string name = "keluflash-" + std::to_string(::getpid());
    const fs::path gadget = fs::path(kGadgetRoot) / name;
    int werr = 0;
    const auto fail = [&](const std::string& what, int code) {
        error.message = what + ": " + ErrnoText(code);
        return false;
    };
    // configfs: directories appear with their attributes; each one made is
    // removed again, deepest first.
    const auto makeDir = [&](const fs::path& dir) {
        if (::mkdir(dir.c_str(), 0755) != 0) return fail("cannot create " + dir.string(), errno);
        m_cleanup.Push([dir] { ::rmdir(dir.c_str()); });
        return true;
    };
    const auto write = [&](const fs::path& file, const std::string& text) {
        if (!WriteText(file, text, werr)) return fail("cannot write " + file.string(), werr);
        return true;
    };
    if (!makeDir(gadget)) return false;
    m_gadgetDir = gadget;
    if (!write(gadget / "idVendor", "0x1d6b") || !write(gadget / "idProduct", "0x0104") ||
        !write(gadget / "bcdUSB", "0x0200") || !write(gadget / "bcdDevice", "0x0100")) {
        return false;
    }
    const fs::path strings = gadget / "strings" / "0x409";
    if (!makeDir(strings) || !write(strings / "manufacturer", "keluflash") ||
        !write(strings / "product", options.product.empty() ? "virtual drive" : options.product) ||
        !write(strings / "serialnumber", "KELU" + std::to_string(::getpid()))) {
        return false;
    }
    const fs::path config = gadget / "configs" / "c.1";
    if (!makeDir(config) || !makeDir(config / "strings" / "0x409") ||
        !write(config / "strings" / "0x409" / "configuration", "mass storage") ||
        !write(config / "MaxPower", "100")) {
        return false;
    }
    const std::string instance = "kelu" + std::to_string(::getpid());
    // The function's directory exists only where usb_f_fs is loaded (it
    // registers FunctionFS with its first instance).
    const fs::path function = gadget / "functions" / ("ffs." + instance);
    if (!makeDir(function)) {
        if (errno == ENOENT || errno == ENODEV) {
            error.message = std::string("the kernel has no FunctionFS: load usb_f_fs, or all at once: ") + kModulesHint;
        }
        return false;
    }
    const fs::path link = config / ("ffs." + instance);
    if (::symlink(function.c_str(), link.c_str()) != 0) return fail("cannot link the function into the gadget", errno);
    m_cleanup.Push([link] { ::unlink(link.c_str()); });

    std::string mountPoint = (fs::temp_directory_path() / "keluflash-ffs-XXXXXX").string();
    if (::mkdtemp(mountPoint.data()) == nullptr) return fail("cannot create a FunctionFS mount point", errno);
    m_cleanup.Push([mountPoint] { ::rmdir(mountPoint.c_str()); });
    if (::mount(instance.c_str(), mountPoint.c_str(), "functionfs", 0, nullptr) != 0) {
        return fail("cannot mount FunctionFS", errno);
    }
    m_cleanup.Push([mountPoint] { ::umount2(mountPoint.c_str(), MNT_DETACH); });

    const fs::path ffs(mountPoint);
    m_ep0 = UniqueFd(::open((ffs / "ep0").c_str(), O_RDWR | O_CLOEXEC));
    if (!m_ep0.Valid()) return fail("cannot open FunctionFS ep0", errno);
    if (!WriteAll(m_ep0.Get(), Descriptors())) return fail("FunctionFS refused the descriptors", errno);
    if (!WriteAll(m_ep0.Get(), Strings())) return fail("FunctionFS refused the strings", errno);
    m_bulkIn = UniqueFd(::open((ffs / "ep1").c_str(), O_RDWR | O_CLOEXEC));
    m_bulkOut = UniqueFd(::open((ffs / "ep2").c_str(), O_RDWR | O_CLOEXEC));
    if (!m_bulkIn.Valid() || !m_bulkOut.Valid()) return fail("cannot open the bulk endpoints", errno);
    return true;
}

FunctionFsGadget::~FunctionFsGadget() { Unbind(); }

bool FunctionFsGadget::Bind(GadgetError& error) {
    int werr = 0;
    if (!WriteText(fs::path(m_gadgetDir) / "UDC", m_udc, werr)) {
        error.message = "cannot bind the gadget to " + m_udc + ": " + ErrnoText(werr) +
                        (werr == EBUSY ? " (another gadget holds the controller)" : "");
        return false;
    }
    m_bound = true;
    return true;
}

void FunctionFsGadget::Unbind() {
    if (!m_bound) return;
    int werr = 0;
    WriteText(fs::path(m_gadgetDir) / "UDC", "\n", werr);
    m_bound = false;
}

bool FunctionFsPipes::Receive(uint8_t* data, uint32_t length, uint32_t& received) {
    for (;;) {
        if (m_cutOff()) return false;
        const ssize_t n = ::read(m_out, data, length);
        if (n >= 0) {
            received = static_cast<uint32_t>(n);
            return true;
        }
        if (errno != EINTR) return false;
    }
}

bool FunctionFsPipes::Send(const uint8_t* data, uint32_t length) {
    for (;;) {
        if (m_cutOff()) return false;
        const ssize_t n = ::write(m_in, data, length);
        if (n == static_cast<ssize_t>(length)) return true;
        if (n >= 0 || errno != EINTR) return false;
    }
}

// FunctionFS halts an endpoint when it is used in the wrong direction and
// answers EBADMSG once the halt is set.
bool FunctionFsPipes::HaltIn() {
    for (;;) {
        if (m_cutOff()) return false;
        uint8_t byte = 0;
        if (::read(m_in, &byte, 1) < 0 && errno == EBADMSG) return true;
        if (errno != EINTR) return false;
    }
}

bool FunctionFsPipes::HaltOut() {
    for (;;) {
        if (m_cutOff()) return false;
        const uint8_t byte = 0;
        if (::write(m_out, &byte, 1) < 0 && errno == EBADMSG) return true;
        if (errno != EINTR) return false;
    }
}

bool ServeControlEvents(int ep0, const std::function<void(ControlEvent, const std::string&)>& onEvent) {
    std::array<usb_functionfs_event, 4> events{};
    const ssize_t n = ::read(ep0, events.data(), sizeof events);
    if (n < 0) return false;
    const size_t count = static_cast<size_t>(n) / sizeof(usb_functionfs_event);
    for (size_t i = 0; i < count; ++i) {
        const usb_functionfs_event& event = events[i];
        switch (event.type) {
            case FUNCTIONFS_ENABLE: onEvent(ControlEvent::Enabled, "enabled"); break;
            case FUNCTIONFS_DISABLE: onEvent(ControlEvent::Disabled, "disabled (USB reset or configuration change)"); break;
            case FUNCTIONFS_UNBIND: onEvent(ControlEvent::Unbound, "unbound"); break;
            case FUNCTIONFS_SETUP: {
                const usb_ctrlrequest& setup = event.u.setup;
                const uint16_t length = le16toh(setup.wLength);
                const bool classInterface = (setup.bRequestType & (USB_TYPE_MASK | USB_RECIP_MASK)) ==
                                            (USB_TYPE_CLASS | USB_RECIP_INTERFACE);
                const bool in = (setup.bRequestType & USB_DIR_IN) != 0;
                uint8_t byte = 0;
                if (classInterface && in && setup.bRequest == kRequestGetMaxLun && length >= 1) {
                    // One logical unit: the highest LUN is 0.
                    (void)::write(ep0, &byte, 1);
                    onEvent(ControlEvent::None, "Get Max LUN: 0");
                } else if (classInterface && !in && setup.bRequest == kRequestBulkOnlyReset && length == 0) {
                    // The status stage tells the host the reset is done: only
                    // once the bulk side has dropped the command it was on,
                    // or the host's next CBW could meet the old command.
                    onEvent(ControlEvent::Reset, "Bulk-Only Mass Storage Reset");
                    (void)::read(ep0, &byte, 0);
                } else {
                    // A transfer the wrong way stalls the request.
                    if (in) {
                        (void)::read(ep0, &byte, 0);
                    } else {
                        (void)::write(ep0, &byte, 0);
                    }
                    char text[96];
                    std::snprintf(text, sizeof text, "stalled control request %02X %02X", setup.bRequestType,
                                  setup.bRequest);
                    onEvent(ControlEvent::None, text);
                }
                break;
            }
            default: break;
        }
    }
    return true;
}

AttachedNodes FindAttachedNodes(const std::string& udc, const std::string& vendor, const std::string& product) {
    AttachedNodes nodes;
    const std::string kUdcPrefix = "dummy_udc.";
    if (!udc.starts_with(kUdcPrefix)) return nodes;  // a real controller's host is another machine
    const std::string host = "/dummy_hcd." + udc.substr(kUdcPrefix.size()) + "/";
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/sys/class/scsi_generic", ec)) {
        const fs::path device = entry.path() / "device";
        const std::string path = fs::canonical(device, ec).string();
        if (ec || path.find(host) == std::string::npos) continue;
        if (Trimmed(ReadAttribute(device / "vendor")) != vendor ||
            Trimmed(ReadAttribute(device / "model")) != product) {
            continue;
        }
        nodes.generic = "/dev/" + entry.path().filename().string();
        for (const auto& block : fs::directory_iterator(device / "block", ec)) {
            nodes.block = "/dev/" + block.path().filename().string();
        }
        return nodes;
    }
    return nodes;
}

}  // namespace keluflash::virtual_drive
