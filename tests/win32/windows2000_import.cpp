// A program that imports one function Windows 98 and Me do not have
// (GetFileSizeEx, from Windows 2000 on; XP has it): the check against the
// Windows 98 list must refuse it, the one against XP must not.
#include <windows.h>

int main() {
    LARGE_INTEGER size{};
    return GetFileSizeEx(GetStdHandle(STD_INPUT_HANDLE), &size) ? 0 : 1;
}
