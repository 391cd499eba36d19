#include "drive/linux/linux_system_ports.h"

#include <cerrno>
#include <climits>
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

std::optional<std::string> StrerrorText::FormatMessage(uint32_t error, size_t capacity, uint32_t& formatError) {
    const int code = error > static_cast<uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(error);
    std::string text = SystemErrorMessage(code);
    if (text.size() >= capacity) {
        formatError = ERANGE;
        return std::nullopt;
    }
    return text;
}

}  // namespace keluflash
