# Builds tabfold for little-endian 64-bit POWER Linux (g++-powerpc64le-linux-gnu), run under qemu-ppc64le.
set(CMAKE_SYSTEM_PROCESSOR ppc64le)
set(cross_target powerpc64le-linux-gnu)
set(qemu_cpu ppc64le)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
