#!/usr/bin/env bash
# Builds the Debian package horavo from this working tree (its committed and new
# files, whatever is not ignored) and checks it with lintian. The source tree is
# copied to build-deb/, where the package lands: build-deb/horavo_VERSION_ARCH.deb.
# debian/rules configures with the package preset of CMakePresets.json.
# Usage: tools/build-deb.sh
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD

tools/install-packages.sh deb

# One version: the one in the top CMakeLists.txt, which debian/changelog must carry.
version=$(sed -n 's/^project(Horavo VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
changelog_version=$(dpkg-parsechangelog -S Version)
if [ -z "$version" ] || [ "$version" != "$changelog_version" ]; then
  echo "build-deb: CMakeLists.txt says version '$version', debian/changelog '$changelog_version';" \
       "add a debian/changelog entry (dch -v $version)" >&2
  exit 1
fi

out=$top/build-deb
src=$out/horavo-$version
rm -rf "$out"
mkdir -p "$src"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git ls-files -z --cached --others --exclude-standard \
    | tar --null --files-from=- --ignore-failed-read -cf - \
    | tar -xf - -C "$src"
else
  tar --exclude=./.git --exclude='./build*' --exclude=./demo -cf - . | tar -xf - -C "$src"
fi

cd "$src"
export DEB_BUILD_OPTIONS="parallel=${HORAVO_JOBS:-2} ${DEB_BUILD_OPTIONS:-}"
dpkg-buildpackage --unsigned-source --unsigned-changes --build=full

cd "$out"
arch=$(dpkg-architecture -qDEB_HOST_ARCH)
changes=horavo_${version}_${arch}.changes
deb=horavo_${version}_${arch}.deb
[ -f "$deb" ] || { echo "build-deb: $deb was not made" >&2; exit 1; }

echo "== lintian $changes"
lintian_args=(--fail-on error --display-info)
lintian "${lintian_args[@]}" "$changes"
echo "build-deb: $out/$deb"
