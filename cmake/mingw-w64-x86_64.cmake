# Cross build for 64-bit Windows with Debian's mingw-w64 (posix threads flavour);
# test executables run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

include(${CMAKE_CURRENT_LIST_DIR}/require.cmake)

set(_triple x86_64-w64-mingw32)
# Looked up only to name its package when missing: CMake's own word is just "not in PATH".
find_program(CLICKBURST_MINGW_CXX ${_triple}-g++-posix)
clickburst_require(CLICKBURST_MINGW_CXX g++-mingw-w64-x86-64-posix)
set(CMAKE_C_COMPILER ${_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${_triple}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The tests run under Wine (tests/CMakeLists.txt requires it); the program alone, as a release
# builds it, does without.
find_program(WINE_PROGRAM NAMES wine wine64)
if(WINE_PROGRAM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE_PROGRAM})
endif()
