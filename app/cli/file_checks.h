#pragma once
// Why a file named on the command line cannot be used, in the system's words,
// and whether two names are one file.
#include <optional>
#include <string>

namespace keluflash::cli {

// Nothing when `path` is a regular file that can be opened for reading;
// otherwise the reason: the system's ("No such file or directory",
// "Permission denied"), "Is a directory", or "not a regular file".
std::optional<std::string> ReadProblem(const std::string& path);

// Why an image file has nothing to look at, for every command alike: it
// cannot be read ("cannot read F: why"), or it is empty ("F is empty");
// nothing when it can be opened and holds bytes.
std::optional<std::string> ImageFileProblem(const std::string& path);

// Both names exist and are the same file (hard links, "./x", symbolic links),
// or neither exists and they are the same path.
bool SameFile(const std::string& a, const std::string& b);

}  // namespace keluflash::cli
