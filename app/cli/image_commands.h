#pragma once
// keluflash-cli info and pack, as functions the tests call directly.
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace keluflash::cli {

// Everything `info` reports about an image file (the JSON form).
nlohmann::json ImageInfo(const std::string& fileName);
// The same for a person.
std::string ImageInfoText(const nlohmann::json& info);

}  // namespace keluflash::cli
