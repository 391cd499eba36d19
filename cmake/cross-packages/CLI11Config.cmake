# CLI11 for the cross build (see header_only_package.cmake).
include(${CMAKE_CURRENT_LIST_DIR}/header_only_package.cmake)
keluflash_header_only_package(CLI11::CLI11 CLI)
set(CLI11_FOUND TRUE)
