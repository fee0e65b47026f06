#!/usr/bin/env bash
# The engine as a 32-bit x86 program with the code generation of the 32-bit Windows DLL that
# Quenbrix loads (cmake/linux-x86-32.cmake), built in build-linux32/: what judges that code on a day
# when 32-bit Wine cannot be installed (scripts/run-windows-tests.sh --32 runs this then). Needs no
# i386 package: the compilers' 32-bit libraries and, where the kernel runs no 32-bit programs, the
# user-mode emulator. It runs
#   - the model comparison for every build of the rendering loops that the processor runs, the
#     golden checksums of the demo tunes and the CPU vectors;
#   - sidtune render of the demo tunes and of every tune of the test data (10 s of song 1; what
#     cannot be rendered must fail alike), byte for byte against the 64-bit build's.
#   scripts/run-32bit-engine.sh
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --multilib32
scripts/build.sh sidtune demo_tunes
build=build-linux32
cmake -S . -B $build -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/linux-x86-32.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build $build --target sidtune_tests sidtune

# A 32-bit program runs as it is where the kernel runs such programs, else through the emulator.
run32=()
if ! $build/bin/sidtune --version >/dev/null 2>&1; then
  run32=(qemu-i386-static)
  "${run32[@]}" $build/bin/sidtune --version >/dev/null
  echo "(32-bit programs run through the user-mode emulator here)"
fi
file $build/bin/sidtune | grep -q '32-bit.*Intel 80386' || { echo "32-bit: $build/bin/sidtune is no 32-bit x86 program" >&2; exit 1; }

echo "== the engine's exactness, 32-bit"
# The MD5 test vectors are left out: this build has no MD5 (src/tune/md5_none.cpp).
"${run32[@]}" $build/tests/sidtune_tests --gtest_brief=1 \
  --gtest_filter='ControlBits/BitExact.*:DemoTunes.*:Opcode/CpuVectors.*:SidTest.*:DigiTest.*'

echo "== the demo tunes and the test data's tunes rendered, 32-bit against 64-bit"
out=$(mktemp -d /tmp/sidtune-32.XXXXXX)
trap 'rm -rf "$out"' EXIT
tunes=(build/examples/*.sid)
data=$(sed -n 's/^SIDTUNE_TEST_DATA:PATH=//p' build/CMakeCache.txt)
if [ -n "$data" ] && [ -f "$data/tunes/MANIFEST.tsv" ]; then
  while IFS=$'\t' read -r file _; do tunes+=("$data/tunes/$file"); done < <(tail -n +2 "$data/tunes/MANIFEST.tsv")
else
  echo "(no test data: the demo tunes only)"
fi
same=0
for tune in "${tunes[@]}"; do
  s64=0 s32=0
  build/bin/sidtune render "$tune" -o "$out/64.wav" -t 10 2>"$out/64.err" || s64=$?
  "${run32[@]}" $build/bin/sidtune render "$tune" -o "$out/32.wav" -t 10 2>"$out/32.err" || s32=$?
  if [ $s64 -ne $s32 ]; then
    echo "32-bit: $tune: exit $s32, the 64-bit build's $s64" >&2
    exit 1
  fi
  if [ $s64 -eq 0 ]; then
    cmp -s "$out/64.wav" "$out/32.wav" || { echo "32-bit: $tune renders otherwise than on 64-bit" >&2; exit 1; }
    same=$((same + 1))
  fi
  rm -f "$out/64.wav" "$out/32.wav"
done
echo "32-bit engine: all passed; ${#tunes[@]} tunes, $same rendered byte for byte as on 64-bit"
