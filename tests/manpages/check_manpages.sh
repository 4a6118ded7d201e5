#!/usr/bin/env bash
# Fails when a command's --help and its manual page name different long options: each
# TOOL's options (--name) in its --help output against those in the SYNOPSIS, OPTIONS
# and COMMANDS sections of MAN_DIR/TOOL.1 (other sections may quote other programs'
# options, such as nmcli's). Also fails when --version does not print "TOOL x.y.z", and
# when an error number the line service can report (platform/line/DialableLine.h) is
# missing from rasdial.1.
# Both run with no display at all, as they must answer before any window is made.
# Usage: check_manpages.sh MAN_DIR TOOL...
set -uo pipefail
man_dir=${1:?usage: check_manpages.sh MAN_DIR TOOL...}
shift
export LC_ALL=C.UTF-8
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM

long_options() { grep -o -E -- '--[a-z][a-z0-9-]*' | sort -u; }

# A roff source's options as written there (\-\-isp\-password), in the sections that
# describe the command's own command line.
page_options() {
    awk '/^\.SH/ { own = ($2 ~ /^(SYNOPSIS|OPTIONS|COMMANDS)$/); next } own' "$1" \
        | sed 's/\\-/-/g' | long_options
}

failures=0
for tool in "$@"; do
    name=$(basename "$tool")
    page=$man_dir/$name.1
    if [ ! -f "$page" ]; then
        echo "$name: no manual page $page"
        failures=$((failures + 1))
        continue
    fi
    if ! help=$("$tool" --help 2>&1); then
        echo "$name: --help failed"
        failures=$((failures + 1))
        continue
    fi
    version=$("$tool" --version 2>&1)
    if ! [[ $version =~ ^$name\ [0-9]+\.[0-9]+\.[0-9]+$ ]]; then
        echo "$name: --version printed \"$version\", not \"$name x.y.z\""
        failures=$((failures + 1))
    fi
    only_help=$(comm -23 <(long_options <<<"$help") <(page_options "$page"))
    only_page=$(comm -13 <(long_options <<<"$help") <(page_options "$page"))
    if [ -n "$only_help$only_page" ]; then
        [ -z "$only_help" ] || echo "$name: in --help but not in $name.1:" $only_help
        [ -z "$only_page" ] || echo "$name: in $name.1 but not in --help:" $only_page
        failures=$((failures + 1))
    else
        echo "$name: --help and $name.1 name the same options:" $(page_options "$page")
    fi
done
errors=$(sed -n 's/^inline constexpr int k[A-Za-z]* = \([0-9]*\);.*/\1/p' "$man_dir/../../platform/line/DialableLine.h")
[ -n "$errors" ] || { echo "no error numbers found in DialableLine.h"; failures=$((failures + 1)); }
for error in $errors; do
    if ! grep -q -w -- "$error" "$man_dir/rasdial.1"; then
        echo "rasdial.1 does not name error $error, which rasdial can report"
        failures=$((failures + 1))
    fi
done
[ "$failures" -eq 0 ]
