#include "main_program/timer/ProgramIcon.h"

#include <QString>

// The resources live in a static library: nothing references their object file, so
// they are registered by hand before the first use.
static void registerIconResources()
{
    Q_INIT_RESOURCE(icons);
}

namespace tallyon {

QIcon programIcon()
{
    static const bool registered = (registerIconResources(), true);
    (void)registered;
    QIcon icon;
    for (const int size : {16, 32, 48, 256})
        icon.addFile(QStringLiteral(":/tallyon/icons/tallyon-%1.png").arg(size), QSize(size, size));
    return icon;
}

} // namespace tallyon
