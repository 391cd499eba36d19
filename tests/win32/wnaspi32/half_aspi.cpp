// A library that has GetASPI32SupportInfo but no SendASPI32Command: the ASPI
// port must not take it for a usable WNASPI32.DLL.
#include <cstdint>

extern "C" __declspec(dllexport) uint32_t __cdecl GetASPI32SupportInfo() { return 0x0101; }
