#!/usr/bin/env bash
# Installs everything the build, the tests and the benchmarks need, from Debian's packages.
# Does nothing when every package is already there, so the other scripts call it every time.
#   scripts/install-deps.sh [--audio] [--pipewire] [--windows] [--windows32] [--multilib32] [--fuzz]
#                           [--package]
#
# A package that cannot be installed (a mirror that serves a broken index, say) does not stop the
# others: each is then tried on its own, and the ones that failed are named at the end with apt's
# reason. The exit code is 1 when any package asked for is missing, 0 otherwise.
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
# kernel runs no 32-bit programs (scripts/run-windows-tests.sh --32 registers it), from Debian's
# i386 packages; with --multilib32 what builds and runs 32-bit x86 Linux programs without them (the
# compilers' 32-bit libraries and the emulator: scripts/run-32bit-engine.sh); with --package what
# scripts/package.sh makes the manual pages and checks the packages with.
i386=false
for option in "$@"; do
  case "$option" in
    --audio) packages+=(pulseaudio pulseaudio-utils) ;;
    --pipewire) packages+=(pipewire pipewire-pulse wireplumber dbus pulseaudio-utils) ;;
    --windows) packages+=(g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine64 wine) ;;
    --windows32) packages+=(g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine64 wine wine32:i386 qemu-user-static)
      i386=true ;;
    --multilib32) packages+=(g++-multilib qemu-user-static) ;;
    --fuzz) packages+=(clang libclang-rt-14-dev) ;;
    --package) packages+=(help2man lintian dpkg-dev file unzip) ;;
    *) echo "install-deps: unknown option $option" >&2; exit 2 ;;
  esac
done

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
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
# installed from the indexes that did arrive (what needs the one that failed fails below, and says
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
install() { $sudo apt-get install -y -qq --no-install-recommends "$@" >"$log" 2>&1; }
install "${missing[@]}" && exit 0
# All at once failed: one at a time, so that what can be installed is.
failed=()
for p in "${missing[@]}"; do
  installed "$p" && continue
  if ! install "$p"; then
    failed+=("$p")
    echo "install-deps: $p cannot be installed:" >&2
    grep -E '^(E|W):|Depends:|held broken' "$log" | sed 's/^/    /' >&2 || sed 's/^/    /' "$log" >&2
  fi
done
[ ${#failed[@]} -eq 0 ] && exit 0
echo "install-deps: missing (asked for, not installed): ${failed[*]}" >&2
exit 1
