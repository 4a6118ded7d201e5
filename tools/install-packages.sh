#!/usr/bin/env bash
# Installs, from Debian 12's own archive, everything that building, running and
# testing Tallyon and Signova needs on a fresh machine. Safe to run again.
# Usage: tools/install-packages.sh [deb]
#   (no argument)  building, running and testing
#   deb            building the Debian package and checking it (tools/build-deb.sh)
set -euo pipefail

set_name=${1:-}
case "$set_name" in
  "")
    packages=(
      build-essential cmake ninja-build pkg-config
      qt6-base-dev qt6-base-dev-tools
      libsqlite3-dev sqlite3
      libgtest-dev libgmock-dev googletest libbenchmark-dev
      fonts-arphic-ukai fonts-arphic-uming fonts-wqy-zenhei fontconfig
      xvfb xauth xdotool x11-utils imagemagick xdg-utils trayer
      qt6-qpa-plugins libxcb-cursor0 dbus-x11
    )
    ;;
  deb)
    packages=(
      build-essential cmake ninja-build
      qt6-base-dev qt6-base-dev-tools libsqlite3-dev
      debhelper dpkg-dev lintian
      desktop-file-utils appstream man-db
    )
    ;;
  *)
    echo "usage: $0 [deb]" >&2
    exit 2
    ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
