# Debian's cross compiler for armhf (arm-linux-gnueabihf), with the tests run under qemu-user.
# Included by the cross presets (CMakePresets.json).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
include(${CMAKE_CURRENT_LIST_DIR}/cross.cmake)
chain_cross_toolchain(arm-linux-gnueabihf arm armhf)
