# Debian's cross compiler for i386 (i686-linux-gnu), with the tests run under qemu-user.
# Included by the cross presets (CMakePresets.json).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/cross.cmake)
chain_cross_toolchain(i686-linux-gnu i386 i386)
# SSE2 arithmetic: every double operation rounds to double. Debian's i686
# default, x87, keeps excess precision, which the build refuses.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
