#!/usr/bin/env bash
# Installs, from Debian 12's own archive, what Tallyon and Signova need on a fresh
# machine, by sets. Safe to run again.
# Usage: tools/install-packages.sh [SET...]
#   run     what running the programs needs (Qt's platform plugins, the CJK fonts,
#           Qt's Chinese texts, the browser opener, the sqlite3 command of the demo)
#   build   what building them needs
#   test    what the tests need besides (GoogleTest, a virtual display, a tray, and
#           PostgreSQL's server for the private server of the test command, with no
#           cluster created and no service started)
#   networkmanager  the NetworkManager test's own world (tests/networkmanager), with no
#           service started now or at boot
#   deb     building the Debian package and checking it (tools/build-deb.sh)
#   (none)  run, build, test and networkmanager
set -euo pipefail

sets=("$@")
[ ${#sets[@]} -gt 0 ] || sets=(run build test networkmanager)

packages=()
for set_name in "${sets[@]}"; do
  case "$set_name" in
    run)
      packages+=(
        qt6-qpa-plugins libxcb-cursor0 qt6-translations-l10n
        fonts-arphic-ukai fonts-arphic-uming fonts-wqy-zenhei fontconfig
        xdg-utils sqlite3
      )
      ;;
    build)
      packages+=(
        build-essential cmake ninja-build pkg-config
        qt6-base-dev qt6-base-dev-tools libsqlite3-dev libpq-dev
      )
      ;;
    test)
      packages+=(
        libgtest-dev libgmock-dev googletest libbenchmark-dev
        xvfb xauth xdotool x11-utils imagemagick trayer dbus-x11
      )
      ;;
    networkmanager)
      ;;   # installed apart, below (so is the test set's PostgreSQL server)
    deb)
      packages+=(
        build-essential cmake ninja-build
        qt6-base-dev qt6-base-dev-tools libsqlite3-dev libpq-dev
        debhelper dpkg-dev lintian
        desktop-file-utils appstream man-db
      )
      ;;
    *)
      echo "usage: $0 [run] [build] [test] [networkmanager] [deb]" >&2
      exit 2
      ;;
  esac
done

# Packages installed with no service started (see below): for tests/networkmanager, a
# NetworkManager of the test's own, in network namespaces of its own, against a PPPoE
# access concentrator (a NetworkManager started here would take over the machine's
# network); for the test set, PostgreSQL's server, whose own server the test command
# starts (tools/pg-test-server.sh): no cluster of the system's is made or started.
networkmanager_packages=()
postgresql_packages=()
for set_name in "${sets[@]}"; do
  case "$set_name" in
    networkmanager)
      networkmanager_packages=(
        network-manager ppp pppoe udev iproute2 dbus polkitd util-linux procps
      )
      ;;
    test) postgresql_packages=(postgresql-common postgresql-15) ;;
  esac
done

missing_of() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
  done
}
mapfile -t missing < <(missing_of "${packages[@]}")
mapfile -t missing_nm < <(missing_of "${networkmanager_packages[@]}")
mapfile -t missing_pg < <(missing_of "${postgresql_packages[@]}")
[ ${#missing[@]} -eq 0 ] && [ ${#missing_nm[@]} -eq 0 ] && [ ${#missing_pg[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
[ ${#missing[@]} -eq 0 ] || $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
[ ${#missing_nm[@]} -eq 0 ] && [ ${#missing_pg[@]} -eq 0 ] && exit 0

# While the rest is installed, a policy-rc.d forbids every service start.
policy=/usr/sbin/policy-rc.d
saved=""
if [ -e "$policy" ]; then
  saved=$(mktemp)
  $sudo cp -p "$policy" "$saved"
fi
restore_policy() {
  if [ -n "$saved" ]; then $sudo cp -p "$saved" "$policy"; rm -f "$saved"; else $sudo rm -f "$policy"; fi
}
trap restore_policy EXIT
printf '#!/bin/sh\n# tools/install-packages.sh: no service starts while its packages are installed.\nexit 101\n' \
  | $sudo tee "$policy" >/dev/null
$sudo chmod 755 "$policy"

if [ ${#missing_nm[@]} -gt 0 ]; then
  $sudo apt-get install -y -qq --no-install-recommends "${missing_nm[@]}"
  # Nor at the next boot: the package enables its service; the test starts its own.
  if printf '%s\n' "${missing_nm[@]}" | grep -qx network-manager && command -v systemctl >/dev/null; then
    $sudo systemctl disable NetworkManager.service NetworkManager-wait-online.service \
      NetworkManager-dispatcher.service || true
  fi
fi

# postgresql-common first: it owns createcluster.conf (a configuration file of the
# package: written before, dpkg would ask whether to keep it). Then, before the server
# is installed, no main cluster: the server's package would otherwise make one.
forbid_main_cluster() {
  local conf=/etc/postgresql-common/createcluster.conf
  $sudo mkdir -p "$(dirname "$conf")"
  $sudo touch "$conf"
  if grep -Eq '^[[:space:]]*#?[[:space:]]*create_main_cluster[[:space:]]*=' "$conf"; then
    $sudo sed -Ei 's/^[[:space:]]*#?[[:space:]]*create_main_cluster[[:space:]]*=.*/create_main_cluster = false/' "$conf"
  else
    echo 'create_main_cluster = false' | $sudo tee -a "$conf" >/dev/null
  fi
}
if [ ${#missing_pg[@]} -gt 0 ]; then
  if printf '%s\n' "${missing_pg[@]}" | grep -qx postgresql-common; then
    $sudo apt-get install -y -qq --no-install-recommends postgresql-common
  fi
  forbid_main_cluster
  $sudo apt-get install -y -qq --no-install-recommends postgresql-15
fi
