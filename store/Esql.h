#pragma once

#include <functional>
#include <memory>

#include <QString>

#include "store/RecordSet.h"

namespace store {

class Connection;

// Runs one statement on a fresh connection to horavo.mdb in the current working
// directory and returns its open record set, positioned on the first row.
// Throws StoreError when the file is missing or the engine rejects the statement.
std::unique_ptr<RecordSet> Esql(const QString& strSql);

// The same against another database file (tests, the setup tool).
std::unique_ptr<RecordSet> Esql(const QString& strSql, const QString& databasePath);

// The statements of one write transaction: every record set opened with esql() shares
// the transaction's connection, so what they read and write is one unit.
class Transaction {
public:
    explicit Transaction(std::shared_ptr<Connection> connection) : connection_(std::move(connection)) {}
    std::unique_ptr<RecordSet> esql(const QString& strSql) const;

private:
    std::shared_ptr<Connection> connection_;
};

// Runs body in one write transaction (BEGIN IMMEDIATE ... COMMIT) on a fresh connection:
// a test such as "is this name taken?" and the write that depends on it, with no other
// writer in between. The whole body runs again while another writer holds the file;
// any exception rolls everything back and goes to the caller.
void inOneTransaction(const std::function<void(const Transaction&)>& body);
void inOneTransaction(const QString& databasePath, const std::function<void(const Transaction&)>& body);

} // namespace store
