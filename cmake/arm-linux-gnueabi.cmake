# Cross build for the target's kind of CPU: 32-bit ARM (ARMv5TE class) with
# no FPU and no divide instruction, using Debian's armel toolchain
# (g++-arm-linux-gnueabi, soft-float ABI). Programs run under qemu-arm with the
# cross toolchain's sysroot.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(SONADEC_ARM_TRIPLE arm-linux-gnueabi)
set(SONADEC_ARM_SYSROOT /usr/${SONADEC_ARM_TRIPLE})

set(CMAKE_C_COMPILER ${SONADEC_ARM_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${SONADEC_ARM_TRIPLE}-g++)
set(CMAKE_C_FLAGS_INIT "-march=armv5te -marm -mfloat-abi=soft")
set(CMAKE_CXX_FLAGS_INIT "-march=armv5te -marm -mfloat-abi=soft")

# Libraries come from the cross sysroot or from Debian multiarch armel
# packages (/usr/lib/arm-linux-gnueabi); the architecture directory keeps the
# host's own libraries out of the search.
set(CMAKE_LIBRARY_ARCHITECTURE ${SONADEC_ARM_TRIPLE})
set(CMAKE_FIND_ROOT_PATH ${SONADEC_ARM_SYSROOT} /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${SONADEC_ARM_TRIPLE}/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# Tests and test discovery run the ARM programs through the emulator.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -L ${SONADEC_ARM_SYSROOT})
