# Cross build for 64-bit ARM Linux (arm64) with Debian's cross toolchain
# (crossbuild-essential-arm64) against the arm64 libraries installed beside the host's by
# multiarch (libfltk1.3-dev:arm64 and the others): they sit in /usr/lib/aarch64-linux-gnu,
# which CMake searches for this target, and share /usr/include.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

include(${CMAKE_CURRENT_LIST_DIR}/require.cmake)

set(_triple aarch64-linux-gnu)
# Looked up only to name its package when missing: CMake's own word is just "not in PATH".
find_program(CLICKBURST_ARM64_CXX ${_triple}-g++)
clickburst_require(CLICKBURST_ARM64_CXX crossbuild-essential-arm64)
set(CMAKE_C_COMPILER ${_triple}-gcc)
set(CMAKE_CXX_COMPILER ${_triple}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${_triple})

# Whatever runs an arm64 program here runs it through qemu's user-mode emulation.
find_program(QEMU_AARCH64 qemu-aarch64)
if(QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QEMU_AARCH64} -L /)
endif()
