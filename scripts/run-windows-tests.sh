#!/usr/bin/env bash
# The Windows build under Wine: the test suite as a Windows program, then the DLL playing through
# DirectSound into a real PulseAudio server (recorded and compared with the offline render), and
# failing to load without one. Needs the Linux build too (scripts/build.sh), for the recorder test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --audio --windows
scripts/build-windows.sh
scripts/build.sh

# A quiet Wine with a prefix of its own, made once per run.
export WINEPREFIX="$PWD/build-win/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml=" WINEARCH=win64
unset DISPLAY
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\Drivers' /v Audio /d pulse /f >/dev/null 2>&1
fi
wineserver -p >/dev/null 2>&1 || true  # keeps the server up between the runs below
trap 'wineserver -k 2>/dev/null || true' EXIT

echo "== the test suite under Wine"
timeout 600 wine build-win/tests/sidtune_tests.exe --gtest_brief=1
echo "== sidtune.dll under Wine, with and without a sound server"
SIDTUNE_WINDOWS_BIN="$PWD/build-win/bin" timeout 600 scripts/with-pulse.sh \
  build/tests/sidtune_playback_tests --gtest_brief=1 --gtest_filter='RealAudio.TheWindows*'
echo "windows: all passed"
