#!/usr/bin/env bash
# The real-audio tests once more, against PipeWire's PulseAudio server (what most Linux desktops
# now play through) in place of PulseAudio's own: scripts/with-pipewire.sh. Installs PipeWire, so
# it is run by CI rather than by scripts/run-tests.sh on a developer's desktop.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --audio --pipewire
scripts/build.sh
# PipeWire's graph here (a null sink, no desktop) now and then plays 128 samples of silence in
# place of a stream's, pacat's as well as ours: rarely when the machine is quiet, 2 to 4 times a
# minute with both cores busy, with its data threads at realtime priority or not. A test that fails
# runs once more, as in run-tests.sh; the minute under load, which would judge PipeWire's graph
# rather than our stream, is judged against PulseAudio's server only.
scripts/with-pipewire.sh ctest --test-dir build --output-on-failure -L real-audio --repeat until-pass:2 \
  -E 'RealAudio.UnderLoadTheRecordingIsTheRender'
