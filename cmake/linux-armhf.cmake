# Linux on 32-bit ARM (armhf), cross-built and run under qemu-user
# (linux-cross.cmake).
set(CMAKE_SYSTEM_PROCESSOR arm)
set(QUILLANTREX_CROSS_TRIPLET arm-linux-gnueabihf)
set(QUILLANTREX_CROSS_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
