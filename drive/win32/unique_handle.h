#pragma once
// Owns one Windows handle (an event, a device, a token) and closes it when it
// goes away, or one loaded DLL and frees it. Declared without <windows.h>: a
// HANDLE is a void pointer, an HMODULE converts to one.
#include <memory>

namespace keluflash {

struct HandleCloser {
    void operator()(void* handle) const;
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

// Takes ownership of what a Windows call returned; both failure values (null
// and INVALID_HANDLE_VALUE) give an empty owner.
UniqueHandle AdoptHandle(void* handle);

struct ModuleFreer {
    void operator()(void* module) const;
};
// From LoadLibraryA; empty when loading failed.
using UniqueModule = std::unique_ptr<void, ModuleFreer>;

}  // namespace keluflash
