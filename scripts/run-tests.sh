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
# A sound server on a shared machine now and then plays a hole whatever its clients do (a machine
# that loses its processors; PipeWire's graph, see run-pipewire-tests.sh): a real-audio test that
# fails runs once more, and fails the suite only when both runs fail (both are in the output).
scripts/with-pulse.sh ctest --test-dir build --output-on-failure -L real-audio --repeat until-pass:2
