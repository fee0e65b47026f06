#!/usr/bin/env bash
# The real-audio tests once more, against PipeWire's PulseAudio server (what most Linux desktops
# now play through) in place of PulseAudio's own: scripts/with-pipewire.sh. Installs PipeWire, so
# it is run by CI rather than by scripts/run-tests.sh on a developer's desktop.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --audio --pipewire
scripts/build.sh
scripts/with-pipewire.sh ctest --test-dir build --output-on-failure -L real-audio
