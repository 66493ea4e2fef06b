# What the Linux cross toolchain files share: Debian's cross compiler for
# cross_target (g++-<cross_target>), its libraries in /usr/<cross_target>,
# and qemu-user to run what is built, the tests and the program they start.
set(CMAKE_SYSTEM_NAME Linux)

set(CMAKE_C_COMPILER ${cross_target}-gcc)  # GoogleTest's project asks for C too
set(CMAKE_CXX_COMPILER ${cross_target}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${cross_target})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${qemu_cpu} -L /usr/${cross_target})
