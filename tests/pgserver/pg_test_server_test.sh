#!/usr/bin/env bash
# tools/pg-test-server.sh on servers of this test's own: a second start replaces the
# first server, stop leaves no process and no folder, also after a crash; a state naming
# another folder is refused; a failing start shows why and leaves nothing; without
# PostgreSQL's server, start is skipped (77), or fails under CI.
# Usage: pg_test_server_test.sh PATH/TO/pg-test-server.sh
set -euo pipefail

script=$1
bindir=/usr/lib/postgresql/15/bin
if [ ! -x "$bindir/pg_ctl" ]; then
  echo "pgserver_script: skipped: no PostgreSQL server in $bindir"
  case "${CI:-}" in "" | 0 | false) exit 77 ;; *) exit 1 ;; esac
fi

work=$(mktemp -d)
state=$work/state
cleanup() {
  bash "$script" stop "$state" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

postmaster_of() { head -n 1 "$1/data/postmaster.pid"; }
running() { [ -e "/proc/$1" ] && [ "$(cut -d' ' -f3 "/proc/$1/stat" 2>/dev/null)" != Z ]; }
answers() { "$bindir/psql" "$(cat "$state/conninfo")" -Atc 'select 42' 2>/dev/null | grep -qx 42; }

# start, and start again over the first
bash "$script" start "$state" >/dev/null
first=$(cat "$state/server")
first_pid=$(postmaster_of "$first")
answers || fail "the first server does not answer on $(cat "$state/conninfo")"
bash "$script" start "$state" >/dev/null
second=$(cat "$state/server")
second_pid=$(postmaster_of "$second")
[ "$first" != "$second" ] || fail "the second start reused the folder $first"
[ ! -e "$first" ] || fail "the second start left the first server's folder $first"
! running "$first_pid" || fail "the second start left the first server running (pid $first_pid)"
answers || fail "the second server does not answer"

# stop
bash "$script" stop "$state"
[ ! -e "$second" ] || fail "stop left the server's folder $second"
[ ! -e "$state" ] || fail "stop left $state"
! running "$second_pid" || fail "stop left the server running (pid $second_pid)"
bash "$script" stop "$state" || fail "a second stop failed"

# stop after the server crashed (its folder and postmaster.pid left behind)
bash "$script" start "$state" >/dev/null
crashed=$(cat "$state/server")
crashed_pid=$(postmaster_of "$crashed")
kill -KILL "$crashed_pid"
for _ in $(seq 50); do running "$crashed_pid" || break; sleep 0.1; done
bash "$script" stop "$state" || fail "stop after a crash failed"
[ ! -e "$crashed" ] || fail "stop after a crash left $crashed"

# a state naming a folder that is not a server's: refused, the folder untouched
mkdir -p "$state" "$work/precious"
echo "$work/precious" >"$state/server"
if bash "$script" stop "$state" 2>/dev/null; then fail "stop accepted $work/precious as a server folder"; fi
[ -d "$work/precious" ] || fail "stop removed $work/precious"
rm -rf "$state"

# a start that fails (an initdb that refuses): says what initdb said, leaves nothing
mkdir -p "$work/failing-bin"
printf '#!/bin/sh\necho "initdb: refused by this test" >&2\nexit 1\n' >"$work/failing-bin/initdb"
cp "$bindir/pg_ctl" "$bindir/postgres" "$work/failing-bin/"
chmod 755 "$work/failing-bin" "$work/failing-bin/initdb"
chmod 711 "$work"
status=0
output=$(HORAVO_PG_BINDIR=$work/failing-bin bash "$script" start "$state" 2>&1) || status=$?
[ "$status" -ne 0 ] || fail "start with a failing initdb succeeded"
grep -q "initdb: refused by this test" <<<"$output" || fail "start with a failing initdb did not show its log: $output"
failed=$(sed -n 's|^--- \(/tmp/horavo-pg\.[^/]*\)/initdb.log$|\1|p' <<<"$output")
[ -n "$failed" ] || fail "start with a failing initdb named no server folder: $output"
[ -z "$failed" ] || [ ! -e "$failed" ] || fail "start with a failing initdb left $failed"
[ ! -e "$state" ] || fail "start with a failing initdb left $state"

# no PostgreSQL server installed
mkdir -p "$work/empty-bin"
status=0
HORAVO_PG_BINDIR=$work/empty-bin CI="" bash "$script" start "$state" >/dev/null || status=$?
[ "$status" -eq 77 ] || fail "start without a server exited $status, not 77 (skipped)"
grep -q "$work/empty-bin" "$state/unavailable" 2>/dev/null || fail "start without a server wrote no reason to $state/unavailable"
status=0
HORAVO_PG_BINDIR=$work/empty-bin CI=true bash "$script" start "$state" >/dev/null 2>&1 || status=$?
[ "$status" -eq 1 ] || fail "start without a server under CI exited $status, not 1"
bash "$script" stop "$state"

[ "$failures" -eq 0 ] || exit 1
echo "pgserver_script: start, restart, stop, stop after a crash, a foreign folder, a failing start, no server: all as expected"
