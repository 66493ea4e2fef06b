# Builds tabfold for 64-bit Arm Linux (g++-aarch64-linux-gnu), run under qemu-aarch64.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(cross_target aarch64-linux-gnu)
set(qemu_cpu aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
