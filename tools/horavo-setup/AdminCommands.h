#pragma once

#include "store/DatabaseAddress.h"
#include "tools/horavo-setup/ExitCode.h"
#include "tools/horavo-setup/SetupCommandLine.h"

// The administrator's commands on a database that the programs may be using at the same
// moment. Each reads in short transactions, so a program that records waits at most a
// moment (within its busy timeout). A file's path is absolute. A failure is told on
// standard error and thrown as Refusal.
namespace setup {

// A consistent copy of the file through SQLite's online backup.
ExitCode backup(const SetupRequest& request, const QString& path);
// Usage per user over a period, from a file or a server.
ExitCode report(const SetupRequest& request, const store::DatabaseAddress& database);
// What a window would refuse or misread in a file or on a server; exit code CheckFound
// when anything.
ExitCode check(const store::DatabaseAddress& database);
// Who is recording now, in a file or on a server.
ExitCode online(const store::DatabaseAddress& database);
// Every row of the three tables of from into to, which holds none yet, in one transaction.
ExitCode copy(const store::DatabaseAddress& from, const store::DatabaseAddress& to);

} // namespace setup
