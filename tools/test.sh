#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer and runs every
# test, with a PostgreSQL server of the tests' own (tools/pg-test-server.sh, started and
# stopped by CTest's pg_server fixture). Usage: tools/test.sh [extra ctest arguments]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

tools/install-packages.sh

# The sanitize preset of CMakePresets.json, built in build-sanitize/.
build=build-sanitize
cmake --preset sanitize
cmake --build --preset sanitize -j "$(nproc)"

# The fixture's cleanup stops the server; this stops it too when a run is interrupted or
# killed before the cleanup ran.
stop_test_server() { "$root/tools/pg-test-server.sh" stop "$root/$build/pgserver"; }
trap stop_test_server EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# The preset's tests run offscreen (QT_QPA_PLATFORM) and show a failed test's output.
status=0
ctest --preset sanitize -j "$(nproc)" "$@" || status=$?
cd "$build"
# Whether the NetworkManager test and the PostgreSQL server ran or why they were skipped:
# ctest shows a test's output only when it fails.
grep -h -e '^networkmanager: ' -e '^pg_server: ' Testing/Temporary/LastTest.log 2>/dev/null || true
exit "$status"
