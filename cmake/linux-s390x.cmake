# Builds tabfold for big-endian 64-bit IBM Z Linux (g++-s390x-linux-gnu), run under qemu-s390x.
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(cross_target s390x-linux-gnu)
set(qemu_cpu s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
