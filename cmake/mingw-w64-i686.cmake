# Cross-building the 32-bit Windows DLL and programs on Linux with Debian's mingw-w64 (i686): the
# plugin that the Quenbrix host, a 32-bit program, loads.
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
#
# Floating point in SSE2 registers, as on 64-bit: with the x87 unit's 80-bit intermediates the
# envelope tables and the volume steps computed at set-up could round differently, and the
# samples would no longer be the same everywhere. Every processor Windows still runs on has SSE2.
# Windows keeps a thread's stack aligned to 4 bytes only: functions that need more (the SSE loops)
# realign it themselves.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(SIDTUNE_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse -mstackrealign")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse -mstackrealign")
