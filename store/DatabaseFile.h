#pragma once

#include <QString>

namespace store {

class DatabaseAddress;

// Creates a new database file with the three tables, empty. Refuses (StoreError) when
// the file exists already.
void createDatabase(const QString& path);

// The same for either engine: a file as above, or the three tables (with their keys and
// indexes) in a server's database, which must not hold any of them yet.
void createDatabase(const DatabaseAddress& address);

// The path that Esql opens: horavo.mdb in the current working directory.
QString defaultDatabasePath();

} // namespace store
