#!/usr/bin/env bash
# Installs the dependencies, builds, and runs the whole test suite with CTest.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
ctest --test-dir build --output-on-failure -j "$(nproc)"
