#pragma once

#include <unistd.h>

#include <QStandardPaths>
#include <QStringList>

namespace doubles {

// The words before a command that run it as the user nobody (group nogroup, no other
// groups): setpriv, which needs root. Empty when this test is no root or finds no
// setpriv; permission bits bind only an ordinary user, so a test that needs one says
// why and is skipped then.
inline QStringList asNobody()
{
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    if (::geteuid() != 0 || setpriv.isEmpty())
        return {};
    return {setpriv, QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"), QStringLiteral("--clear-groups")};
}

} // namespace doubles
