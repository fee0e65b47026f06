#!/usr/bin/env bash
# Configures and builds the project into build/ (Release with debug info): everything, or only the
# targets named. With --install-deps it first installs what the build needs
# (scripts/install-deps.sh); otherwise it installs nothing.
#   scripts/build.sh [--install-deps] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" = --install-deps ]; then
  scripts/install-deps.sh
  shift
fi
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
targets=()
for t in "$@"; do targets+=(--target "$t"); done
cmake --build build "${targets[@]}"
