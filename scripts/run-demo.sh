#!/usr/bin/env bash
# Installs the dependencies, builds, and renders the demo tune that ships with the project
# (assembled from examples/demo.a) to demo.wav.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
build/tools/sidtune info build/examples/demo.sid
build/tools/sidtune render build/examples/demo.sid -o demo.wav -t 16
echo "wrote demo.wav (16 s, 44100 Hz mono)"
