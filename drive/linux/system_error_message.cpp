#include "drive/linux/system_error_message.h"

#include <cerrno>
#include <cstring>

namespace keluflash {

namespace {

// strerror_r comes in two flavours; overloads pick whichever the C library has.
[[maybe_unused]] const char* ErrorText(int result, const char* buffer) {
    return result == 0 ? buffer : nullptr;  // XSI: fills the buffer
}
[[maybe_unused]] const char* ErrorText(const char* result, const char*) {
    return result;  // GNU: returns the text, maybe not in the buffer
}

}  // namespace

std::string SystemErrorMessage(int error) {
    char buffer[256] = {};
    const char* text = ErrorText(strerror_r(error, buffer, sizeof(buffer)), buffer);
    if (text == nullptr || *text == '\0') {
        return "Unknown error " + std::to_string(error);
    }
    return text;
}

}  // namespace keluflash
