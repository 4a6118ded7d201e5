#!/usr/bin/env bash
# The layer check must catch a wrong include: it passes on a copy of the tree, then fails
# once each planted include that points up is added. Usage: check_layers_selftest.sh ROOT
set -uo pipefail
root=${1:?usage: check_layers_selftest.sh SOURCE_ROOT}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cp -r "$root/rules" "$root/settings" "$root/store" "$root/platform" "$root/main_program" "$root/registration_program" "$root/tools" "$work/"
if ! "$here/check_layers.sh" "$work" >/dev/null; then
    echo "FAIL: the check refuses the unchanged tree"
    exit 1
fi

failures=0
plant() {   # FILE INCLUDE: the check must refuse FILE with INCLUDE added
    local file=$1 include=$2
    cp "$work/$file" "$work/$file.orig"
    printf '#include "%s"\n' "$include" >> "$work/$file"
    if "$here/check_layers.sh" "$work" >/dev/null; then
        echo "FAIL: $file including $include passed the check"
        failures=$((failures + 1))
    else
        echo "ok: $file including $include is refused"
    fi
    mv "$work/$file.orig" "$work/$file"
}
plant rules/Amount.cpp store/Esql.h
plant rules/Failure.h main_program/common/Session.h
plant rules/Amount.cpp settings/RoomSettings.h
plant settings/RoomSettings.cpp store/DatabaseAddress.h
plant store/Esql.cpp platform/MessageBoxes.h
plant store/RecordSet.h main_program/common/Session.h
plant platform/OtherCopy.cpp platform/widgets/Form.h
plant platform/OtherCopy.cpp main_program/common/Services.h
plant platform/line/SimLine.cpp store/Esql.h
plant platform/process/ChildProcess.cpp platform/line/LocaleCharset.h
plant platform/process/ProgramSearch.cpp platform/MessageBoxes.h
plant platform/widgets/Form.cpp registration_program/RegistrationWindow.h
plant main_program/common/Session.h platform/widgets/Form.h
plant main_program/dialer/Dialer.cpp platform/widgets/Forms.h
plant main_program/login/LoginWindow.cpp main_program/admin/RecordsWindow.h
plant registration_program/RegistrationWindow.cpp main_program/login/LoginWindow.h
plant tools/horavo-setup/Online.cpp main_program/common/Session.h
[ "$failures" -eq 0 ] || exit 1
echo "the layer check refused every planted include"
