// Three functions the C++ runtime imports or looks up, given to it here
// instead, so that keluflash.exe imports nothing Windows 98 and Me lack or
// only stub:
// - libgcc's locks create their semaphores with CreateSemaphoreW, which
//   Windows 98 exports but only fails (it has no wide-character kernel); a
//   lock without its semaphore breaks as soon as two threads meet at it.
//   Here it is CreateSemaphoreA, which every Windows has.
// - the C++ library's random_device takes rand_s, and the import library's
//   own rand_s looks msvcrt.dll up with GetModuleHandleW and LoadLibraryW.
//   Here msvcrt.dll is looked up with the ANSI calls; where it has no rand_s
//   (before Windows XP) the call answers EINVAL, never a number that is not
//   random. The window never asks for one.
// - the C library's character conversions ask for the locale's code page
//   through ___lc_codepage_func, which the import library's own version
//   looks up with GetModuleHandleW. Here: msvcrt.dll's own where it has one,
//   else the number after the dot of the locale's name ("C": 0).
// The linker takes these definitions of the import slots before it searches
// the system's import libraries, since this object is linked in whole.
#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>

#include "app/win32/system_function.h"
#include "drive/win32/windows_api.h"

namespace {

HANDLE WINAPI CreateSemaphoreNarrow(LPSECURITY_ATTRIBUTES attributes, LONG initial, LONG maximum, LPCWSTR name) {
    if (name == nullptr) return CreateSemaphoreA(attributes, initial, maximum, nullptr);
    char narrow[MAX_PATH] = {};
    if (WideCharToMultiByte(CP_ACP, 0, name, -1, narrow, sizeof(narrow), nullptr, nullptr) == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return CreateSemaphoreA(attributes, initial, maximum, narrow);
}

int __cdecl RandomFromMsvcrt(unsigned int* value) {
    using RandS = int(__cdecl*)(unsigned int*);
    const auto randS = keluflash::SystemFunction<RandS>("msvcrt.dll", "rand_s");
    if (randS == nullptr || value == nullptr) return EINVAL;
    return randS(value);
}

}  // namespace

extern "C" {

// Under its own name: the C library's header declares it as imported.
unsigned int __cdecl LocaleCodePage() __asm__("____lc_codepage_func");
unsigned int __cdecl LocaleCodePage() {
    using CodePage = unsigned int(__cdecl*)();
    if (const auto codePage = keluflash::SystemFunction<CodePage>("msvcrt.dll", "___lc_codepage_func")) return codePage();
    const char* locale = std::setlocale(LC_CTYPE, nullptr);
    const char* dot = locale != nullptr ? std::strchr(locale, '.') : nullptr;
    return dot != nullptr ? static_cast<unsigned int>(std::atoi(dot + 1)) : 0;
}


using CreateSemaphoreWEntry = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, LONG, LONG, LPCWSTR);
using RandSEntry = int(__cdecl*)(unsigned int*);

// The slots' names as the 32-bit linker spells them.
extern const CreateSemaphoreWEntry kCreateSemaphoreWSlot __asm__("__imp__CreateSemaphoreW@16");
extern const RandSEntry kRandSSlot __asm__("__imp__rand_s");

const CreateSemaphoreWEntry kCreateSemaphoreWSlot = &CreateSemaphoreNarrow;
const RandSEntry kRandSSlot = &RandomFromMsvcrt;

}  // extern "C"
