// The import slots keluflash.exe fills itself instead of the C++ runtime's
// wide-character or newer functions, run under Wine: linked into this test
// as into the program, so each call below goes through them.
// rand_s is declared only on request.
#define _CRT_RAND_S
#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <cstdlib>

#include <windows.h>

// As the C library's conversions call it: directly, not through an import
// slot (the header's declaration would take the import library's).
extern "C" unsigned int __cdecl LocaleCodePage() __asm__("____lc_codepage_func");

namespace {

uintptr_t SystemOwn(const char* module, const char* name) {
    return reinterpret_cast<uintptr_t>(GetProcAddress(GetModuleHandleA(module), name));
}

TEST(OlderWindowsImports, SemaphoresAreCreatedByTheAnsiCall) {
    // The program's slot, not the system's CreateSemaphoreW.
    EXPECT_NE(reinterpret_cast<uintptr_t>(&CreateSemaphoreW), SystemOwn("kernel32.dll", "CreateSemaphoreW"));

    // Without a name, as the runtime's locks ask for it: a working semaphore.
    const HANDLE unnamed = CreateSemaphoreW(nullptr, 0, 1, nullptr);
    ASSERT_NE(unnamed, nullptr);
    EXPECT_EQ(WaitForSingleObject(unnamed, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_TRUE(ReleaseSemaphore(unnamed, 1, nullptr));
    EXPECT_EQ(WaitForSingleObject(unnamed, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    CloseHandle(unnamed);

    // With a name: the same name in ANSI finds it.
    const HANDLE named = CreateSemaphoreW(nullptr, 1, 1, L"keluflash-older-windows-test");
    ASSERT_NE(named, nullptr);
    const HANDLE found = OpenSemaphoreA(SEMAPHORE_ALL_ACCESS, FALSE, "keluflash-older-windows-test");
    EXPECT_NE(found, nullptr);
    if (found != nullptr) CloseHandle(found);
    CloseHandle(named);
}

TEST(OlderWindowsImports, RandSComesFromMsvcrt) {
    unsigned int value = 0;
    EXPECT_EQ(rand_s(&value), 0);  // Wine's msvcrt.dll has rand_s, as XP's has
    EXPECT_EQ(rand_s(nullptr), EINVAL);
}

TEST(OlderWindowsImports, CodePageOfTheLocale) {
    using CodePage = unsigned int(__cdecl*)();
    const auto msvcrtOwn = reinterpret_cast<CodePage>(SystemOwn("msvcrt.dll", "___lc_codepage_func"));
    ASSERT_NE(msvcrtOwn, nullptr);
    ASSERT_NE(std::setlocale(LC_ALL, "C"), nullptr);
    EXPECT_EQ(LocaleCodePage(), 0u);
    if (std::setlocale(LC_CTYPE, ".1252") != nullptr) {
        EXPECT_EQ(LocaleCodePage(), 1252u);
    }
    EXPECT_EQ(LocaleCodePage(), msvcrtOwn());
    std::setlocale(LC_ALL, "C");
}

}  // namespace
