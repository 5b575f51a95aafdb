# Cross build of the Windows program on Linux with mingw-w64 (Debian's
# g++-mingw-w64-x86-64-posix):
#   cmake -S . -B build-win -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

# The -posix compilers: the default (win32 thread model) alternative has no
# std::thread or std::mutex with GCC 12.
set(SENTREL_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${SENTREL_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SENTREL_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${SENTREL_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${SENTREL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Linked statically, so that sentrel.exe runs without the compiler's DLLs
# (libstdc++, libgcc, winpthread) beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests and test discovery run the Windows programs under Wine, through a
# wrapper that tells a test Wine killed after it passed from a failure.
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
endif()
