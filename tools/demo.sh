#!/usr/bin/env bash
# Builds everything and starts tallyon in demo/ on a fresh demo database and a
# simulated broadband line.
# Usage: tools/demo.sh          build, make demo/ anew, start tallyon
#        tools/demo.sh again    start tallyon again on the demo/ that is there (no build,
#                               nothing wiped: the usage rows of earlier runs stay)
# The demo's minute lasts TALLYON_TICK_MS milliseconds (10,000 unless set), so that a
# visitor sees the minutes move; a real run counts real minutes.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
bin=$top/build/bin
export TALLYON_TICK_MS=${TALLYON_TICK_MS:-10000}

if [ "${1:-}" = again ]; then
    [ -x "$bin/tallyon" ] && [ -f demo/horavo.mdb ] && [ -f demo/horavo.conf ] || { echo "No demo yet: run tools/demo.sh first." >&2; exit 1; }
else
    # What running and building need; the test tools are not installed for the demo.
    tools/install-packages.sh run build

    # The release preset: the programs alone, optimised, in build/.
    cmake --preset release
    cmake --build --preset release -j "$(nproc)"

    rm -rf demo
    mkdir -p demo
    (
        cd demo
        # The database: an administrator, an ordinary user (code 2), a user with the usage
        # reminder (code 3), and one ISP account in use at 2 yuan an hour.
        printf 'admin\ndemo\n' | "$bin/horavo-setup" create --file horavo.mdb --admin admin --password-stdin \
            --isp-account demo --isp-password-stdin --price 2
        sqlite3 horavo.mdb "insert into users (iuser, passw, quanxian) values ('alice', 'alice', 2), ('bob', 'bob', 3);"
        # The simulated line: one phonebook entry, and the ISP knows the demo account.
        "$bin/tallyon-line" --file line.json init
        "$bin/tallyon-line" --file line.json add-account demo demo
        # The demo room's settings, in place of the machine's /etc/horavo/horavo.conf: a
        # relative database path is taken from the settings file's folder.
        printf '# The demo room: its database and its simulated line.\ndatabase = horavo.mdb\nline = sim:%s/line.json\n' \
            "$PWD" > horavo.conf
    )
fi

cd demo
export HORAVO_SETTINGS="$PWD/horavo.conf"
echo "Demo folder: $PWD"
echo "Log in as admin/admin (administrator), alice/alice (code 2) or bob/bob (code 3)."
echo "A demo minute lasts $((TALLYON_TICK_MS / 1000)) s (TALLYON_TICK_MS=$TALLYON_TICK_MS)."
echo "Pull the simulated cable with: $bin/tallyon-line --file $PWD/line.json unplug"
echo "Start again later, keeping the rows: tools/demo.sh again"
exec "$bin/tallyon"
