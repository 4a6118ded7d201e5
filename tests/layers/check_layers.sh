#!/usr/bin/env bash
# Fails when a file includes a header of a layer above its own (or beside it, where the
# two must not know each other). Usage: check_layers.sh SOURCE_ROOT
#
#   rules                          the bottom: nothing but itself (Qt Core alone)
#   settings                       the rules (the room's settings file)
#   every other folder             the rules and the settings, and besides them:
#   store                          nothing but itself
#   platform (interfaces)          nothing but itself
#   platform/process               nothing but itself (starting programs)
#   platform/line                  process
#   platform/widgets, grid, tray   the interfaces (and process for widgets, the store
#                                  for the grid)
#   main_program/common            nothing but itself
#   main_program/dialer            common, the platform's interfaces, line and process,
#                                  the store
#   main_program/<window>          common, the dialer, its own folder, platform, store
#   main_program/app               all of main_program
#   registration_program           platform and store, nothing of main_program
#   tools                          the store, the line service, nothing of main_program
set -uo pipefail
root=${1:?usage: check_layers.sh SOURCE_ROOT}
cd "$root" || exit 2

core='platform/[^/]+'
rules='(rules|settings)/.*'
process='platform/process/.*'
allowed_for() {
    case $1 in
    rules/*)                   echo "rules/.*" ;;
    settings/*)                echo "$rules" ;;
    store/*)                   echo "store/.*|$rules" ;;
    platform/process/*)        echo "$process|$rules" ;;
    platform/line/*)           echo "platform/line/.*|$process|$rules" ;;
    platform/widgets/*)        echo "platform/widgets/.*|$core|$process|$rules" ;;
    platform/grid/*)           echo "platform/grid/.*|$core|store/.*|$rules" ;;
    platform/tray/*)           echo "platform/tray/.*|$core|$rules" ;;
    platform/*/*)              echo "__nothing__" ;;
    platform/*)                echo "$core|$rules" ;;
    main_program/common/*)     echo "main_program/common/.*|$rules" ;;
    main_program/dialer/*)     echo "main_program/(common|dialer)/.*|$core|platform/line/.*|$process|store/.*|$rules" ;;
    main_program/app/*)        echo "main_program/.*|platform/.*|store/.*|$rules" ;;
    main_program/*/*)          local own=${1#main_program/}; own=${own%%/*}
                               echo "main_program/(common|dialer|$own)/.*|platform/.*|store/.*|$rules" ;;
    registration_program/*)    echo "registration_program/.*|platform/.*|store/.*|$rules" ;;
    tools/*)                   echo "tools/.*|platform/line/.*|$core|store/.*|$rules" ;;
    *)                         echo ".*" ;;
    esac
}

violations=0
while IFS= read -r file; do
    pattern=$(allowed_for "$file")
    while IFS= read -r included; do
        [ -n "$included" ] || continue
        if ! [[ $included =~ ^($pattern)$ ]]; then
            echo "$file includes \"$included\", which its layer may not use"
            violations=$((violations + 1))
        fi
    done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
done < <(find rules settings store platform main_program registration_program tools -type f \( -name '*.h' -o -name '*.cpp' \) 2>/dev/null | sort)

if [ "$violations" -gt 0 ]; then
    echo "$violations include(s) across the layers"
    exit 1
fi
echo "layers: every include points down"
