# GoogleTest and GoogleMock for the Windows programs, built from Debian's
# sources (the installed libraries are Linux ones). Gives the same GTest::
# targets as find_package(GTest).
set(KELUFLASH_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for the cross build")
if(NOT EXISTS ${KELUFLASH_GOOGLETEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "${KELUFLASH_GOOGLETEST_SOURCE} is missing: install Debian's googletest package")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
# GoogleTest's own Windows threading, not winpthreads.
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
# The win32 thread model of mingw-w64 (GCC 12) has no std::mutex, on which
# GoogleTest builds one class; our own of it comes in through GoogleTest's
# customisation header, found first (as -I, before GoogleTest's -isystem) by
# GoogleTest and by every test.
include_directories(BEFORE ${CMAKE_CURRENT_LIST_DIR}/googletest-win32-threads)
add_subdirectory(${KELUFLASH_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
