# The engine as a 32-bit x86 Linux program, with the code generation of the 32-bit Windows DLL that
# Quenbrix loads (cmake/mingw-w64-i686.cmake): SSE2 floating point and a realigned stack. It judges
# that code where 32-bit Wine cannot be installed (it needs Debian's i386 packages; this needs only
# the compilers' 32-bit libraries, g++-multilib): scripts/run-32bit-engine.sh.
#   cmake -S . -B build-linux32 -DCMAKE_TOOLCHAIN_FILE=cmake/linux-x86-32.cmake
#
# Linked statically, so that it runs with no 32-bit library installed (through the user-mode
# emulator, on a machine whose kernel runs no 32-bit programs). The engine, the simulated platform,
# their tests and the tools: no sound platform, no plugin, no benchmarks (their libraries would be
# i386 packages too).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32 -msse2 -mfpmath=sse -mstackrealign")
set(CMAKE_CXX_FLAGS_INIT "-m32 -msse2 -mfpmath=sse -mstackrealign")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32 -static")
set(SIDTUNE_ENGINE_ONLY ON CACHE BOOL "The engine, its tests and the tools, with no sound platform" FORCE)
