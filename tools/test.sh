#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer and runs every
# test, with a PostgreSQL server of the tests' own (tools/pg-test-server.sh, started and
# stopped by CTest's pg_server fixture). Usage: tools/test.sh [extra ctest arguments]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

tools/install-packages.sh

build=build-sanitize
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DHORAVO_SANITIZE=ON
cmake --build "$build" -j "$(nproc)"

# The fixture's cleanup stops the server; this stops it too when a run is interrupted or
# killed before the cleanup ran.
stop_test_server() { "$root/tools/pg-test-server.sh" stop "$root/$build/pgserver"; }
trap stop_test_server EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

cd "$build"
export QT_QPA_PLATFORM=offscreen
status=0
ctest --output-on-failure -j "$(nproc)" "$@" || status=$?
# Whether the NetworkManager test and the PostgreSQL server ran or why they were skipped:
# ctest shows a test's output only when it fails.
grep -h -e '^networkmanager: ' -e '^pg_server: ' Testing/Temporary/LastTest.log 2>/dev/null || true
exit "$status"
