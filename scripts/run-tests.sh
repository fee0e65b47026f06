#!/usr/bin/env bash
# Installs the dependencies (a PulseAudio server for the real-audio tests among them), builds,
# and runs the whole test suite with CTest. The real-audio tests play into a PulseAudio server
# with a null sink, started here for the run: no sound card is needed.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --audio
scripts/build.sh
scripts/with-pulse.sh ctest --test-dir build --output-on-failure -j "$(nproc)"
