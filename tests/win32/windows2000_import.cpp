// A program that calls one function Windows 98 and Me do not have
// (GetFileSizeEx, from Windows 2000 on; XP has it): the check against the
// Windows 98 list must refuse it, the one against XP must not. Built twice:
// windows2000_import imports it, windows2000_delay_import delay-loads it.
#include <windows.h>

int main() {
    LARGE_INTEGER size{};
    return GetFileSizeEx(GetStdHandle(STD_INPUT_HANDLE), &size) ? 0 : 1;
}
