# Cross-building the 32-bit Windows DLL and programs on Linux with Debian's mingw-w64 (i686): the
# plugin that the Quenbrix host, a 32-bit program, loads.
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
# The -posix compilers: std::mutex and std::thread need the POSIX thread model. Everything is
# linked statically, so the DLL and the programs depend on nothing but Windows' own libraries.
#
# Floating point in SSE2 registers, as on 64-bit: with the x87 unit's 80-bit intermediates the
# envelope tables and the volume steps computed at set-up could round differently, and the
# samples would no longer be the same everywhere. Every processor Windows still runs on has SSE2.
# Windows keeps a thread's stack aligned to 4 bytes only: functions that need more (the SSE loops)
# realign it themselves.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse -mstackrealign")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse -mstackrealign")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
