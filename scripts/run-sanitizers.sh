#!/usr/bin/env bash
# The test suite under AddressSanitizer with UndefinedBehaviorSanitizer, and the threading tests
# (the worker thread on the simulated platform, the plugin loaded by a host, and real playback
# through PulseAudio's client and SDL2) under ThreadSanitizer. Builds into build-asan/ and build-tsan/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --audio

configure() {  # dir, flags
  cmake -S . -B "$1" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSIDTUNE_BUILD_BENCHMARKS=OFF \
    -DCMAKE_CXX_FLAGS="$2 -fno-omit-frame-pointer" >/dev/null
  cmake --build "$1" --target sidtune_tests sidtune_playback_tests
}

echo "== AddressSanitizer + UndefinedBehaviorSanitizer: the whole suite"
configure build-asan "-fsanitize=address,undefined -fno-sanitize-recover=undefined"
export ASAN_OPTIONS=detect_leaks=1:halt_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# use_tls=0: see tests/lsan.supp (LeakSanitizer's tracer crashed scanning what SDL left there).
# print_suppressions=0: a program whose standard error is judged (a failed start's one line) gets
# no table of the suppressions used appended to it.
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:use_tls=0:print_suppressions=0"
build-asan/tests/sidtune_tests --gtest_brief=1
# (not the soak: a sanitizer's own bookkeeping grows with every cycle)
scripts/with-pulse.sh build-asan/tests/sidtune_playback_tests --gtest_brief=1 --gtest_filter=-*Soak*

echo "== ThreadSanitizer: the threading tests"
configure build-tsan "-fsanitize=thread"
export TSAN_OPTIONS="halt_on_error=1 suppressions=$PWD/tests/tsan.supp"
build-tsan/tests/sidtune_tests --gtest_brief=1 --gtest_filter='AudioOutputTest.*:Volume.*:SoftwareStreamTest.*:PluginTest.*'
scripts/with-pulse.sh build-tsan/tests/sidtune_playback_tests --gtest_brief=1 --gtest_filter=-*Soak*
echo "sanitizers: clean"
