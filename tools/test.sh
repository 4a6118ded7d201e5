#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer and runs every
# test. Usage: tools/test.sh [extra ctest arguments]
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-packages.sh

build=build-sanitize
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DHORAVO_SANITIZE=ON
cmake --build "$build" -j "$(nproc)"

cd "$build"
export QT_QPA_PLATFORM=offscreen
status=0
ctest --output-on-failure -j "$(nproc)" "$@" || status=$?
# Whether the NetworkManager test ran (and its case count) or why it was skipped: ctest
# shows a test's output only when it fails.
grep -h '^networkmanager: ' Testing/Temporary/LastTest.log 2>/dev/null || true
exit "$status"
