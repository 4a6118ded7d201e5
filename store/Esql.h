#pragma once

#include <functional>
#include <memory>

#include <QString>
#include <QVariantList>

#include "store/DatabaseAddress.h"
#include "store/RecordSet.h"

namespace store {

// Runs one statement on a fresh connection to the database (the server HORAVO_DATABASE
// names, or horavo.mdb in the current working directory) and returns its open record
// set, positioned on the first row. Throws StoreError when the database cannot be
// reached or the engine rejects the statement.
std::unique_ptr<RecordSet> Esql(const QString& strSql);

// The same against another database (tests, the setup tool); a QString is a file's path.
std::unique_ptr<RecordSet> Esql(const QString& strSql, const DatabaseAddress& database);
std::unique_ptr<RecordSet> Esql(const QString& strSql, const QString& databasePath);
// A statement of the setup tool's own: what it was given goes to $1, $2, ... as text,
// bound by the engine, never into the statement's text.
std::unique_ptr<RecordSet> Esql(const QString& strSql, const QStringList& parameters, const DatabaseAddress& database);

// The statements of one write transaction: every record set opened with esql() shares
// the transaction's connection, so what they read and write is one unit.
class Transaction {
public:
    explicit Transaction(std::shared_ptr<Engine> engine) : engine_(std::move(engine)) {}
    std::unique_ptr<RecordSet> esql(const QString& strSql, const QStringList& parameters = {}) const;

    // Fills values with the next row's values, one for each column; false after the last.
    using RowSource = std::function<bool(QVariantList& values)>;
    // Appends every row next gives to table, each value checked and stored as a record
    // set's setValue() does (a refused value throws StoreError naming the table, the row
    // and the rule), none read back: a file by one prepared INSERT, a server by its bulk
    // path (COPY). next is asked again from the start when the transaction runs again.
    void appendRows(const QString& table, const QStringList& columns, const RowSource& next) const;

private:
    std::shared_ptr<Engine> engine_;
};

// Runs body in one write transaction on a fresh connection: a test such as "is this
// name taken?" and the write that depends on it, with no other writer in between (a file
// takes its write lock at BEGIN IMMEDIATE; a server runs it serializable). The whole body
// runs again while another writer holds the file, or when the server could not
// serialise it; any exception rolls everything back and goes to the caller.
void inOneTransaction(const std::function<void(const Transaction&)>& body);
void inOneTransaction(const DatabaseAddress& database, const std::function<void(const Transaction&)>& body);
void inOneTransaction(const QString& databasePath, const std::function<void(const Transaction&)>& body);

} // namespace store
