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

# Libraries for the target come from, in order: armel packages unpacked by
# tools/arm_check.sh into build/arm-deps (no multiarch install, whose versions
# can lag the host's), the cross sysroot, and multiarch armel packages
# (/usr/lib/arm-linux-gnueabi). The architecture directory keeps the host's
# own libraries out of the search.
if(NOT SONADEC_ARM_DEPS)
  if(DEFINED ENV{SONADEC_ARM_DEPS})
    set(SONADEC_ARM_DEPS $ENV{SONADEC_ARM_DEPS})
  else()
    get_filename_component(SONADEC_ARM_DEPS ${CMAKE_CURRENT_LIST_DIR}/../build/arm-deps ABSOLUTE)
  endif()
endif()
set(CMAKE_LIBRARY_ARCHITECTURE ${SONADEC_ARM_TRIPLE})
set(CMAKE_FIND_ROOT_PATH ${SONADEC_ARM_DEPS} ${SONADEC_ARM_SYSROOT} /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
if(EXISTS ${SONADEC_ARM_DEPS}/usr/lib/${SONADEC_ARM_TRIPLE}/pkgconfig)
  set(ENV{PKG_CONFIG_SYSROOT_DIR} ${SONADEC_ARM_DEPS})
  set(ENV{PKG_CONFIG_LIBDIR} ${SONADEC_ARM_DEPS}/usr/lib/${SONADEC_ARM_TRIPLE}/pkgconfig)
else()
  set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${SONADEC_ARM_TRIPLE}/pkgconfig:/usr/share/pkgconfig)
endif()
set(ENV{PKG_CONFIG_PATH} "")

# Tests and test discovery run the ARM programs through the emulator.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -L ${SONADEC_ARM_SYSROOT})
