#!/usr/bin/env bash
# Builds and runs the benchmarks, for a quiet machine:
#   - the 6502 interpreter (instructions per second);
#   - render speed per tune: the demo tunes and, where ../shared is present, the real tunes; each
#     tune's median and worst run, as the README's table;
#   - the cost of playing through the real plugin, and how long "PlaySidtune" and "StopSidtune"
#     take, with a PulseAudio server started for the purpose (the measured stream its only client,
#     as on a desktop where nothing else plays);
#   - how soon the sound follows the commands, against the test sink: alone (beside the recorder
#     only), and beside a neighbour with a low latency (another program playing).
#   scripts/run-benchmarks.sh
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --audio
scripts/build.sh
build/bench/sidtune_bench
build/bench/render_bench
build/bench/check_bench
scripts/with-pulse.sh build/bench/play_bench
scripts/with-pulse.sh build/bench/latency_bench
SIDTUNE_NEIGHBOUR_MS=20 scripts/with-pulse.sh build/bench/latency_bench
