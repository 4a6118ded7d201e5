#pragma once

#include <functional>
#include <memory>

#include <QString>
#include <QStringList>

#include "store/ReadRow.h"
#include "store/StoreError.h"

struct sqlite3;

namespace store {

class DatabaseAddress;
class Engine;

// A database opened only to be read, its rows handed over one at a time as the engine
// gives them, none kept: the administrator's reports over a year of usage cost no more
// memory than one row. A file is opened read-only, with the programs' busy wait and the
// same retry of a statement that found the file busy before its first row; a server
// connection runs every transaction read-only.
class ReadOnlyDatabase {
public:
    // Throws MissingDatabaseError for a file that is not there, StoreError when the
    // database cannot be opened (a folder, a pipe or device, the server unreachable, a
    // file left with an interrupted write that this user cannot roll back).
    static std::unique_ptr<ReadOnlyDatabase> open(const DatabaseAddress& address);
    ~ReadOnlyDatabase();

    // Which of users, internet and knumber the database holds, in that order.
    QStringList systemTables();
    // The column that tells a table's rows apart: rowid in a file, the key on a server.
    QString rowKeyColumn() const;

    // Runs one query, with parameters bound to $1, $2, ... as text, and hands each row to
    // eachRow in the engine's order as it arrives. A failure throws StoreError; what
    // eachRow throws ends the read and goes to the caller.
    void forEachRow(const QString& sql, const QStringList& parameters,
                    const std::function<void(const ReadRow&)>& eachRow);

    // The file's SQLite handle for its backup (null on a server).
    sqlite3* fileHandle() const;

private:
    struct Impl;
    explicit ReadOnlyDatabase(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> d;
};

} // namespace store
