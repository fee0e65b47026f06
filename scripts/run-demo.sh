#!/usr/bin/env bash
# Installs the dependencies, builds, and loads the demo tune that ships with the project.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
build/tools/sidtune info build/examples/demo.sid
