# Linux on 64-bit ARM (aarch64), cross-built and run under qemu-user
# (linux-cross.cmake).
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(QUILLANTREX_CROSS_TRIPLET aarch64-linux-gnu)
set(QUILLANTREX_CROSS_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
