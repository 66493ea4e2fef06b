# What both Windows toolchain files share: Debian's mingw-w64 compiler for
# CMAKE_SYSTEM_PROCESSOR (the -posix flavour), a static link so that
# tabfold.exe needs no DLL beyond the system's own, and Wine to run what is
# built, where drive Z: is the Linux file system.
set(CMAKE_SYSTEM_NAME Windows)
set(mingw_target ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)

set(CMAKE_C_COMPILER ${mingw_target}-gcc-posix)  # GoogleTest's project asks for C too
set(CMAKE_CXX_COMPILER ${mingw_target}-g++-posix)
set(CMAKE_FIND_ROOT_PATH /usr/${mingw_target})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
