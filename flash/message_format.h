#pragma once
// printf-style formatting of operator message lines ("%x" prints a byte in
// lower-case hexadecimal without leading zeros).
#include <string>

namespace keluflash {

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
std::string FormatLine(const char* format, ...);

}  // namespace keluflash
