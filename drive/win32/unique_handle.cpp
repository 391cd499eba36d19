#include "drive/win32/unique_handle.h"

#include "drive/win32/windows_api.h"

namespace keluflash {

void HandleCloser::operator()(void* handle) const { CloseHandle(handle); }

void ModuleFreer::operator()(void* module) const { FreeLibrary(static_cast<HMODULE>(module)); }

UniqueHandle AdoptHandle(void* handle) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return UniqueHandle{};
    return UniqueHandle{handle};
}

}  // namespace keluflash
