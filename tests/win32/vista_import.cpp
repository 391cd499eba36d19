// A program that imports one function Windows XP does not have
// (GetTickCount64, from Vista on): the import check must refuse it.
#include <windows.h>

int main() { return static_cast<int>(GetTickCount64() & 1); }
