# SPDX-License-Identifier: MIT
# Cross build for armhf Linux with the Debian cross compilers
# (g++-arm-linux-gnueabihf); programs and tests run under qemu-arm (Debian qemu-user).
set(CMAKE_SYSTEM_PROCESSOR arm)
set(NAMREG_TRIPLET arm-linux-gnueabihf)
set(NAMREG_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
