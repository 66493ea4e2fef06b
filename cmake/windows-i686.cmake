# Builds tabfold.exe for 32-bit Windows with Debian's mingw-w64 compiler
# (g++-mingw-w64-i686-posix), linked statically so that it needs no DLL beyond
# the system's own, and runs what it builds under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)  # GoogleTest's project asks for C too
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every processor that runs today's 32-bit Windows has SSE2; without it the
# scanner falls back to its portable form, two and a half times slower.
set(CMAKE_CXX_FLAGS_INIT -msse2)
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

# Tests run their programs under Wine, where drive Z: is the Linux file system.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
