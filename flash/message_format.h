#pragma once
// printf-style formatting of operator message lines ("%x" prints a byte in
// lower-case hexadecimal without leading zeros).
#include <string>
#include <string_view>

namespace keluflash {

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
std::string FormatLine(const char* format, ...);

// "Err:" and the text with its first letter made a capital (ASCII only: the
// program's own words).
std::string ErrLine(std::string_view text);

}  // namespace keluflash
