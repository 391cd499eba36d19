#include "drive/errno_text.h"

#include <system_error>

namespace keluflash {

// The standard library's generic category is the C library's strerror text,
// thread-safe, and "Unknown error N" for a value it does not know.
std::string ErrnoText(int error) { return std::generic_category().message(error); }

}  // namespace keluflash
