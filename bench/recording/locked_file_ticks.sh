#!/usr/bin/env bash
# Measures, on the real programs, that no minute is lost while the database file is
# locked: two tallyon record at once (alice and bob, each with a single-copy lock of its
# own) under Xvfb on the simulated line, with a short tick, while another writer holds
# the file's write lock for HOLD seconds out of every PERIOD. After RUN seconds both are
# killed; each row's itime is compared with the ticks that fell due since its dial.
#
# Usage: bench/recording/locked_file_ticks.sh BIN_DIR [TICK_MS] [RUN_S] [HOLD_S] [PERIOD_S]
set -euo pipefail
bin=$(cd "${1:?usage: locked_file_ticks.sh BIN_DIR}" && pwd)
tick_ms=${2:-500}
run_s=${3:-40}
hold_s=${4:-3}
period_s=${5:-5}

work=$(mktemp -d /tmp/tallyon-locked.XXXXXX)
pids=()
cleanup() { for p in "${pids[@]}"; do kill -9 "$p" 2>/dev/null || true; done; wait 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
wait_for() { local end=$((SECONDS + $1)); shift; until "$@"; do [ $SECONDS -lt $end ] || return 1; sleep 0.1; done; }

exec 5>"$work/display"
Xvfb -displayfd 5 -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
exec 5>&-
wait_for 10 test -s "$work/display"
export DISPLAY=":$(head -n1 "$work/display")"
wait_for 10 xwininfo -root >/dev/null 2>&1

cd "$work"
printf 'admin\ndemo\n' | "$bin/horavo-setup" create --file horavo.mdb --admin admin --password-stdin \
    --isp-account demo --isp-password-stdin --price 2 >/dev/null
sqlite3 horavo.mdb "insert into users values ('alice', 'a', 2), ('bob', 'b', 2)"
"$bin/tallyon-line" --file line.json init >/dev/null
export TALLYON_LINE="sim:$work/line.json" TALLYON_TICK_MS=$tick_ms QT_QPA_PLATFORM=xcb
unset SESSION_MANAGER
sql() { sqlite3 -cmd ".timeout 20000" horavo.mdb "$1"; }

has_row() { [ "$(sql "select count(*) from internet where iuser='$1'")" = 1 ]; }

declare -A started
for user in alice bob; do
    mkdir -m 700 "run-$user"
    XDG_RUNTIME_DIR=$work/run-$user "$bin/tallyon" >"tallyon-$user.log" 2>&1 &
    pids+=($!)
    wait_for 20 xdotool search --onlyvisible --name '^登录界面' >/dev/null
    win=$(xdotool search --onlyvisible --name '^登录界面' | head -n1)
    xdotool windowfocus --sync "$win"; sleep 0.3
    xdotool type --delay 20 "$user"; xdotool key Tab; xdotool type --delay 20 "${user:0:1}"; xdotool key Return
    wait_for 20 has_row "$user" || { import -window root "/tmp/locked-$user.png"; cat "tallyon-$user.log"; exit 1; }
    started[$user]=$(date +%s.%N)
done

# The other writer: holds the write lock HOLD seconds out of every PERIOD.
python3 - "$work/horavo.mdb" "$hold_s" "$period_s" "$run_s" >"holder.log" 2>&1 <<'PY' &
import sqlite3, sys, time
path, hold, period, run = sys.argv[1], float(sys.argv[2]), float(sys.argv[3]), float(sys.argv[4])
end = time.time() + run
holds = 0
while time.time() < end:
    c = sqlite3.connect(path, timeout=30, isolation_level=None)
    c.execute("BEGIN IMMEDIATE")
    time.sleep(hold)
    c.execute("COMMIT")
    c.close()
    holds += 1
    time.sleep(max(0.0, period - hold))
print("holds", holds)
PY
holder=$!
pids+=("$holder")

# Wait for the holder to let go, then for a few more ticks to be written, before the kill.
wait "$holder"
sleep "$(echo "$tick_ms * 3 / 1000" | bc -l)"
stopped=$(date +%s.%N)
for p in "${pids[@]:1}"; do kill -9 "$p" 2>/dev/null || true; done

for user in alice bob; do
    itime=$(sql "select itime from internet where iuser='$user'")
    due=$(echo "($stopped - ${started[$user]}) * 1000 / $tick_ms" | bc)
    echo "$user: itime $itime, ticks due since the dial about $((due + 1)) (the first minute included; the last tick may not be written yet)"
done
cat holder.log
