# Cross-builds Lumidex for 64-bit Windows with Debian's mingw-w64 (the posix
# thread model, so std::thread and std::mutex work). Everything is linked
# statically: the programs and test suites run on a bare Windows (or Wine)
# without any DLL beside them.
#
#   cmake -S . -B build-win -G Ninja \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DLUMIDEX_GUI=OFF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(LUMIDEX_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${LUMIDEX_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${LUMIDEX_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${LUMIDEX_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${LUMIDEX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs run under Wine when the build runs them (gtest discovery,
# ctest).
find_program(LUMIDEX_WINE wine)
if(LUMIDEX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${LUMIDEX_WINE})
endif()
