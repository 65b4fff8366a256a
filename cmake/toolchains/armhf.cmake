# SPDX-License-Identifier: MIT
# Cross build for armhf Linux with the Debian cross compilers
# (g++-arm-linux-gnueabihf); programs and tests run under qemu-arm (Debian qemu-user).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(NAMREG_TRIPLET arm-linux-gnueabihf)

set(CMAKE_C_COMPILER ${NAMREG_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${NAMREG_TRIPLET}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${NAMREG_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The target's loader and libraries for the emulator.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -L /usr/${NAMREG_TRIPLET})
