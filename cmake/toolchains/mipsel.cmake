# SPDX-License-Identifier: MIT
# Cross build for mipsel Linux with the Debian cross compilers
# (g++-mipsel-linux-gnu); programs and tests run under qemu-mipsel (Debian qemu-user).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mipsel)
set(NAMREG_TRIPLET mipsel-linux-gnu)

set(CMAKE_C_COMPILER ${NAMREG_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${NAMREG_TRIPLET}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${NAMREG_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The target's loader and libraries for the emulator.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-mipsel -L /usr/${NAMREG_TRIPLET})
