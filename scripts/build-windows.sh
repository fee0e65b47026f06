#!/usr/bin/env bash
# Cross-builds the Windows plugin and programs with mingw-w64 into build-win/bin:
# sidtune.dll (the plugin for the Quenbrix environment), quenbrix-run.exe and sidtune.exe.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --windows
cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-win
