#!/usr/bin/env bash
# Cross-builds the Windows plugin and programs with mingw-w64, for both kinds of Windows program:
#   build-win32/bin/   32-bit x86: sidtune.dll for the Quenbrix host (a 32-bit program),
#                      quenbrix-run.exe and sidtune.exe
#   build-win/bin/     64-bit x86-64: the same, for 64-bit hosts
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --windows
for target in "build-win32 cmake/mingw-w64-i686.cmake" "build-win cmake/mingw-w64-x86_64.cmake"; do
  set -- $target
  cmake -S . -B "$1" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$2" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$1"
done
