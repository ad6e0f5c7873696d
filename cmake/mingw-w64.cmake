# Cross build for 64-bit Windows with Debian's MinGW-w64, the posix-thread variant (std::thread,
# std::mutex). Test executables run under wine64 when CTest starts them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
# Header-only packages of the build machine (nlohmann-json) are found through their CMake files.
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
find_program(TARVIX_WINE NAMES wine64 wine PATHS /usr/lib/wine)
if(TARVIX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TARVIX_WINE})
endif()
