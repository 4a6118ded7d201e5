#!/usr/bin/env bash
# Installs, from Debian 12's own archive, what Tallyon and Signova need on a fresh
# machine, by sets. Safe to run again.
# Usage: tools/install-packages.sh [SET...]
#   run     what running the programs needs (Qt's platform plugins, the CJK fonts,
#           Qt's Chinese texts, the browser opener, the sqlite3 command of the demo)
#   build   what building them needs
#   test    what the tests need besides (GoogleTest, a virtual display, a tray)
#   deb     building the Debian package and checking it (tools/build-deb.sh)
#   (none)  run, build and test
set -euo pipefail

sets=("$@")
[ ${#sets[@]} -gt 0 ] || sets=(run build test)

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
        qt6-base-dev qt6-base-dev-tools libsqlite3-dev
      )
      ;;
    test)
      packages+=(
        libgtest-dev libgmock-dev googletest libbenchmark-dev
        xvfb xauth xdotool x11-utils imagemagick trayer dbus-x11
      )
      ;;
    deb)
      packages+=(
        build-essential cmake ninja-build
        qt6-base-dev qt6-base-dev-tools libsqlite3-dev
        debhelper dpkg-dev lintian
        desktop-file-utils appstream man-db
      )
      ;;
    *)
      echo "usage: $0 [run] [build] [test] [deb]" >&2
      exit 2
      ;;
  esac
done

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
