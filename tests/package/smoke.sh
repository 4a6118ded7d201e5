#!/usr/bin/env bash
# Smoke test of the installed package horavo: the commands run, the settings file is in
# place and chooses the database, horavo-setup makes a database in a copy of the shared
# data folder, tallyon and signova start on it (Qt's
# offscreen platform) and stay up, the line tools dial a simulated line, and the
# desktop entries, icons, metainfo and manual pages are in place and valid.
# Needs the package installed (tests/package/lifecycle.sh installs it and runs this).
# Usage: tests/package/smoke.sh
set -uo pipefail

export LC_ALL=C.UTF-8
libexec=/usr/libexec/horavo
data=/var/lib/horavo
sizes=(16 22 24 32 48 64 128 256)

passed=0
failed=0
pass() { echo "PASS: $1"; passed=$((passed + 1)); }
fail() { echo "FAIL: $1"; failed=$((failed + 1)); }
# check WHAT COMMAND...: one check, passed when COMMAND exits 0.
check() { local what=$1; shift; if "$@"; then pass "$what"; else fail "$what"; fi; }
# exits CODE COMMAND...: COMMAND exits with CODE (its output goes to $out).
out=""
exits() { local want=$1; shift; out=$("$@" 2>&1); local got=$?; [ "$got" -eq "$want" ] || { echo "  exit $got, expected $want: $*"; echo "$out" | sed 's/^/  | /'; return 1; }; }

tmp=$(mktemp -d)
children=()
cleanup() {
  for pid in "${children[@]}"; do kill "$pid" 2>/dev/null; done
  rm -rf "$tmp"
}
trap cleanup EXIT

# --- files in place ---------------------------------------------------------------
for cmd in /usr/bin/tallyon /usr/bin/signova /usr/bin/horavo-setup "$libexec/rasdial" "$libexec/tallyon-line"; do
  check "$cmd is installed and executable" test -x "$cmd"
done
check "no test or benchmark executable is installed" \
  bash -c '! dpkg -L horavo | grep -E "_tests\$|/bench_|store_test_writer"'
check "$data is a folder root:horavo, mode 2770" \
  test "$(stat -c '%U:%G %a' "$data" 2>/dev/null)" = "root:horavo 2770"
check "a user outside the group horavo cannot look into $data" \
  bash -c "! runuser -u nobody -- ls '$data' >/dev/null 2>&1"

# --- the room's settings file -------------------------------------------------------
settings=/etc/horavo/horavo.conf
check "$settings is installed as a conffile" \
  bash -c "dpkg-query -W -f='\${Conffiles}\n' horavo | grep -q '^ $settings '"
check "$settings names $data/horavo.mdb and the NetworkManager line" \
  bash -c "grep -qx 'database = $data/horavo.mdb' '$settings' && grep -qx 'line = networkmanager' '$settings'"
mkdir -m 0755 "$tmp/home"
if [ ! -e "$data/horavo.mdb" ]; then
  check "from a home folder, horavo-setup looks for $data/horavo.mdb and says the settings file sent it there" \
    bash -c "cd '$tmp/home' && out=\$(horavo-setup report 2>&1); [ \$? -eq 3 ] && grep -qF '（查找的文件夹：$data）' <<<\"\$out\" \
             && grep -qF '设置文件“$settings”第' <<<\"\$out\""
fi
check "a user outside the group is told that only the group horavo may enter $data" \
  bash -c "cd / && out=\$(runuser -u nobody -- horavo-setup report 2>&1); [ \$? -eq 3 ] && grep -qF '只有 horavo 组的成员可以进入' <<<\"\$out\""
check "HORAVO_DATABASE overrides the settings file" \
  bash -c "cd '$tmp/home' && out=\$(HORAVO_DATABASE='$tmp/home/mine.mdb' horavo-setup report 2>&1); [ \$? -eq 3 ] \
           && grep -qF '环境变量 HORAVO_DATABASE 指向这里' <<<\"\$out\""

# --- horavo-setup ---------------------------------------------------------------------
check "horavo-setup --help exits 0 and shows both commands" \
  bash -c 'help=$(horavo-setup --help) && grep -q "create" <<<"$help" && grep -q "add-admin" <<<"$help"'
if horavo-setup --help 2>&1 | grep -q -- '--version'; then
  version=$(dpkg-query -W -f='${Version}' horavo)
  check "horavo-setup --version exits 0 and names $version" \
    bash -c "horavo-setup --version | grep -qF '$version'"
else
  echo "note: horavo-setup has no --version yet; not checked"
fi

# A copy of the shared data folder, with its owner, group and mode, and settings that
# name the database in it (the machine's own settings name $data/horavo.mdb).
cp -a "$data" "$tmp/data"
db=$tmp/data/horavo.mdb
printf 'database = %s\n' "$db" > "$tmp/data.conf"
check "horavo-setup create makes the database its settings file names, in a copy of $data" \
  bash -c "cd '$tmp/home' && printf 'smoke\ndemo\n' | HORAVO_SETTINGS='$tmp/data.conf' horavo-setup create --admin smoke \
             --password-stdin --isp-account demo --isp-password-stdin --price 2 && test -s '$db'"
check "horavo-setup create leaves an existing file alone (exit 2)" \
  exits 2 bash -c "echo other | HORAVO_SETTINGS='$tmp/data.conf' horavo-setup create --admin other --password-stdin"
check "nothing was made in the real $data" test ! -e "$data/horavo.mdb"
check "horavo-setup add-admin adds an administrator" \
  exits 0 bash -c "echo second | horavo-setup add-admin --file '$db' --admin second --password-stdin"
check "horavo-setup add-admin refuses a name that is taken (exit 5)" \
  exits 5 bash -c "echo second | horavo-setup add-admin --file '$db' --admin second --password-stdin"
check "the database belongs to the group horavo (setgid folder)" \
  test "$(stat -c %G "$db" 2>/dev/null)" = horavo
check "the database is 0660: the group records into it, nobody else may read it" \
  test "$(stat -c %a "$db" 2>/dev/null)" = 660
# With the way to it open, only the file's own mode keeps nobody out.
chmod o+x "$tmp" "$tmp/data"
check "a user outside the group horavo reaches the database but cannot read it" \
  bash -c "runuser -u nobody -- stat '$db' >/dev/null && ! runuser -u nobody -- cat '$db' >/dev/null 2>&1"
chmod o-x "$tmp" "$tmp/data"

# --- the desktop programs start and stay up ---------------------------------------
mkdir -m 0700 "$tmp/run"
stays_up() {
  local program=$1 log=$tmp/$1.log pid
  (cd "$tmp/home" && HORAVO_SETTINGS=$tmp/data.conf QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$tmp/run exec "$program") >"$log" 2>&1 &
  pid=$!
  children+=("$pid")
  sleep 3
  if kill -0 "$pid" 2>/dev/null; then
    kill "$pid"; wait "$pid" 2>/dev/null
    return 0
  fi
  wait "$pid"; echo "  $program ended within 3 s (exit $?):"; sed 's/^/  | /' "$log"
  return 1
}
check "tallyon (offscreen) starts on the database and stays up 3 s" stays_up tallyon
check "signova (offscreen) starts on the database and stays up 3 s" stays_up signova

# --- the line tools on a simulated line -------------------------------------------
line=$tmp/line.json
check "tallyon-line init makes a simulated line" exits 0 "$libexec/tallyon-line" --file "$line" init
printf 'line = sim:%s\n' "$line" > "$tmp/line.conf"
check "rasdial dials the simulated line its settings file names, with an accepted account" \
  exits 0 env HORAVO_SETTINGS="$tmp/line.conf" "$libexec/rasdial" 宽带连接 demo demo
check "tallyon-line show lists the connection rasdial made" \
  bash -c "'$libexec/tallyon-line' --file '$line' show | grep -q '^active:'"
check "rasdial hangs up" exits 0 env TALLYON_LINE="sim:$line" "$libexec/rasdial" 宽带连接 /DISCONNECT
check "rasdial reports error 691 for a refused password" \
  bash -c "out=\$(TALLYON_LINE='sim:$line' '$libexec/rasdial' 宽带连接 demo wrong); [ \$? -eq 1 ] && grep -q 691 <<<\"\$out\""

# --- desktop entries, icons, metainfo, manual pages -------------------------------
png_size() { od -An -j16 -N8 --endian=big -tu4 "$1" | awk '{print $1 "x" $2}'; }
for app in tallyon signova; do
  entry=/usr/share/applications/org.example.horavo.$app.desktop
  check "desktop-file-validate $entry" desktop-file-validate "$entry"
  check "$entry runs $app (the settings name the database) with icon $app" \
    bash -c "grep -qx 'Exec=$app' '$entry' && ! grep -q '^Path=' '$entry' && grep -qx 'Icon=$app' '$entry'"
  check "appstreamcli validate the metainfo of $app" \
    appstreamcli validate --no-net "/usr/share/metainfo/org.example.horavo.$app.metainfo.xml"
  check "the scalable icon of $app is an SVG" \
    grep -q '<svg' "/usr/share/icons/hicolor/scalable/apps/$app.svg"
  for size in "${sizes[@]}"; do
    icon=/usr/share/icons/hicolor/${size}x${size}/apps/$app.png
    check "$icon is a ${size}x${size} PNG" test "$(png_size "$icon" 2>/dev/null)" = "${size}x${size}"
  done
done

renders_cleanly() {
  local page=$1 text=$tmp/page.txt warnings=$tmp/page.warnings
  MANWIDTH=80 man --warnings -E UTF-8 -l "$page" >"$text" 2>"$warnings" || return 1
  [ ! -s "$warnings" ] || { sed 's/^/  | /' "$warnings"; return 1; }
  grep -q '^NAME' "$text"
}
for page in tallyon signova horavo-setup rasdial tallyon-line; do
  check "man -l renders $page.1 without warnings" renders_cleanly "/usr/share/man/man1/$page.1.gz"
done

# --- the notes beside the manual pages ----------------------------------------------
doc=/usr/share/doc/horavo
for file in README.md notes.md room.md; do
  check "$doc holds $file" bash -c "[ -s '$doc/$file' ] || [ -s '$doc/$file.gz' ]"
done

echo "package smoke test: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
