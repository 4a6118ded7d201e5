#pragma once

#include <QString>
#include <QStringList>

namespace store {

class DatabaseAddress;

// Creates a new database file with the three tables, empty. Refuses (StoreError) when
// the file exists already. The file is 0660 in a folder whose setgid bit is set (a group
// folder: the file is its group's) and 0600 anywhere else, whatever the umask.
void createDatabase(const QString& path);

// The same for either engine: a file as above, or the three tables (with their keys and
// indexes) in a server's database, which must not hold any of them yet.
void createDatabase(const DatabaseAddress& address);

// Removes a database file and whatever lies beside it (journal first).
void removeDatabaseFiles(const QString& path);

// Which of users, internet and knumber a server's database holds, in that order. Throws
// StoreError when the server cannot be reached.
QStringList systemTablesOnServer(const DatabaseAddress& server);

// Why this user cannot write the database file, naming the file or its folder and the
// group that may write it; empty when nothing stands in the way that can be seen from
// here (and always for a server).
QString whyNotWritable(const DatabaseAddress& address);

// What every program says of a database file that is not there: its name and the folder
// it was looked for in.
QString missingDatabaseFileMessage(const QString& path);

// The path that Esql opens: horavo.mdb in the current working directory.
QString defaultDatabasePath();

} // namespace store
