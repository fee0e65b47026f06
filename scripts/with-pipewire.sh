#!/usr/bin/env bash
# As scripts/with-pulse.sh, with PipeWire's PulseAudio server in place of PulseAudio: PipeWire, its
# session manager WirePlumber (on a D-Bus session bus of its own) and pipewire-pulse, headless, at
# 44100 Hz, with a null sink "test" of 16-bit mono (so that nothing is mixed up or down and its
# monitor records what was played). What the command plays is the server's only playback client
# unless SIDTUNE_NEIGHBOUR_MS=N adds a stream of silence with a latency of N ms, as in
# scripts/with-pulse.sh. State
# (the volumes WirePlumber remembers) is kept in the run's own folder. Installed by
# scripts/install-deps.sh --pipewire.
#   scripts/with-pipewire.sh COMMAND [ARGS...]
set -euo pipefail

for p in pipewire pipewire-pulse wireplumber dbus-daemon pactl pacat; do
  command -v "$p" >/dev/null || { echo "with-pipewire: $p is missing (scripts/install-deps.sh --pipewire)" >&2; exit 1; }
done

work=$(mktemp -d /tmp/sidtune-pipewire.XXXXXX)
export XDG_RUNTIME_DIR="$work/xdg" XDG_CONFIG_HOME="$work/config" XDG_STATE_HOME="$work/state"
mkdir -p -m 700 "$XDG_RUNTIME_DIR"
mkdir -p "$XDG_CONFIG_HOME/pipewire/pipewire.conf.d" "$XDG_STATE_HOME"
cat >"$XDG_CONFIG_HOME/pipewire/pipewire.conf.d/rate.conf" <<'CONF'
context.properties = {
    default.clock.rate = 44100
    default.clock.allowed-rates = [ 44100 ]
}
CONF
pids=() neighbour="" bus_pid=""
cleanup() {
  [ -n "$neighbour" ] && kill "$neighbour" 2>/dev/null || true
  [ ${#pids[@]} -gt 0 ] && kill "${pids[@]}" 2>/dev/null || true
  [ -n "$bus_pid" ] && kill "$bus_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
bus=$(dbus-daemon --session --fork --print-address=1 --print-pid=1)
export DBUS_SESSION_BUS_ADDRESS=$(echo "$bus" | sed -n 1p)
bus_pid=$(echo "$bus" | sed -n 2p)
pipewire >"$work/pipewire.log" 2>&1 & pids+=($!)
sleep 0.5
wireplumber >"$work/wireplumber.log" 2>&1 & pids+=($!)
pipewire-pulse >"$work/pipewire-pulse.log" 2>&1 & pids+=($!)
export PULSE_SERVER="unix:$XDG_RUNTIME_DIR/pulse/native" SIDTUNE_SOUND_SERVER=pipewire
for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.05; done
# The server answers a moment before it takes a module ("Not supported"): tried again meanwhile.
for try in $(seq 50); do
  pactl load-module module-null-sink sink_name=test rate=44100 channels=1 format=s16le channel_map=mono \
    >/dev/null 2>&1 && break
  [ "$try" -eq 50 ] && { echo "with-pipewire: the null sink cannot be loaded" >&2; exit 1; }
  sleep 0.1
done
for _ in $(seq 100); do pactl list short sinks | grep -q test && break; sleep 0.05; done
# The default sink is kept in the session manager's metadata, which WirePlumber makes a moment
# later still ("Not supported" until then; a slow machine waited over the sink's 5 s): tried again
# until the server names it.
for try in $(seq 200); do
  pactl set-default-sink test >/dev/null 2>&1 && [ "$(pactl get-default-sink 2>/dev/null)" = test ] && break
  [ "$try" -eq 200 ] && { echo "with-pipewire: the null sink cannot be made the default" >&2; exit 1; }
  sleep 0.1
done

if [ -n "${SIDTUNE_NEIGHBOUR_MS:-}" ]; then
  pacat -p -d test --latency-msec="$SIDTUNE_NEIGHBOUR_MS" --raw --format=s16le --rate=44100 --channels=1 /dev/zero 2>/dev/null &
  neighbour=$!
  sleep 2.5
fi

status=0
"$@" || status=$?
exit $status
