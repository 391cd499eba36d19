# nlohmann-json for the cross build (see header_only_package.cmake).
include(${CMAKE_CURRENT_LIST_DIR}/header_only_package.cmake)
keluflash_header_only_package(nlohmann_json::nlohmann_json nlohmann)
set(nlohmann_json_FOUND TRUE)
