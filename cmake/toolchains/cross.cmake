# What every cross toolchain shares: Debian's TRIPLE-g++, the target's
# libraries under /usr/TRIPLE (and multiarch ones where installed), and
# qemu-user as the emulator CMake runs the tests through.
macro(chain_cross_toolchain triple qemu debian)
  set(CHAIN_DEBIAN_ARCH ${debian})  # the packages' architecture
  set(CMAKE_C_COMPILER ${triple}-gcc)
  set(CMAKE_CXX_COMPILER ${triple}-g++)
  # The cross compiler's own tree, and / for multiarch libraries, which CMake
  # looks for under lib/TRIPLE only (never this machine's lib/x86_64-linux-gnu).
  set(CMAKE_FIND_ROOT_PATH /usr/${triple} /)
  set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${triple}/pkgconfig:/usr/share/pkgconfig)
  set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
  set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
  set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
  set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
  set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${qemu};-L;/usr/${triple})
endmacro()
