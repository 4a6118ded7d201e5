#!/usr/bin/env bash
# Runs a server benchmark against a private server of its own (tools/pg-test-server.sh),
# removed again afterwards.   bench/server/run.sh BUILD_DIR [ROWS] [RUNS]
# BENCH=bench_server_copy runs the copy benchmark instead of bench_server_fetch; it is
# given the server's maintenance database and makes databases of its own there.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "${1:?usage: $0 BUILD_DIR [ROWS] [RUNS]}" && pwd)"
shift
bench="${BENCH:-bench_server_fetch}"
state="$(mktemp -d)"
trap 'bash "$root/tools/pg-test-server.sh" stop "$state" >/dev/null 2>&1 || true' EXIT
bash "$root/tools/pg-test-server.sh" start "$state"
conninfo="$(cat "$state/conninfo")"
if [ "$bench" = bench_server_fetch ]; then
    psql -q "$conninfo" -c 'create database bench'
    conninfo="${conninfo/dbname=postgres/dbname=bench}"
fi
"$build/bin/$bench" "$conninfo" "$@"
