#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include <QString>
#include <QStringList>
#include <QVariant>

#include "store/Schema.h"

namespace store {

class Engine;

// The rows of one statement, all fetched when it opens, on a connection of its own that
// lives as long as the record set: to a database file or to a database server (Engine).
// Rows are kept packed (one byte buffer for the whole set) so that a set of a million
// rows costs little more than its values.
//
// Cursor: first(), next(), atEnd(); a field read without a current row throws. next() at
// the end stays at the end. Moving (first, next, moveTo) or addNew() with changes pending
// writes them first, as update() would.
// Values: QVariant: null for no value, qlonglong, double, bool (yes/no columns) or QString.
// Fields are found by exact name first, then by name with ASCII letter case ignored.
// Writes: addNew()/setValue()/update(), setValue()/update() on the current row, and
// deleteCurrent(), each written to the database at once, located by the row's key (the
// rowid in a file, the key column on a server, never one of the fields) and checked against the values that were read (optimistic locking): an update needs every
// changed column to still hold the value read, a delete every column read; otherwise
// ConflictError and nothing is written. A failed update() leaves the changes pending
// (editing() stays true) for the caller to change or cancel.
// setValue() checks the value against the column's kind at once (StoreError, nothing
// kept): whole numbers (-32768..32767 for the permission code), numbers, yes/no as a bool,
// 0, 1 or -1 or the text true/false, dates "YYYY-MM-DD", times "HH:MM:SS"; QDate, QTime
// and QDateTime are accepted for dates and times. Empty text or a null QVariant stores
// NULL, except in text columns, which keep text exactly as given.
// Only a select that reads rows of one table can be written back (updatable()); any other
// statement gives a set whose writes throw StoreError.
// Writes made inside inOneTransaction() (or store::inOneTransaction) are committed
// together or not at all; when they are rolled back, every set that wrote inside takes
// back the rows it held before.
class RecordSet {
public:
    // parameters: values bound to $1, $2, ... of sql, as text (the tools' own statements).
    RecordSet(std::shared_ptr<Engine> engine, const QString& sql, const QStringList& parameters = {});
    ~RecordSet();
    RecordSet(const RecordSet&) = delete;
    RecordSet& operator=(const RecordSet&) = delete;

    // Shape
    int fieldCount() const;
    QString fieldName(int field) const;      // the name the statement gives (its "as" alias)
    int fieldIndex(const QString& name) const; // -1 when there is no such field
    ColumnKind fieldKind(int field) const;
    bool updatable() const;                  // the statement reads one table, row keys known

    // Rows and cursor
    std::size_t rowCount() const;
    bool atEnd() const;                      // no current row (also true when empty)
    bool atStart() const;                    // true before first() only for an empty set
    void first();
    void next();
    void moveTo(std::size_t row);            // row < rowCount()
    std::size_t position() const;            // the current row; rowCount() at the end
    // The key the current row is written back by: its identity in the database, which,
    // unlike its position, holds in any set over the same table.
    std::int64_t key() const;
    // Makes the row with this key current; false (cursor unmoved) when the set holds none.
    bool moveToKey(std::int64_t key);

    // Values of the current row (or the row being added)
    QVariant value(int field) const;
    QVariant value(const QString& name) const;
    void setValue(int field, const QVariant& value);
    void setValue(const QString& name, const QVariant& value);

    // Random access for views, without moving the cursor
    QVariant valueAt(std::size_t row, int field) const;

    // Changes
    void addNew();          // starts a new row; update() writes it and makes it current
    void update();          // writes the pending changes of the current (or new) row
    void cancelUpdate();    // forgets pending changes
    bool editing() const;   // changes are pending
    void deleteCurrent();   // deletes the current row; the cursor moves to the row after it

    // Runs body in one write transaction on this set's connection (BEGIN IMMEDIATE ...
    // COMMIT): the writes of this set and of sets opened by esql() inside it. The whole
    // body runs again while another writer holds the file; any exception rolls back.
    void inOneTransaction(const std::function<void()>& body);
    // Another statement on this set's connection, read inside its transaction.
    std::unique_ptr<RecordSet> esql(const QString& sql) const;

    // Reads the row again from the database, by its key, and shows what is there now
    // (pending changes of it are dropped). A row gone from the database is dropped from the
    // set: false.
    bool reread(std::size_t row);

    // Bytes held for the rows (the packed buffer and the row index), for measurement.
    std::size_t storageBytes() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace store
