#pragma once
// keluflash-cli info and pack, as functions the tests call directly.
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace keluflash::cli {

// Why `info` has nothing to show for the file (it cannot be read, or it is
// empty); nothing when it can look inside.
std::optional<std::string> InfoFileProblem(const std::string& fileName);
// Everything `info` reports about an image file (the JSON form).
nlohmann::json ImageInfo(const std::string& fileName);
// The same for a person.
std::string ImageInfoText(const nlohmann::json& info);

}  // namespace keluflash::cli
