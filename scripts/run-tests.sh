#!/usr/bin/env bash
# Installs the dependencies (a PulseAudio server for the real-audio tests among them), builds, and
# runs the whole test suite with CTest, quickest first: the formatting check, then every test but
# the real-audio ones (seconds), then the real-audio tests, which play into a PulseAudio server
# with a null sink started here for the run: no sound card is needed.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --audio
scripts/build.sh
scripts/check-format.sh
echo "== the suite without the real-audio tests"
ctest --test-dir build --output-on-failure -j "$(nproc)" -LE real-audio
echo "== the real-audio tests"
scripts/with-pulse.sh ctest --test-dir build --output-on-failure -L real-audio
