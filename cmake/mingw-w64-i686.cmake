# Cross-compiling for 32-bit Windows (i386) with Debian's MinGW-w64 toolchain
# (packages g++-mingw-w64-i686, binutils-mingw-w64-i686).
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(_asfw_mingw i686-w64-mingw32)

# Prefer the win32 thread model: it needs no threading DLL at run time.
find_program(CMAKE_C_COMPILER NAMES ${_asfw_mingw}-gcc-win32 ${_asfw_mingw}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${_asfw_mingw}-g++-win32 ${_asfw_mingw}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${_asfw_mingw}-windres)
find_program(ASFW_DLLTOOL NAMES ${_asfw_mingw}-dlltool REQUIRED)
find_program(ASFW_OBJDUMP NAMES ${_asfw_mingw}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${_asfw_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
