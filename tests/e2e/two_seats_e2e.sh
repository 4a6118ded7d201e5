#!/usr/bin/env bash
# Two seats, one database server: two real tallyon processes (alice's and bob's seats,
# each with a folder, a single-copy lock and a simulated line of its own) record into one
# PostgreSQL database at once, under an Xvfb display of their own, with a short minute
# (TALLYON_TICK_MS). A third tallyon, the administrator's, opens the records window and
# clears alice's rows:
#   1. while alice's seat still records, her row changed after the window read it: the
#      clearing stops with the conflict message a database file gives, and deletes nothing;
#   2. once her seat has ended, the clearing goes through: her rows are gone.
# Bob's seat records throughout: his row holds a minute for every tick, none lost.
#
# Usage: two_seats_e2e.sh BIN_DIR   (tallyon, horavo-setup and tallyon-line). The server
# is the test command's own (HORAVO_TEST_PG_CONNINFO_FILE); exit 77 (skipped) when it or
# Xvfb, xdotool or psql is missing, outside CI.
set -euo pipefail

bin=$(cd "${1:?usage: two_seats_e2e.sh BIN_DIR}" && pwd)
tick_ms=1000

skip() {
    case "${CI:-}" in
        "" | 0 | false) echo "SKIPPED: $*"; exit 77 ;;
        *) echo "FAILED: $* (required in CI)"; exit 1 ;;
    esac
}
for tool in Xvfb xdotool psql xwininfo; do
    command -v "$tool" >/dev/null || skip "$tool is not installed (tools/install-packages.sh installs it)"
done
conninfo_file=${HORAVO_TEST_PG_CONNINFO_FILE:-}
[ -n "$conninfo_file" ] && [ -s "$conninfo_file" ] || skip "no PostgreSQL test server (pg_server fixture)"
for program in tallyon horavo-setup tallyon-line; do
    [ -x "$bin/$program" ] || { echo "FAILED: $bin/$program has not been built"; exit 1; }
done

server=$(head -n1 "$conninfo_file")
database=two_seats_$$
db="${server/dbname=postgres/dbname=$database}"
work=$(mktemp -d /tmp/tallyon-seats.XXXXXX)
pids=()
cleanup() {
    stop_processes
    psql -q "$server" -c "drop database if exists $database" >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

sql() { psql -qAt "$db" -c "$1"; }
fail() {
    echo "FAILED: $*"
    for log in "$work"/*/tallyon.log; do
        echo "--- $log"
        cat "$log"
    done
    echo "--- internet rows"
    sql "select horavo_key, iuser, itime, stime, xtime from internet order by horavo_key" 2>/dev/null || true
    exit 1
}
# shellcheck source=tests/e2e/e2e_lib.sh
. "$(dirname "$0")/e2e_lib.sh"

# --- a display, without a notification area: timer windows wait minimized ------------
start_display

# --- the room's database ---------------------------------------------------------------
psql -q "$server" -c "create database $database" || fail "cannot make the database"
seat_role=seat_two_$$
printf 'admin\ndemo\n' | "$bin/horavo-setup" create --database "$db" --admin admin --password-stdin \
    --isp-account demo --isp-password-stdin --price 2 --seat-role "$seat_role" >/dev/null \
    || fail "horavo-setup create --database failed"
sql "insert into users (iuser, passw, quanxian) values ('alice', 'a', 2), ('bob', 'b', 2)"
# The server's bound on a seat's minutes counts this test's short minute.
sql "create or replace function horavo_seat_minute_seconds() returns integer language sql immutable as 'select $(( (tick_ms + 999) / 1000 ))'"
# The seats connect as the seats' role; the administrator's PC also names the database as
# the administrators' role (the tables' owner) reaches it.
seat_db="$db user=$seat_role"
export HORAVO_DATABASE="$seat_db"
export TALLYON_TICK_MS=$tick_ms
export QT_QPA_PLATFORM=xcb
unset SESSION_MANAGER

# A seat: a folder, a lock and a line of its own; the same database.
seat_pid=
start_seat() {
    local seat=$work/$1
    mkdir -p "$seat"
    mkdir -m 700 "$seat/runtime"
    "$bin/tallyon-line" --file "$seat/line.json" init >/dev/null
    "$bin/tallyon-line" --file "$seat/line.json" add-account demo demo >/dev/null
    (cd "$seat" && XDG_RUNTIME_DIR="$seat/runtime" TALLYON_LINE="sim:$seat/line.json" \
        HORAVO_ADMIN_DATABASE="${2:-}" exec "$bin/tallyon") \
        >"$seat/tallyon.log" 2>&1 &
    seat_pid=$!
    pids+=("$seat_pid")
    wait_for 20 visible '^登录界面' || fail "the login window of $1's seat did not appear"
}
log_in_seat() {
    log_in "$1" "$2"
    wait_for 15 eval '! visible "^登录界面"' || fail "$1's log-in did not leave the login window"
}
minutes_of() { sql "select coalesce(sum(itime), 0) from internet where iuser = '$1'"; }
rows_of() { sql "select count(*) from internet where iuser = '$1'"; }

step "alice's seat"
start_seat alice
alice_pid=$seat_pid
log_in_seat alice a
wait_for 20 eval '[ "$(rows_of alice)" = 1 ]' || fail "no usage row for alice"

step "bob's seat"
start_seat bob
bob_pid=$seat_pid
log_in_seat bob b
bob_started=$SECONDS
wait_for 20 eval '[ "$(rows_of bob)" = 1 ]' || fail "no usage row for bob"
wait_for 20 eval '[ "$(minutes_of alice)" -ge 3 ] && [ "$(minutes_of bob)" -ge 2 ]' \
    || fail "the seats do not both record (alice $(minutes_of alice), bob $(minutes_of bob))"
step "both record: alice $(minutes_of alice), bob $(minutes_of bob)"

# What a seat's role may not do, the server refuses while the seats record.
for forbidden in "update internet set itime = 1" "delete from internet" \
    "insert into users values ('boss', 'x', 1)" "update knumber set kpassw = 'mine'" \
    "update users set quanxian = 1 where iuser = 'alice'"; do
    if psql -qAt "$seat_db" -c "$forbidden" >/dev/null 2>&1; then
        fail "the seats' role may: $forbidden"
    fi
done
step "the seats' role is refused a lower bill, a delete, an administrator and an account"

# --- the administrator's records window ------------------------------------------------
step "the administrator opens the records window"
start_seat admin "$db"
log_in_seat admin admin
wait_for 15 visible '^管理窗口$' || fail "the administration window did not appear"
admin_window=$(window_of '^管理窗口$')
xdotool windowfocus --sync "$admin_window"
sleep 0.3
xdotool mousemove --window "$admin_window" 237 565 click 1   # 查看记录
wait_for 15 visible '^管理员查询界面$' || fail "the records window did not appear"
records=$(window_of '^管理员查询界面$')
xdotool windowfocus --sync "$records"
sleep 0.3
xdotool key Down        # the user list: admin, then alice
sleep 0.5
xdotool key Tab         # 一键清除
sleep $((tick_ms * 2 / 1000 + 1))   # alice's seat writes her row again meanwhile

step "clearing alice's rows while her seat records"
xdotool key space
answer Pomerix Return
[ "$(rows_of alice)" = 1 ] || fail "a clearing that met a changed row deleted rows"
running "$alice_pid" || fail "alice's seat ended"
step "the conflict was reported; alice's row is kept"

step "alice's seat ends"
"$bin/tallyon-line" --file "$work/alice/line.json" unplug >/dev/null
answer '连接失败' Return
answer '询问' Escape
wait_for 10 eval '! running $alice_pid' || fail "alice's seat did not end"

# Each key waits for the one before it to be taken: on a loaded machine a key sent
# while the window is still being activated, or still reading rows, is lost.
xdotool windowfocus --sync "$records"
sleep 1
xdotool key shift+Tab   # back from 一键清除 to the user list
sleep 0.5
xdotool key Up          # read alice's rows again, as they stand now
sleep 0.5
xdotool key Down
sleep 1
xdotool key Tab
sleep 0.5
xdotool key space
wait_for 10 eval '[ "$(rows_of alice)" = 0 ]' || fail "alice's rows were not cleared"
step "alice's rows are gone"
no_leaks_reported "$work/alice/tallyon.log"

# Bob records on: a minute for every tick since his log-in, none lost to the clearing.
sleep $((tick_ms * 3 / 1000))
running "$bob_pid" || fail "bob's seat ended"
elapsed_ticks=$(( (SECONDS - bob_started) * 1000 / tick_ms ))
bob_minutes=$(minutes_of bob)
[ "$(rows_of bob)" = 1 ] || fail "bob has $(rows_of bob) rows"
[ "$bob_minutes" -ge $((elapsed_ticks - 3)) ] && [ "$bob_minutes" -le $((elapsed_ticks + 2)) ] \
    || fail "bob's row holds $bob_minutes minutes after about $elapsed_ticks ticks"
step "bob's row holds $bob_minutes minutes after about $elapsed_ticks ticks"

echo "two seats end-to-end: all checks passed"
