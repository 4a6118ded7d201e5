#include "platform/Program.h"

#include <cstdio>
#include <unistd.h>

#include <QCoreApplication>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace platform {

void QtProgram::endAtOnce()
{
    // Everything the program wrote to the database is committed already; nothing else
    // is to be saved, and no window may run another handler.
    std::fflush(nullptr);
#if defined(__SANITIZE_ADDRESS__)
    // _exit skips the leak check a sanitized build makes at exit; make it here.
    __lsan_do_leak_check();
#endif
    ::_exit(0);
}

void QtProgram::lastWindowUnloaded()
{
    QCoreApplication::quit();
}

} // namespace platform
