#!/usr/bin/env bash
# Builds everything and starts tallyon in demo/ on a fresh demo database and a
# simulated broadband line. Usage: tools/demo.sh
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD

tools/install-packages.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHORAVO_BUILD_TESTS=OFF -DHORAVO_BUILD_BENCH=OFF
cmake --build build -j "$(nproc)"
bin=$top/build/bin

rm -rf demo
mkdir -p demo
cd demo

# The database: an administrator, an ordinary user (code 2), a user with the usage
# reminder (code 3), and one ISP account in use at 2 yuan an hour.
"$bin/horavo-setup" create --file horavo.mdb --admin admin --password admin \
    --isp-account demo --isp-password demo --price 2
sqlite3 horavo.mdb "insert into users (iuser, passw, quanxian) values ('alice', 'alice', 2), ('bob', 'bob', 3);"

# The simulated line: one phonebook entry, and the ISP knows the demo account.
"$bin/tallyon-line" --file line.json init
"$bin/tallyon-line" --file line.json add-account demo demo

export TALLYON_LINE="sim:$PWD/line.json"
echo "Demo folder: $PWD"
echo "Log in as admin/admin (administrator), alice/alice (code 2) or bob/bob (code 3)."
echo "Pull the simulated cable with: $bin/tallyon-line --file $PWD/line.json unplug"
exec "$bin/tallyon"
