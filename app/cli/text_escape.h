#pragma once
// Text that comes from files and drives (file names, model text, identification
// strings) shown to scripts and people: bytes that are not UTF-8 become the
// four characters \xNN, never an exception; for a terminal control characters
// are shown the same way, so an ESC in an image cannot clear the screen.
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace keluflash::cli {

// Valid UTF-8 kept as it is; every byte of an invalid sequence as \xNN.
std::string EscapeInvalidUtf8(std::string_view text);
// The same, and control characters (below 0x20, DEL) as \xNN too.
std::string PrintableText(std::string_view text);
// The same, line by line: the program's own line breaks are kept.
std::string PrintableLines(std::string_view text);
// Every string value in `document`, at any depth, made valid UTF-8.
void EscapeInvalidUtf8(nlohmann::json& document);

}  // namespace keluflash::cli
