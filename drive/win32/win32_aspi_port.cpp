#include "drive/win32/win32_aspi_port.h"

#include "drive/win32/unique_handle.h"
#include "drive/win32/windows_api.h"

namespace keluflash {

namespace {

// The published entry points use the C calling convention.
using GetSupportInfoEntry = DWORD(__cdecl*)();
using SendCommandEntry = DWORD(__cdecl*)(void*);

template <typename Entry>
Entry LookUp(HMODULE module, const char* name) {
    // Through void(*)(): the one function pointer type any other converts to
    // without a warning about mismatched signatures.
    return reinterpret_cast<Entry>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

class Win32AspiLibrary final : public AspiLibrary {
public:
    Win32AspiLibrary(UniqueModule module, GetSupportInfoEntry getSupportInfo, SendCommandEntry sendCommand)
        : m_module(std::move(module)), m_getSupportInfo(getSupportInfo), m_sendCommand(sendCommand) {}
    uint32_t GetASPI32SupportInfo() override { return m_getSupportInfo(); }
    uint32_t SendASPI32Command(void* srb) override { return m_sendCommand(srb); }

private:
    UniqueModule m_module;
    GetSupportInfoEntry m_getSupportInfo;
    SendCommandEntry m_sendCommand;
};

class Win32AspiEvent final : public AspiEvent {
public:
    explicit Win32AspiEvent(UniqueHandle event) : m_event(std::move(event)) {}
    WaitResult Wait(uint32_t milliseconds) override {
        switch (WaitForSingleObject(m_event.get(), milliseconds)) {
            case WAIT_OBJECT_0: return WaitResult::Signalled;
            case WAIT_TIMEOUT: return WaitResult::TimedOut;
            default: return WaitResult::Failed;
        }
    }
    void* PostProc() override { return m_event.get(); }

private:
    UniqueHandle m_event;
};

}  // namespace

std::optional<std::string> Win32AspiPort::SystemDirectory(size_t capacity) {
    std::string buffer(capacity, '\0');
    const UINT length = GetSystemDirectoryA(buffer.data(), static_cast<UINT>(capacity));
    // A path that does not fit comes back as the size it would need.
    if (length == 0 || length >= capacity) return std::nullopt;
    buffer.resize(length);
    return buffer;
}

std::unique_ptr<AspiLibrary> Win32AspiPort::LoadAspiLibrary(const std::string& path) {
    UniqueModule module{LoadLibraryA(path.c_str())};
    if (!module) return nullptr;
    const auto getSupportInfo = LookUp<GetSupportInfoEntry>(static_cast<HMODULE>(module.get()), "GetASPI32SupportInfo");
    const auto sendCommand = LookUp<SendCommandEntry>(static_cast<HMODULE>(module.get()), "SendASPI32Command");
    if (getSupportInfo == nullptr || sendCommand == nullptr) return nullptr;
    return std::make_unique<Win32AspiLibrary>(std::move(module), getSupportInfo, sendCommand);
}

std::unique_ptr<AspiEvent> Win32AspiPort::CreateCompletionEvent() {
    UniqueHandle event = AdoptHandle(CreateEventA(nullptr, TRUE, FALSE, nullptr));  // manual reset, not signalled
    if (!event) return nullptr;
    return std::make_unique<Win32AspiEvent>(std::move(event));
}

}  // namespace keluflash
