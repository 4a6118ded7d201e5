#!/usr/bin/env bash
# End to end: the real tallyon under its own Xvfb, on a simulated broadband line with a
# short minute (TALLYON_TICK_MS), against a fresh horavo.mdb.
#
#   1. An ordinary user logs in: the line is dialed, the timer window goes behind its
#      icon (or waits minimized when the desktop has no notification area), one
#      `internet` row appears and grows; a click on the icon brings the window back.
#      The cable is pulled: "网络连接失败..." is answered OK, "是否重新连接？" Cancel,
#      and the program ends with the row keeping its minutes.
#   2. Without a notification area from here on (the window waits minimized): kill -9
#      while it records; the file passes integrity_check, the row holds every minute
#      written before the kill, and the next log-in works; "断开网路" ends it after its
#      question was held open for several minutes.
#   3. The cable is out at log-in: the dial fails and its box stays open while another
#      dial brings the line up; the row starts when a tick finds the line up, and the
#      cable is pulled again.
#   Every finished row's minutes agree with its span (xtime - stime) within one minute.
#
# Usage: timer_e2e.sh BIN_DIR   (the folder holding tallyon, rasdial, horavo-setup and
# tallyon-line). Exit 77 (skipped) when Xvfb, xdotool or sqlite3 is missing.
set -euo pipefail

bin=$(cd "${1:?usage: timer_e2e.sh BIN_DIR}" && pwd)
tick_ms=1500

for tool in Xvfb xdotool sqlite3 xwininfo; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIPPED: $tool is not installed (tools/install-packages.sh installs it)"
        exit 77
    fi
done
for program in tallyon rasdial horavo-setup tallyon-line; do
    [ -x "$bin/$program" ] || { echo "FAILED: $bin/$program has not been built"; exit 1; }
done

work=$(mktemp -d /tmp/tallyon-e2e.XXXXXX)
pids=()
cleanup() {
    stop_processes
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAILED: $*"
    echo "--- tallyon output"
    cat "$work"/tallyon-*.log 2>/dev/null || true
    echo "--- internet rows"
    sqlite3 "$work/horavo.mdb" "select rowid, * from internet" 2>/dev/null || true
    exit 1
}
# shellcheck source=tests/e2e/e2e_lib.sh
. "$(dirname "$0")/e2e_lib.sh"

# --- a display of our own -------------------------------------------------------------
start_display
step "display $DISPLAY"

# A notification area when one can be had (trayer); without it the timer window waits
# minimized, which this test checks instead.
tray=no
tray_pid=
if command -v trayer >/dev/null; then
    trayer --edge bottom --align right --widthtype pixel --width 64 --heighttype pixel --height 32 \
        --transparent false --tint 0x808080 >"$work/trayer.log" 2>&1 &
    tray_pid=$!
    pids+=("$tray_pid")
    tray_up() { xwininfo -root -tree | grep -q '"panel": ("panel" "trayer")'; }
    wait_for 10 tray_up && tray=yes
fi
step "notification area: $tray"

# --- the database and the line -------------------------------------------------------
cd "$work"
printf 'admin\ndemo\n' | "$bin/horavo-setup" create --file horavo.mdb --admin admin --password-stdin \
    --isp-account demo --isp-password-stdin --price 2 >/dev/null
sqlite3 horavo.mdb "insert into users (iuser, passw, quanxian) values ('alice', 'secret', 2)"
"$bin/tallyon-line" --file line.json init >/dev/null
"$bin/tallyon-line" --file line.json add-account demo demo >/dev/null

mkdir -m 700 runtime
export XDG_RUNTIME_DIR=$work/runtime   # the single-copy lock of this run only
export TALLYON_LINE="sim:$work/line.json"
export TALLYON_TICK_MS=$tick_ms
export QT_QPA_PLATFORM=xcb
unset SESSION_MANAGER

sql() { sqlite3 -cmd ".timeout 5000" horavo.mdb "$1"; }
rows() { sql "select count(*) from internet"; }
rows_are() { [ "$(rows)" = "$1" ]; }
itime_of() { sql "select itime from internet where rowid = $1"; }
last_rowid() { sql "select coalesce(max(rowid), 0) from internet"; }

run=0
tallyon_pid=
start_tallyon() {
    run=$((run + 1))
    "$bin/tallyon" >"$work/tallyon-$run.log" 2>&1 &
    tallyon_pid=$!
    pids+=("$tallyon_pid")
    wait_for 20 visible '^登录界面' || fail "the login window did not appear"
}

# Clicks the notification-area icon of tallyon (a child window of trayer's panel).
click_icon() {
    local icon
    icon=$(xwininfo -root -tree | awk '/"panel": \("panel" "trayer"\)/ {p = 1; next}
                                       p && /"tallyon": \("tallyon" "tallyon"\)/ {print $1; exit}')
    [ -n "$icon" ] || fail "tallyon has no icon in the notification area"
    xdotool mousemove --window "$icon" 8 12 click 1
}

timer_window_waits() {
    if [ $tray = yes ]; then
        ! visible '^计时查看器$'
    else
        visible '^计时查看器$'
    fi
}

# --- 1. log in, record, pull the cable ------------------------------------------------
step "run 1: log in as an ordinary user"
start_tallyon
log_in alice secret
wait_for 20 rows_are 1 || fail "no usage row after the log-in"
row=$(last_rowid)
[ "$(sql "select iuser from internet where rowid = $row")" = alice ] || fail "the row is not alice's"
[ "$(sql "select idate from internet where rowid = $row")" = "$(date +%F)" ] || fail "the row's date is not today"
wait_for 10 timer_window_waits || fail "the timer window did not go behind its icon (notification area: $tray)"
grew() { [ "$(itime_of "$row")" -ge 3 ]; }
wait_for 20 grew || fail "the row did not grow (itime $(itime_of "$row"))"
step "row $row grows: itime $(itime_of "$row")"

if [ $tray = yes ]; then
    click_icon
    wait_for 10 visible '^计时查看器$' || fail "a click on the icon did not bring the timer window back"
    step "the icon brought the timer window back"
fi

"$bin/tallyon-line" --file line.json unplug
answer '连接失败' Return
kept=$(itime_of "$row")
answer '询问' Escape
wait_for 10 eval '! running $tallyon_pid' || fail "the program did not end after Cancel at 是否重新连接？"
sleep $((tick_ms * 2 / 1000 + 1))
[ "$(itime_of "$row")" = "$kept" ] || fail "the row changed after the end"
[ "$kept" -ge 3 ] || fail "the row lost minutes: itime $kept"
[ "$(rows)" = 1 ] || fail "more than one usage row"
step "run 1 ended; the row kept $kept minutes"

# --- 2. kill -9 while recording, then log in again ------------------------------------
# From here on the desktop has no notification area: the timer window waits minimized.
if [ -n "$tray_pid" ]; then
    kill "$tray_pid" 2>/dev/null || true   # it may have gone by itself already
    tray_gone() { ! xwininfo -root -tree | grep -q '"panel": ("panel" "trayer")'; }
    wait_for 10 tray_gone || fail "trayer did not go"
    tray=no
fi
"$bin/tallyon-line" --file line.json plug
step "run 2: kill -9 while recording"
start_tallyon
log_in alice secret
wait_for 20 rows_are 2 || fail "no second usage row"
row=$(last_rowid)
wait_for 10 timer_window_waits || fail "without a notification area the timer window is not on the desktop"
grew() { [ "$(itime_of "$row")" -ge 3 ]; }
wait_for 20 grew || fail "the second row did not grow"
written=$(itime_of "$row")
kill -9 "$tallyon_pid"
wait "$tallyon_pid" 2>/dev/null || true
[ "$(sql "pragma integrity_check")" = ok ] || fail "the database is damaged after kill -9"
after=$(itime_of "$row")
[ "$after" -ge "$written" ] || fail "minutes written before the kill were lost ($written, now $after)"
[ "$(itime_of 1)" = "$kept" ] || fail "run 1's row changed"
step "after kill -9: integrity ok, row $row holds $after minutes (read $written before the kill)"

step "run 3: the next log-in works; 断开网路 ends it"
start_tallyon
log_in alice secret
wait_for 20 rows_are 3 || fail "no usage row after the log-in that followed the crash"
row=$(last_rowid)
grew() { [ "$(itime_of "$row")" -ge 2 ]; }
wait_for 20 grew || fail "the row after the crash did not grow"
wait_for 10 visible '^计时查看器$' || fail "the timer window cannot be reached"
xdotool windowfocus --sync "$(window_of '^计时查看器$')"
sleep 0.2
xdotool key space          # 断开网路 has the focus
wait_for 15 visible '^断开连接$' || fail "no question 断开连接"
sleep $((tick_ms * 4 / 1000))     # the question stays open for several minutes
answer '断开连接' Return
wait_for 10 eval '! running $tallyon_pid' || fail "断开网路 did not end the program"
"$bin/tallyon-line" --file line.json show | grep -q '^active:' && fail "the line is still connected"
[ "$(sql "pragma integrity_check")" = ok ] || fail "the database is damaged"
step "run 3 ended by 断开网路 with row $row at $(itime_of "$row") minutes"

step "run 4: the dial fails at log-in; another dial brings the line up meanwhile"
"$bin/tallyon-line" --file line.json unplug
start_tallyon
log_in alice secret
wait_for 20 visible '^Pomerix$' || fail "no box for the failed dial"
sleep $((tick_ms * 3 / 1000))     # the box stays open for a few minutes
"$bin/tallyon-line" --file line.json plug
printf 'demo\n' | "$bin/rasdial" --password-stdin 宽带连接 demo >/dev/null
sleep $((tick_ms * 2 / 1000))
answer 'Pomerix' Return
wait_for 20 rows_are 4 || fail "no usage row once the line was found up"
row=$(last_rowid)
grew() { [ "$(itime_of "$row")" -ge 4 ]; }
wait_for 20 grew || fail "the row did not grow"
"$bin/tallyon-line" --file line.json unplug
answer '连接失败' Return
answer '询问' Escape
wait_for 10 eval '! running $tallyon_pid' || fail "the program did not end after Cancel at 是否重新连接？"
step "run 4 ended with row $row at $(itime_of "$row") minutes"

# The minutes of a row are the minute it began and one per interval after it, so its
# span is (itime - 1) intervals, give or take one interval and the second of the times.
while IFS='|' read -r id itime span; do
    expected=$(( (itime - 1) * tick_ms ))
    difference=$(( span * 1000 - expected ))
    [ "${difference#-}" -le $((tick_ms + 1000)) ] \
        || fail "row $id holds $itime minutes over $span s, not within one interval of $((expected / 1000)) s"
done < <(sql "select rowid, itime, cast(round((julianday(xtime) - julianday(stime)) * 86400) as integer) from internet")
step "every row's minutes agree with its span"
no_leaks_reported "$work"/tallyon-*.log

echo "timer end-to-end: all checks passed"
