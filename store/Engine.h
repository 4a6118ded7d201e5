#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "store/ReadRow.h"
#include "store/RowBuffer.h"
#include "store/Values.h"

namespace store {

// Told how the outermost write transaction of a connection ended, by the connection it
// asked (watchTransaction), once.
class TransactionWatcher {
public:
    virtual void transactionEnded(bool committed) noexcept = 0;

protected:
    ~TransactionWatcher() = default;
};

namespace detail {

// A table as the engine names it: its schema ("main" in a database file, "public" on a
// server) and its name.
struct Table {
    QByteArray schema;
    QByteArray name;
    bool operator==(const Table& other) const { return schema == other.schema && name == other.name; }
};

// One field of a statement's rows: the name the statement gives it and, for a value read
// straight from a column, where it comes from.
struct Field {
    QString name;
    FieldType type;
    Table table;       // empty name for an expression
    QByteArray column;
};

// What a statement gave: its fields and whether its rows can be written back. Rows that
// can carry their key (the rowid, or the server's key column) as a hidden first cell.
struct Opened {
    std::vector<Field> fields;
    bool updatable = false;
};

// Column names with the values to write or to find.
using ColumnValues = std::vector<std::pair<QByteArray, Cell>>;

// Deletes rows of one table by key, each only while the checked columns still hold the
// values given: made once, used for many rows.
class RowDeleter {
public:
    virtual ~RowDeleter() = default;
    // false when no row had that key and those values.
    virtual bool remove(std::int64_t key, const std::vector<Cell>& checkedValues) = 0;
};

// Fills cells with the next row to append, each value in its stored form; false after
// the last row.
using RowFeed = std::function<bool(std::vector<OwnedCell>& cells)>;

} // namespace detail

// What a record set asks of the database it reads: running a statement into rows, and
// writing one row at a time by its key. A database file and a database server each
// answer it in their own engine's terms.
class Engine {
public:
    virtual ~Engine() = default;

    // Runs one statement, with parameters bound to $1, $2, ... as text (none for the
    // windows' statements). A query's rows go into rows, each with its key first when the
    // set is updatable; any other statement runs and gives no fields.
    virtual detail::Opened run(const QString& sql, const QStringList& parameters, detail::RowBuffer& rows) = 0;

    // Runs one query as run() does, without any key, and hands each row to eachRow as the
    // engine gives it, none kept (ReadOnlyDatabase).
    virtual void forEachRow(const QString& sql, const QStringList& parameters,
                            const std::function<void(const ReadRow&)>& eachRow) = 0;

    // The row with this key as it stands now: its key, then the columns given; nullopt
    // when there is no such row.
    virtual std::optional<std::vector<detail::OwnedCell>> readRow(const detail::Table& table, std::int64_t key,
                                                                  const std::vector<QByteArray>& columns) = 0;
    // Writes a new row and gives it back as readRow would.
    virtual std::vector<detail::OwnedCell> insertRow(const detail::Table& table, const detail::ColumnValues& values,
                                                     const std::vector<QByteArray>& readColumns) = 0;
    // Writes values into the row with this key where the checked columns still hold the
    // values given; the row as readRow would give it, or nullopt when no row matched.
    virtual std::optional<std::vector<detail::OwnedCell>> updateRow(const detail::Table& table, std::int64_t key,
                                                                    const detail::ColumnValues& values,
                                                                    const detail::ColumnValues& checks,
                                                                    const std::vector<QByteArray>& readColumns) = 0;
    virtual std::unique_ptr<detail::RowDeleter> rowDeleter(const detail::Table& table,
                                                           const std::vector<QByteArray>& checkedColumns) = 0;
    // Appends every row next gives to the table (named as the database's own statements
    // name it), its values in the order of columns, none read back: a file by one
    // prepared INSERT, a server by its bulk path. Only inside a write transaction, which
    // keeps it all or nothing.
    virtual void appendRows(const QByteArray& table, const std::vector<QByteArray>& columns,
                            const detail::RowFeed& next) = 0;

    // Runs body in one write transaction; the whole body runs again when the engine asks
    // for that (another writer held the file, or the server could not serialise it). Any
    // exception rolls back. Inside another write transaction body simply becomes part of it.
    virtual void writeTransaction(const std::function<void()>& body) = 0;
    virtual bool inTransaction() const = 0;
    // Runs a read again while the engine says it could not be done now (a writer
    // committing to the file); the server needs no such thing.
    virtual void retryWhileBusy(const std::function<void()>& attempt) const = 0;

    // watcher hears how the current outermost transaction ends; forget() before it dies.
    void watchTransaction(TransactionWatcher* watcher);
    void forget(TransactionWatcher* watcher);

protected:
    void endTransaction(bool committed) noexcept;

private:
    std::vector<TransactionWatcher*> watchers_;
};

} // namespace store
