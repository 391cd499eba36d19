# 32-bit Windows programs with Debian's mingw-w64, linked statically so that
# the .exe files need no runtime DLL beside them. The win32 thread variant:
# the posix one links winpthreads, whose imports (GetTickCount64,
# AddVectoredExceptionHandler, ...) do not exist before Windows Vista. So the
# programs use no std::thread or std::mutex (Windows' own calls instead).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(KELUFLASH_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${KELUFLASH_MINGW_PREFIX}-gcc-win32)
set(CMAKE_CXX_COMPILER ${KELUFLASH_MINGW_PREFIX}-g++-win32)
set(CMAKE_RC_COMPILER ${KELUFLASH_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KELUFLASH_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# The header-only libraries come from the Debian packages of the build
# machine, through package files of our own that expose only their headers.
set(CLI11_DIR ${CMAKE_CURRENT_LIST_DIR}/cross-packages)
set(nlohmann_json_DIR ${CMAKE_CURRENT_LIST_DIR}/cross-packages)
# The binutils by name: the compiler's "-win32" suffix hides their prefix from CMake.
set(CMAKE_STRIP ${KELUFLASH_MINGW_PREFIX}-strip CACHE FILEPATH "")
set(CMAKE_OBJDUMP ${KELUFLASH_MINGW_PREFIX}-objdump CACHE FILEPATH "")
