#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include <QByteArray>
#include <QString>

#include "store/Engine.h"
#include "store/StoreError.h"

struct sqlite3;
struct sqlite3_stmt;

namespace store {

struct DatabaseCloser {
    void operator()(sqlite3* db) const noexcept;
};
struct StatementFinalizer {
    void operator()(sqlite3_stmt* stmt) const noexcept;
};
using DatabaseHandle = std::unique_ptr<sqlite3, DatabaseCloser>;
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

// The file was busy (another connection writing) for longer than one attempt waits.
class BusyError : public StoreError {
public:
    using StoreError::StoreError;
};

// One open connection to a database file, set up for several connections from several
// processes at once: a rollback journal, full sync, a busy timeout, and write transactions
// that are run again while another writer holds the file. The database file alone holds
// every committed write: nothing is left beside it but a journal of a transaction that
// never committed. Rows are written back by rowid (SqliteRows.cpp).
class Connection final : public Engine {
public:
    // Opens an existing file for reading and writing; never creates one. A path that is
    // not there throws MissingDatabaseError; a folder, a pipe or a device StoreError.
    static std::unique_ptr<Connection> open(const QString& path);
    // Opens an existing file only to read it. A file that a killed writer left with its
    // journal (a hot journal, which every reader must see rolled back first) is rolled
    // back through a connection that writes, when this user may write the file and its
    // folder; otherwise StoreError says what must be done.
    static std::unique_ptr<Connection> openReadOnly(const QString& path);

    ~Connection() override;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    sqlite3* handle() const { return db_.get(); }
    const QString& path() const { return path_; }

    // Prepares the first statement of sql; tailOffset receives where the next one begins.
    // A text with no statement gives a null Statement.
    Statement prepare(const QByteArray& sql, qsizetype* tailOffset = nullptr) const;
    // Runs statements that return no rows.
    void exec(const char* sql) const;

    // Runs attempt again while it throws BusyError, for the retry window; then the
    // engine's message goes to the caller as a plain StoreError. attempt must leave
    // nothing half done when it throws.
    void retryWhileBusy(const std::function<void()>& attempt) const override;
    // Runs body inside BEGIN IMMEDIATE ... COMMIT, the whole transaction again while the
    // file is busy (see retryWhileBusy). Any exception rolls the transaction back. Called
    // inside another write transaction of this connection, body simply becomes part of it.
    void writeTransaction(const std::function<void()>& body) override;
    bool inTransaction() const override;

    // The record set's engine, over this file.
    detail::Opened run(const QString& sql, const QStringList& parameters, detail::RowBuffer& rows) override;
    void forEachRow(const QString& sql, const QStringList& parameters,
                    const std::function<void(const ReadRow&)>& eachRow) override;
    std::optional<std::vector<detail::OwnedCell>> readRow(const detail::Table& table, std::int64_t key,
                                                          const std::vector<QByteArray>& columns) override;
    std::vector<detail::OwnedCell> insertRow(const detail::Table& table, const detail::ColumnValues& values,
                                             const std::vector<QByteArray>& readColumns) override;
    std::optional<std::vector<detail::OwnedCell>> updateRow(const detail::Table& table, std::int64_t key,
                                                            const detail::ColumnValues& values,
                                                            const detail::ColumnValues& checks,
                                                            const std::vector<QByteArray>& readColumns) override;
    std::unique_ptr<detail::RowDeleter> rowDeleter(const detail::Table& table,
                                                   const std::vector<QByteArray>& checkedColumns) override;
    void appendRows(const QByteArray& table, const std::vector<QByteArray>& columns,
                    const detail::RowFeed& next) override;

    // Steps stmt once: a row gives true, the end false; a failure throws StoreError
    // (BusyError for a busy file) with the engine's message.
    bool step(sqlite3_stmt* stmt) const;

    // The engine's message for the last failure on this connection.
    QString errorMessage() const;
    // Throws the last failure: BusyError when the file was busy, else StoreError.
    // context, when given, goes before the engine's message.
    [[noreturn]] void fail(const QString& context = {}) const;

    // How long one attempt waits for a busy file, and for how long a whole write
    // transaction is tried again. Tests shorten them.
    static std::chrono::milliseconds busyTimeout();
    static void setBusyTimeout(std::chrono::milliseconds timeout);
    static std::chrono::milliseconds retryWindow();
    static void setRetryWindow(std::chrono::milliseconds window);

private:
    Connection(DatabaseHandle db, const QString& path);
    static DatabaseHandle openHandle(const QString& path, int flags);
    void configure();
    void configureReadOnly();
    QByteArray journalMode() const;
    void leaveWriteAheadLog() const noexcept;
    QString journalFolderMessage() const;
    // What an engine failure means, in the user's words, or empty when nothing better
    // than the engine's text can be said.
    QString causeOf(int code, const QString& engineText) const;
    // Steps stmt to its end, eachRow at every row, waiting for a busy file until the
    // first row.
    void stepEveryRow(sqlite3_stmt* stmt, const std::function<void()>& eachRow) const;

    DatabaseHandle db_;
    QString path_;
    bool leftInWriteAheadLog_ = false; // another connection kept the file in WAL mode at open
};

} // namespace store
