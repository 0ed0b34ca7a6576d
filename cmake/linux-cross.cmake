# Cross-builds for another processor with Debian's cross compilers
# (g++-<triplet>). The programs are linked statically, so that qemu-user runs
# them here without the target's libraries; tests and test discovery start
# them through it. Included by one file per processor, which sets
# QUILLANTREX_CROSS_TRIPLET, QUILLANTREX_CROSS_QEMU and CMAKE_SYSTEM_PROCESSOR.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${QUILLANTREX_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${QUILLANTREX_CROSS_TRIPLET}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${QUILLANTREX_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
find_program(QUILLANTREX_QEMU NAMES ${QUILLANTREX_CROSS_QEMU} ${QUILLANTREX_CROSS_QEMU}-static)
set(CMAKE_CROSSCOMPILING_EMULATOR ${QUILLANTREX_QEMU})
