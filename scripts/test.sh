#!/usr/bin/env bash
# Builds everything (plug-in formats, tools, tests, benchmarks) and runs the
# whole test suite. Installs the packages it needs first (root or sudo needed
# for that step).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build="${TESSAMUNE_TEST_BUILD_DIR:-$root/build-test}"

"$root/scripts/install-deps.sh" --tests

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DTESSAMUNE_BUILD_TESTS=ON -DTESSAMUNE_BUILD_BENCH=ON -DTESSAMUNE_BUILD_TOOLS=ON
cmake --build "$build" --parallel "$(nproc)"

# Some tests open windows: give them a virtual display.
xvfb-run -a -s "-screen 0 1280x1024x24" \
    ctest --test-dir "$build" --output-on-failure --timeout 600
