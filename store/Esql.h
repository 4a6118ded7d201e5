#pragma once

#include <memory>

#include <QString>

#include "store/RecordSet.h"

namespace store {

// Runs one statement on a fresh connection to horavo.mdb in the current working
// directory and returns its open record set, positioned on the first row.
// Throws StoreError when the file is missing or the engine rejects the statement.
std::unique_ptr<RecordSet> Esql(const QString& strSql);

// The same against another database file (tests, the setup tool).
std::unique_ptr<RecordSet> Esql(const QString& strSql, const QString& databasePath);

} // namespace store
