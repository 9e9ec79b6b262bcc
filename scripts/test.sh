#!/usr/bin/env bash
# Builds everything (plug-in formats, tools, tests, benchmarks) and runs the
# whole test suite; then runs it again built with AddressSanitizer and
# UndefinedBehaviorSanitizer (with a short run of each fuzzer), and the
# concurrency stress test built with ThreadSanitizer. Installs the packages it
# needs first (root or sudo needed for that step).
#
#   TESSAMUNE_TEST_BUILD_DIR   the main build folder (default build-test)
#   TESSAMUNE_FUZZ_SECONDS     length of each fuzzer's run (default 30)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build="${TESSAMUNE_TEST_BUILD_DIR:-$root/build-test}"
jobs=$(nproc)

"$root/scripts/install-deps.sh" --tests

# Some tests open windows: give them a virtual display.
with_display() {
    xvfb-run -a -s "-screen 0 1280x1024x24" "$@"
}

echo "== Release build and tests"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DTESSAMUNE_BUILD_TESTS=ON -DTESSAMUNE_BUILD_BENCH=ON -DTESSAMUNE_BUILD_TOOLS=ON
cmake --build "$build" --parallel "$jobs"
with_display ctest --test-dir "$build" --output-on-failure --timeout 600 --parallel "$jobs"

# The sanitizer builds use clang (libFuzzer, and the queue's annotations for
# ThreadSanitizer) and build only the targets they run. Any report fails the
# run; the only suppressions are for the framework's own code, each with its
# reason (tests/sanitizers/). They match function names, so the reports must
# be symbolized.
symbolizer=external_symbolizer_path=/usr/lib/llvm-14/bin/llvm-symbolizer
sanitizer_build() {
    local dir=$1; shift
    CC=clang CXX=clang++ cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
          -DTESSAMUNE_BUILD_TESTS=ON -DTESSAMUNE_BUILD_BENCH=OFF -DTESSAMUNE_BUILD_TOOLS=OFF "$@"
}

echo "== AddressSanitizer + UndefinedBehaviorSanitizer: the whole suite and the fuzzers"
asan="$root/build-asan"
sanitizer_build "$asan" -DTESSAMUNE_SANITIZE=address,undefined -DTESSAMUNE_FUZZ=ON \
                        -DTESSAMUNE_FUZZ_SECONDS="${TESSAMUNE_FUZZ_SECONDS:-30}"
cmake --build "$asan" --parallel "$jobs" --target \
      dsp_tests plugin_tests host_tests lv2_editor_stress render_tests fuzz_state fuzz_text
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1:$symbolizer \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:$symbolizer \
LSAN_OPTIONS=suppressions="$root/tests/sanitizers/lsan.supp":print_suppressions=0 \
    with_display ctest --test-dir "$asan" --output-on-failure --timeout 900 --parallel "$jobs"

echo "== ThreadSanitizer: the concurrency stress tests"
tsan="$root/build-tsan"
sanitizer_build "$tsan" -DTESSAMUNE_SANITIZE=thread
cmake --build "$tsan" --parallel "$jobs" --target plugin_tests lv2_editor_stress
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:$symbolizer:suppressions="$root/tests/sanitizers/tsan.supp"
TESSAMUNE_STRESS_SECONDS=20 with_display "$tsan/tests/plugin_tests" --gtest_filter='Concurrency.*'
# The LV2 editor opened and closed over and over while automation plays.
TESSAMUNE_STRESS_SECONDS=20 with_display "$tsan/tests/host/lv2_editor_stress" \
    "$tsan/Tessamune_artefacts/Release/LV2/Tessamune.lv2/libTessamune.so"
