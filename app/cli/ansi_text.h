#pragma once
// Text for JSON output. On Windows the program's arguments and the system's
// messages come in the ANSI code page (a path with "é" is one byte 0xE9 in
// code page 1252), while JSON is UTF-8; elsewhere they are passed on as they
// are.
#include <string>

namespace keluflash::cli {

std::string AnsiToUtf8(const std::string& text);

}  // namespace keluflash::cli
