#!/bin/sh
# Stands in for NetworkManager's nmcli in the tests. It answers from the files in
# $FAKE_NM_DIR and logs there every call it gets:
#   not-running   present: every call fails as nmcli does without NetworkManager (8)
#   profiles      terse NAME:TYPE lines          active   terse NAME:TYPE:ACTIVE-PATH lines
#   parent        the profile's pppoe.parent      up-exit  exit code of "connection up"
#   modify-exit   exit code of "connection modify"
#   hang          a shell pattern: a call whose arguments match it hangs (sleeps a minute;
#                 its pid goes to hung-pids)
# Written by it: calls, modified, downed, secrets, secrets-path,
#   secrets-kind (pipe or file: what the passwd-file named)
d="$FAKE_NM_DIR"
printf '%s\n' "$*" >> "$d/calls"
if [ -e "$d/hang" ]; then
    case "$*" in
    $(cat "$d/hang")) echo $$ >> "$d/hung-pids"; exec sleep 60 ;;
    esac
fi
if [ -e "$d/not-running" ]; then
    echo "Error: NetworkManager is not running." >&2
    exit 8
fi
case "$*" in
"-t -f RUNNING general")
    echo running ;;
"-t -f NAME,TYPE connection show")
    cat "$d/profiles" 2>/dev/null ;;
"-t -f NAME,TYPE,ACTIVE-PATH connection show --active")
    cat "$d/active" 2>/dev/null ;;
"connection down apath "*)
    printf '%s\n' "$4" >> "$d/downed" ;;
"connection modify --temporary id "*)
    shift 4
    printf '%s\n' "$*" >> "$d/modified"
    exit "$(cat "$d/modify-exit" 2>/dev/null || echo 0)" ;;
"--wait "*)
    if [ "$7" = passwd-file ]; then
        if [ -p "$8" ]; then echo pipe; else echo file; fi > "$d/secrets-kind"
        cat "$8" > "$d/secrets"
        printf '%s\n' "$8" > "$d/secrets-path"
    fi
    code="$(cat "$d/up-exit" 2>/dev/null || echo 0)"
    if [ "$code" = 0 ]; then
        printf '%s:pppoe:/org/freedesktop/NetworkManager/ActiveConnection/7\n' "$6" >> "$d/active"
        echo "Connection successfully activated"
    else
        echo "Error: Connection activation failed: The PPP service failed to start." >&2
    fi
    exit "$code" ;;
"-t -g pppoe.parent connection show id "*)
    cat "$d/parent" 2>/dev/null ;;
"-t -g connection.interface-name connection show id "*)
    echo "" ;;
*)
    echo "Error: fake nmcli does not know: $*" >&2
    exit 2 ;;
esac
exit 0
