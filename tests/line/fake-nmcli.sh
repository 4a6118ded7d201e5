#!/bin/sh
# Stands in for NetworkManager's nmcli in the tests. It answers from the files in
# $FAKE_NM_DIR and logs there every call it gets:
#   not-running   present: every call fails as nmcli does without NetworkManager (8)
#   profiles      terse NAME:TYPE[:UUID[:PARENT]] lines (UUID defaults to uuid-LINE, PARENT
#                 to the content of parent)
#   active        terse NAME:TYPE:ACTIVE-PATH[:UUID] lines (UUID defaults to that of the
#                 first profile of that name)
#   parent        the profiles' pppoe.parent      up-exit  exit code of "connection up"
#   modify-exit   exit code of "connection modify"
#   up-error, modify-error   what a failing "connection up" / "connection modify" says
#   connectivity  what "networking connectivity" answers (default unknown)
#   connectivity-exit, connectivity-error   its exit code and what it says when that fails
#   no-bus        present: every call fails as nmcli does without a system bus (1)
#   translates    present: outside the C locale (LC_ALL=C) the answers are in Chinese
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
translated=
[ -e "$d/translates" ] && [ "$LC_ALL" != C ] && translated=yes
if [ -e "$d/no-bus" ]; then
    if [ -n "$translated" ]; then echo "错误：无法创建 NMClient 对象：无法连接：没有那个文件或目录" >&2
    else echo "Error: Could not create NMClient object: Could not connect: No such file or directory." >&2; fi
    exit 1
fi
if [ -e "$d/not-running" ]; then
    echo "Error: NetworkManager is not running." >&2
    exit 8
fi

# The profiles as NAME<tab>UUID<tab>TYPE<tab>PARENT lines; "\:" in a name is kept as \001.
table() {
    awk -v parent="$(head -n1 "$d/parent" 2>/dev/null)" '{
        gsub(/\\:/, "\001"); n = split($0, f, ":")
        uuid = (n >= 3 && f[3] != "") ? f[3] : "uuid-" NR
        print f[1] "\t" uuid "\t" f[2] "\t" ((n >= 4) ? f[4] : parent)
    }' "$d/profiles" 2>/dev/null
}
unescape() { sed 's/\x01/\\:/g'; }

case "$*" in
"networking connectivity")
    code="$(cat "$d/connectivity-exit" 2>/dev/null || echo 0)"
    if [ "$code" != 0 ]; then cat "$d/connectivity-error" >&2 2>/dev/null; exit "$code"; fi
    answer="$(cat "$d/connectivity" 2>/dev/null || echo unknown)"
    if [ -n "$translated" ]; then
        case "$answer" in full) answer=完全 ;; none) answer=无 ;; limited) answer=受限 ;; unknown) answer=未知 ;; esac
    fi
    echo "$answer" ;;
"-t -f RUNNING general")
    echo running ;;
"-t -f NAME,UUID,TYPE connection show")
    table | awk -F'\t' '{ print $1 ":" $2 ":" $3 }' | unescape ;;
"-t -f NAME,UUID,TYPE,ACTIVE-PATH connection show --active")
    [ -e "$d/active" ] || exit 0
    table > "$d/.table"
    awk -F'\t' 'FNR == NR { if (!($1 in first)) first[$1] = $2; next }
        { gsub(/\\:/, "\001"); n = split($0, f, ":")
          uuid = (n >= 4) ? f[4] : first[f[1]]
          print f[1] ":" uuid ":" f[2] ":" f[3] }' "$d/.table" "$d/active" | unescape ;;
"connection down apath "*)
    printf '%s\n' "$4" >> "$d/downed" ;;
"connection modify --temporary uuid "*)
    shift 4
    printf '%s\n' "$*" >> "$d/modified"
    code="$(cat "$d/modify-exit" 2>/dev/null || echo 0)"
    [ "$code" = 0 ] || cat "$d/modify-error" >&2 2>/dev/null
    exit "$code" ;;
"--wait "*)
    if [ "$7" = passwd-file ]; then
        if [ -p "$8" ]; then echo pipe; else echo file; fi > "$d/secrets-kind"
        cat "$8" > "$d/secrets"
        printf '%s\n' "$8" > "$d/secrets-path"
    fi
    code="$(cat "$d/up-exit" 2>/dev/null || echo 0)"
    if [ "$code" = 0 ]; then
        name="$(table | awk -F'\t' -v u="$6" '$2 == u { print $1; exit }' | unescape)"
        printf '%s:pppoe:/org/freedesktop/NetworkManager/ActiveConnection/7:%s\n' "$name" "$6" >> "$d/active"
        echo "Connection successfully activated"
    elif [ -e "$d/up-error" ]; then
        cat "$d/up-error" >&2
    else
        echo "Error: Connection activation failed: The PPP service failed to start." >&2
    fi
    exit "$code" ;;
"-t -g pppoe.parent connection show uuid "*)
    table | awk -F'\t' -v u="$7" '$2 == u { print $4; exit }' ;;
"-t -g connection.interface-name connection show uuid "*)
    echo "" ;;
*)
    echo "Error: fake nmcli does not know: $*" >&2
    exit 2 ;;
esac
exit 0
