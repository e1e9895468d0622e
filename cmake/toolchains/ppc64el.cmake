# Debian's cross compiler for ppc64el (powerpc64le-linux-gnu), with the tests run under qemu-user.
# Included by the cross presets (CMakePresets.json).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ppc64le)
include(${CMAKE_CURRENT_LIST_DIR}/cross.cmake)
chain_cross_toolchain(powerpc64le-linux-gnu ppc64le ppc64el)
