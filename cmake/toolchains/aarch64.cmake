# SPDX-License-Identifier: MIT
# Cross build for aarch64 Linux with the Debian cross compilers
# (g++-aarch64-linux-gnu); programs and tests run under qemu-aarch64 (Debian qemu-user).
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(NAMREG_TRIPLET aarch64-linux-gnu)
set(NAMREG_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
