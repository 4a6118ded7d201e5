#!/usr/bin/env bash
# Installs, from Debian 12's own archive, everything that building, running and
# testing Tallyon and Signova needs on a fresh machine. Safe to run again.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools
  libsqlite3-dev sqlite3
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  fonts-arphic-ukai fonts-arphic-uming fonts-wqy-zenhei fontconfig
  xvfb xauth xdotool x11-utils imagemagick xdg-utils trayer
  qt6-qpa-plugins libxcb-cursor0 dbus-x11 qt6-translations-l10n
)

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
