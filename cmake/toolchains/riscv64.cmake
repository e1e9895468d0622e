# Debian's cross compiler for riscv64 (riscv64-linux-gnu), with the tests run under qemu-user.
# Included by the cross presets (CMakePresets.json).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR riscv64)
include(${CMAKE_CURRENT_LIST_DIR}/cross.cmake)
chain_cross_toolchain(riscv64-linux-gnu riscv64 riscv64)
