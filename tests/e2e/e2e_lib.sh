# What the end-to-end scripts share: waiting, finding windows by title, answering boxes
# and a display of their own. Sourced; the script defines fail, pids and work first.

# Ends every process the script started (pids) and waits for them.
stop_processes() {
    local pid
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    wait 2>/dev/null || true
}

step() { echo "[$(date +%T)] $*"; }

# Fails when a program that ended on its own reported leaked memory in its log (built
# with the sanitizers, a program prints that report as it exits).
no_leaks_reported() {
    local log
    for log in "$@"; do
        if grep -q 'ERROR: LeakSanitizer' "$log" 2>/dev/null; then
            cat "$log"
            fail "$(basename "$log") reports leaked memory"
        fi
    done
}

# Waits up to $1 seconds for the command after it to succeed.
wait_for() {
    local limit=$1
    shift
    local end=$((SECONDS + limit))
    until "$@"; do
        [ $SECONDS -lt $end ] || return 1
        sleep 0.2
    done
}

visible() { xdotool search --onlyvisible --name "$1" >/dev/null 2>&1; }
window_of() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1; }
running() { kill -0 "$1" 2>/dev/null && [ "$(ps -o stat= -p "$1" | cut -c1)" != Z ]; }

# Answers the box titled $1 with the key $2.
answer() {
    local box
    wait_for 15 visible "^$1\$" || fail "no box \"$1\""
    box=$(window_of "^$1\$")
    xdotool windowfocus --sync "$box"
    sleep 0.2
    xdotool key "$2"
}

# Types name $1 and password $2 into the login window and presses Enter.
log_in() {
    local login
    login=$(window_of '^登录界面')
    xdotool windowfocus --sync "$login"
    sleep 0.3
    xdotool type --delay 20 "$1"
    xdotool key Tab
    xdotool type --delay 20 "$2"
    xdotool key Return
}

# An Xvfb display of this run's own; DISPLAY names it.
start_display() {
    exec 5>"$work/display"
    Xvfb -displayfd 5 -screen 0 1280x800x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
    pids+=($!)
    exec 5>&-
    wait_for 10 test -s "$work/display" || fail "Xvfb did not start"
    export DISPLAY=":$(head -n1 "$work/display")"
    wait_for 10 xwininfo -root >/dev/null 2>&1 || fail "display $DISPLAY does not answer"
}
