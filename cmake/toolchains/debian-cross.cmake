# SPDX-License-Identifier: MIT
# The part every Debian cross toolchain file shares: each sets
# CMAKE_SYSTEM_PROCESSOR, NAMREG_TRIPLET and NAMREG_QEMU, then includes this.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${NAMREG_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${NAMREG_TRIPLET}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${NAMREG_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The target's loader and libraries for the emulator.  The cross
# toolchain's C library comes first: where the target's packages are also
# installed through multiarch (mbedTLS for armhf brings libc6:armhf), the
# loader would otherwise find that C library of another build in
# /lib/<triplet> before its own, and threads crash.
set(CMAKE_CROSSCOMPILING_EMULATOR ${NAMREG_QEMU} -L /usr/${NAMREG_TRIPLET} -E LD_LIBRARY_PATH=/lib)
