#!/usr/bin/env bash
# Runs bench_server_fetch against a private server of its own (tools/pg-test-server.sh),
# removed again afterwards.   bench/server/run.sh BUILD_DIR [ROWS] [RUNS]
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "${1:?usage: $0 BUILD_DIR [ROWS] [RUNS]}" && pwd)"
shift
state="$(mktemp -d)"
trap 'bash "$root/tools/pg-test-server.sh" stop "$state" >/dev/null 2>&1 || true' EXIT
bash "$root/tools/pg-test-server.sh" start "$state"
conninfo="$(cat "$state/conninfo")"
psql -q "$conninfo" -c 'create database bench'
"$build/bin/bench_server_fetch" "${conninfo/dbname=postgres/dbname=bench}" "$@"
