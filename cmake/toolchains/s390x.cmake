# Debian's cross compiler for s390x (s390x-linux-gnu), with the tests run under qemu-user.
# Included by the cross presets (CMakePresets.json).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR s390x)
include(${CMAKE_CURRENT_LIST_DIR}/cross.cmake)
chain_cross_toolchain(s390x-linux-gnu s390x s390x)
