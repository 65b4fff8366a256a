# SPDX-License-Identifier: MIT
# Cross build for mipsel Linux with the Debian cross compilers
# (g++-mipsel-linux-gnu); programs and tests run under qemu-mipsel (Debian qemu-user).
set(CMAKE_SYSTEM_PROCESSOR mipsel)
set(NAMREG_TRIPLET mipsel-linux-gnu)
set(NAMREG_QEMU qemu-mipsel)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
