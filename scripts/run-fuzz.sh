#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and UBSan on) into build-fuzz/ and runs
# each for SECONDS (default 60), seeded with the demo tunes and, where present, the real tunes of
# ../shared/tunes. Findings (crash-*, leak-*, timeout-* files) stop the run with an error.
#   scripts/run-fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
scripts/install-deps.sh --fuzz
CXX=clang++ CC=clang cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSIDTUNE_FUZZ=ON >/dev/null
cmake --build build-fuzz

corpus=build-fuzz/corpus
mkdir -p "$corpus/tunes" "$corpus/registers" "$corpus/wav" "$corpus/lengths"
cp build-fuzz/examples/*.sid "$corpus/tunes/"
if [ -d ../shared/tunes ]; then cp ../shared/tunes/*.sid "$corpus/tunes/"; fi
# Regression inputs: every finding that was fixed is kept and replayed first.
cp fuzz/regressions/*/* "$corpus/tunes/" 2>/dev/null || true
head -c 300 /dev/urandom > "$corpus/registers/random"
# A WAV file of four 16-bit mono samples, and one with an extra chunk before its data.
printf 'RIFF\x2c\x00\x00\x00WAVEfmt \x10\x00\x00\x00\x01\x00\x01\x00\x44\xac\x00\x00\x88\x58\x01\x00\x02\x00\x10\x00data\x08\x00\x00\x00\x01\x00\xff\x7f\x00\x80\x02\x00' >"$corpus/wav/plain.wav"
printf 'RIFF\x36\x00\x00\x00WAVEfmt \x10\x00\x00\x00\x01\x00\x02\x00\x44\xac\x00\x00\x10\xb1\x02\x00\x04\x00\x10\x00LIST\x03\x00\x00\x00abc\x00data\x04\x00\x00\x00\x01\x00\x02\x00' >"$corpus/wav/chunks.wav"

# A song-length database as the collections write one, with CR LF line ends.
printf '; a comment\r\n[Database]\r\n; /MUSICIANS/H/Hubbard_Rob/Commando.sid\r\nd52384836e2c764f54b64503ce15546d=3:47 0:48.5 1:02.123(G)\r\n\r\n' >"$corpus/lengths/database.md5"

mkdir -p build-fuzz/findings
for target in fuzz_load_tune fuzz_render fuzz_registers fuzz_wav fuzz_song_lengths; do
  seeds="$corpus/tunes" limit=70000
  [ "$target" = fuzz_registers ] && seeds="$corpus/registers" limit=512
  [ "$target" = fuzz_wav ] && seeds="$corpus/wav" limit=4096
  [ "$target" = fuzz_song_lengths ] && seeds="$corpus/lengths" limit=4096
  mkdir -p "build-fuzz/work/$target"
  echo "== $target for ${seconds}s"
  build-fuzz/fuzz/$target "build-fuzz/work/$target" "$seeds" -max_total_time="$seconds" -timeout=30 -max_len="$limit" \
    -rss_limit_mb=4096 -artifact_prefix=build-fuzz/findings/ -print_final_stats=1 2>&1 |
    grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|==[0-9]+==ERROR|SUMMARY)|Done [0-9]+ runs' || true
  if ls build-fuzz/findings/* >/dev/null 2>&1; then
    echo "fuzz: findings in build-fuzz/findings" >&2
    exit 1
  fi
done
echo "fuzz: no findings"
