#include "platform/Program.h"

#include <cstdio>
#include <unistd.h>

#include <QCoreApplication>

namespace platform {

void QtProgram::endAtOnce()
{
    // Everything the program wrote to the database is committed already; nothing else
    // is to be saved, and no window may run another handler.
    std::fflush(nullptr);
    ::_exit(0);
}

void QtProgram::lastWindowUnloaded()
{
    QCoreApplication::quit();
}

} // namespace platform
