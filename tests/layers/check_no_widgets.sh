#!/usr/bin/env bash
# The programs and tests of what has no window must not load Qt Widgets or Qt Gui: their
# dynamic section names neither. Usage: check_no_widgets.sh EXECUTABLE...
set -uo pipefail
bad=0
for exe in "$@"; do
    if readelf -d "$exe" | grep -E 'NEEDED.*libQt6(Widgets|Gui)' >/dev/null; then
        echo "$(basename "$exe") links Qt Widgets or Qt Gui"
        bad=1
    else
        echo "ok: $(basename "$exe") links neither Qt Widgets nor Qt Gui"
    fi
done
exit $bad
