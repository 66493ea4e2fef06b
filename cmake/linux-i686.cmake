# Builds tabfold for 32-bit x86 Linux (g++-i686-linux-gnu), without SSE2 as
# Debian's compiler does.  An x86-64 kernel runs 32-bit programs itself: they
# run natively, through the loader of the cross compiler's C library (the
# qemu-i386 of Debian 12 hangs in a child after fork).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(cross_target i686-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR
    /usr/${cross_target}/lib/ld-linux.so.2 --library-path /usr/${cross_target}/lib)
