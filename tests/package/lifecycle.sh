#!/usr/bin/env bash
# Installs the package DEB, runs the smoke test on it, and purges it again, checking
# what purging does with the shared data folder /var/lib/horavo and the group horavo:
# a folder that holds a database is kept (with the group); an empty one is removed,
# and the group with it. Needs root and a machine where the package is not installed.
# Usage: tests/package/lifecycle.sh build-deb/horavo_VERSION_ARCH.deb
set -uo pipefail
cd "$(dirname "$0")/../.."

deb=${1:?usage: $0 PATH/TO/horavo.deb}
data=/var/lib/horavo
export DEBIAN_FRONTEND=noninteractive

if [ "$(id -u)" -ne 0 ]; then
  echo "lifecycle: installs and purges the package, which needs root" >&2
  exit 2
fi
if dpkg-query -W -f='${Status}' horavo 2>/dev/null | grep -q installed || [ -e "$data" ]; then
  echo "lifecycle: horavo is installed here, or $data exists; this test would purge it" >&2
  exit 2
fi

passed=0
failed=0
pass() { echo "PASS: $1"; passed=$((passed + 1)); }
fail() { echo "FAIL: $1"; failed=$((failed + 1)); }
check() { local what=$1; shift; if "$@"; then pass "$what"; else fail "$what"; fi; }
installed() { dpkg-query -W -f='${Status}' horavo 2>/dev/null | grep -q 'install ok installed'; }
has_group() { getent group horavo >/dev/null; }

install_deb() { apt-get install -y -q --no-install-recommends "./${deb#./}" >/dev/null; }
purge() { apt-get purge -y -q horavo >/dev/null; }

check "apt-get installs $deb" install_deb
check "the package is installed" installed
check "the group horavo exists" has_group

tests/package/smoke.sh
smoke=$?
check "the smoke test passes" test "$smoke" -eq 0

# Installed over what an earlier version left (the folder 2775, a database 0664 that
# every local account could read): both are closed to others.
marker=$data/horavo.mdb
chmod 2775 "$data"
install -m 0664 -g horavo /dev/null "$marker"
check "apt-get installs $deb again over an earlier version's folder" \
  bash -c "apt-get install -y -q --reinstall './${deb#./}' >/dev/null"
check "$data is root:horavo, mode 2770 again" test "$(stat -c '%U:%G %a' "$data")" = "root:horavo 2770"
check "the database in $data is 0660" test "$(stat -c %a "$marker")" = 660

# Purge with a database in the folder: the folder, the database and the group stay.
check "apt-get purge horavo (a database in $data)" purge
check "purging keeps $data and the database in it" test -f "$marker"
check "purging keeps the group horavo while $data is kept" has_group
rm -f "$marker"

# Install again on the kept folder, then purge with the folder empty: all gone.
check "apt-get installs $deb again over the kept folder" install_deb
check "$data is still root:horavo, mode 2770" test "$(stat -c '%U:%G %a' "$data")" = "root:horavo 2770"
check "apt-get purge horavo (empty $data)" purge
check "the package is gone" bash -c '! dpkg-query -W -f="\${Status}" horavo 2>/dev/null | grep -q "install ok"'
check "purging removes the empty $data" test ! -e "$data"
check "purging removes the group horavo" bash -c '! getent group horavo >/dev/null'

# Whatever happened, leave the machine as it was.
if installed || [ -e "$data" ] || has_group; then
  purge 2>/dev/null
  rm -f "$marker"; rmdir "$data" 2>/dev/null
  has_group && groupdel horavo 2>/dev/null
fi

echo "package install and purge test: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
