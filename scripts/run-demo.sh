#!/usr/bin/env bash
# Installs the dependencies, builds what the demo runs (the plugin, sidtune, quenbrix-run and the
# demo tunes: the tests and the benchmarks are built by scripts/run-tests.sh), renders the demo tune
# (assembled from examples/demo.a) to demo.wav, and, where a sound server or device is available,
# plays demo.qb through the plugin with quenbrix-run, as a Quenbrix program would, from the folder of
# the examples in the build.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh sidtune_plugin sidtune quenbrix-run demo_tunes
build/bin/sidtune info build/examples/demo.sid
build/bin/sidtune render build/examples/demo.sid -o demo.wav -t 16
echo "wrote demo.wav (16 s, 44100 Hz mono)"
status=0
(cd build/examples && ../bin/quenbrix-run demo.qb) || status=$?
if [ "$status" -eq 2 ]; then
  echo "no sound server or device here: demo.qb was not played (demo.wav has the sound)"
elif [ "$status" -ne 0 ]; then
  exit "$status"
fi
