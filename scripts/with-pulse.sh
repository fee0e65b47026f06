#!/usr/bin/env bash
# Runs a command with a real PulseAudio server that plays into a null sink (no sound card needed).
# The command sees PULSE_SERVER and can record what is played from the monitor "test.monitor". The
# server is stopped afterwards.
#
# What the command plays is the server's only playback client, as on a desktop where nothing else
# plays. SIDTUNE_NEIGHBOUR_MS=N adds a neighbour: a stream of silence with a latency of N ms, which
# makes the sink mix no further ahead than that (the sink keeps the pace of the lowest latency
# among its clients), as when another program plays beside sidtune. It hides how a stream with a
# longer buffer fares alone; bench/latency_bench measures both.
#   scripts/with-pulse.sh COMMAND [ARGS...]
set -euo pipefail

for p in pulseaudio pactl pacat parecord; do
  command -v "$p" >/dev/null || { echo "with-pulse: $p is missing (scripts/install-deps.sh --audio)" >&2; exit 1; }
done

work=$(mktemp -d /tmp/sidtune-pulse.XXXXXX)
export XDG_RUNTIME_DIR="$work/xdg" PULSE_SERVER="unix:$work/pulse.sock" SIDTUNE_SOUND_SERVER=pulseaudio
mkdir -p -m 700 "$XDG_RUNTIME_DIR"
pulseaudio --daemonize=yes --system=no --exit-idle-time=-1 -n --use-pid-file=yes \
  --log-target="file:$work/pulse.log" \
  --load="module-null-sink sink_name=test rate=44100 channels=2" \
  --load="module-native-protocol-unix socket=$work/pulse.sock auth-anonymous=1" 2>/dev/null
for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.05; done
pulse_pid=$(cat "$XDG_RUNTIME_DIR/pulse/pid")

neighbour=""
if [ -n "${SIDTUNE_NEIGHBOUR_MS:-}" ]; then
  pacat -p -d test --latency-msec="$SIDTUNE_NEIGHBOUR_MS" --raw --format=s16le --rate=44100 --channels=2 /dev/zero 2>/dev/null &
  neighbour=$!
  # A null sink that ran with no client has mixed up to two seconds ahead: the neighbour sets the
  # pace once that has played.
  sleep 2.5
fi

cleanup() {
  [ -n "$neighbour" ] && kill "$neighbour" 2>/dev/null || true
  kill "$pulse_pid" 2>/dev/null || true
  for _ in $(seq 50); do kill -0 "$pulse_pid" 2>/dev/null || break; sleep 0.1; done
  rm -rf "$work"
}
trap cleanup EXIT

status=0
"$@" || status=$?
exit $status
