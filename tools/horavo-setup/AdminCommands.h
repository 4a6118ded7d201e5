#pragma once

#include "tools/horavo-setup/ExitCode.h"
#include "tools/horavo-setup/SetupCommandLine.h"

// The administrator's commands on a database file that the programs may be using at the
// same moment. Each reads in short transactions, so a program that records waits at most
// a moment (within its busy timeout). path is absolute. A failure is told on standard
// error and thrown as Refusal.
namespace setup {

// A consistent copy of the file through SQLite's online backup.
ExitCode backup(const SetupRequest& request, const QString& path);
// Usage per user over a period.
ExitCode report(const SetupRequest& request, const QString& path);
// What a window would refuse or misread; exit code CheckFound when anything.
ExitCode check(const QString& path);
// Who is recording now.
ExitCode online(const QString& path);

} // namespace setup
