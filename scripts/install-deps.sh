#!/usr/bin/env bash
# Installs everything the build, the tests and the benchmarks need, from Debian's packages.
# Does nothing when every package is already there, so the other scripts call it every time.
#   scripts/install-deps.sh [--audio] [--pipewire] [--windows] [--windows32] [--fuzz] [--package]
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git clang-format
  libgtest-dev libgmock-dev libbenchmark-dev
  nlohmann-json3-dev libcli11-dev acme libsdl2-dev libpulse-dev nettle-dev
)

# With --audio also a real sound server and its tools, for the tests that play and record; with
# --pipewire PipeWire's PulseAudio server, its session manager and a D-Bus to run it on; with
# --windows also the mingw-w64 cross compilers (64-bit and 32-bit) and Wine, for the Windows builds;
# with --windows32 also 32-bit Wine, and the user-mode emulator it runs under on a machine whose
# kernel runs no 32-bit programs (scripts/run-windows-tests.sh --32 registers it); with --package
# what scripts/package.sh makes the manual pages and checks the packages with.
i386=false
for option in "$@"; do
  case "$option" in
    --audio) packages+=(pulseaudio pulseaudio-utils) ;;
    --pipewire) packages+=(pipewire pipewire-pulse wireplumber dbus pulseaudio-utils) ;;
    --windows) packages+=(g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine64 wine) ;;
    --windows32) packages+=(g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine64 wine wine32:i386 qemu-user-static)
      i386=true ;;
    --fuzz) packages+=(clang libclang-rt-14-dev) ;;
    --package) packages+=(help2man lintian dpkg-dev file unzip) ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
if $i386 && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
# A mirror in the middle of a sync serves index files that do not match what it announced, and
# apt-get update fails: tried again after a pause, three times in all; then the packages are
# installed from the indexes that did arrive (what needs the one that failed fails there, and says
# why).
for attempt in 1 2 3; do
  $sudo apt-get update -qq && break
  if [ $attempt -lt 3 ]; then
    echo "install-deps: apt-get update failed; trying again in 30 s" >&2
    sleep 30
  else
    echo "install-deps: apt-get update failed three times; installing from the indexes that arrived" >&2
  fi
done
log=$(mktemp)
trap 'rm -f "$log"' EXIT
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >"$log" 2>&1 || { cat "$log" >&2; exit 1; }
