#!/usr/bin/env bash
# Configures and builds the project into build/ (Release with debug info). With --install-deps it
# first installs what the build needs (scripts/install-deps.sh); otherwise it installs nothing.
#   scripts/build.sh [--install-deps]
set -euo pipefail
cd "$(dirname "$0")/.."
[ "${1:-}" = --install-deps ] && scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build
