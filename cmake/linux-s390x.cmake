# Linux on s390x (64-bit, big-endian), cross-built and run under qemu-user
# (linux-cross.cmake).
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(QUILLANTREX_CROSS_TRIPLET s390x-linux-gnu)
set(QUILLANTREX_CROSS_QEMU qemu-s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
