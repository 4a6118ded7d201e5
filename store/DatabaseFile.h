#pragma once

#include <QString>

namespace store {

// Creates a new database file with the three tables, empty. Refuses (StoreError) when
// the file exists already.
void createDatabase(const QString& path);

// The path that Esql opens: horavo.mdb in the current working directory.
QString defaultDatabasePath();

} // namespace store
