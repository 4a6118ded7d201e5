#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "store/AddressMask.h"
#include "store/Engine.h"
#include "store/StoreError.h"

struct pg_conn;
struct pg_result;

namespace store {

struct ServerLinkCloser {
    void operator()(pg_conn* link) const noexcept;
};
struct ServerResultClearer {
    void operator()(pg_result* result) const noexcept;
};
using ServerLink = std::unique_ptr<pg_conn, ServerLinkCloser>;
using ServerResult = std::unique_ptr<pg_result, ServerResultClearer>;

// The server could not run a transaction as if alone (it was serialised against another,
// or chose it to end a deadlock): the whole transaction may simply be run again.
class ServerRetryError : public StoreError {
public:
    using StoreError::StoreError;
};

// The column of the server's own that tells the rows of a table apart, as the rowid does
// in a file. Record sets hide it: it is never one of their fields.
inline constexpr const char* kServerKeyColumn = "horavo_key";

// One connection to a PostgreSQL database through libpq. Concurrency is the server's:
// single writes run on their own, transactions run serializable and are run again when
// the server asks for that. Statements are sent as the caller wrote them, on a connection
// whose string literals take a backslash as a plain character
// (standard_conforming_strings), so that doubling the quotes keeps typed text one literal.
//
// No wait for the server is without end, and none stops the application's events: the
// connection is made and every statement is answered in short slices of waiting, between
// which the events of the application's thread run. A server that says nothing for
// answerLimit() is given up on (the statement is cancelled and the connection closed, to
// be made again before the next statement) and StoreError reports it. A single write
// outside a transaction runs in a transaction of its own, so that a write given up on
// never lands later. While one statement waits, another on the same connection (from an
// event run meanwhile) is refused with StoreError.
class ServerConnection final : public Engine {
public:
    // conninfo: a libpq connection string or URI. Throws StoreError with the server's
    // message when it cannot connect, or when the server would read backslashes in string
    // literals as escapes. No message of a connection shows a password of conninfo
    // (AddressMask), whatever libpq or the server says.
    // ReadOnly: every transaction of the connection is read-only, whatever it is sent.
    enum class Access { ReadWrite, ReadOnly };
    static std::unique_ptr<ServerConnection> open(const QString& conninfo, Access access = Access::ReadWrite);

    ~ServerConnection() override;

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

    void writeTransaction(const std::function<void()>& body) override;
    bool inTransaction() const override;
    void retryWhileBusy(const std::function<void()>& attempt) const override { attempt(); }

    // Runs statements that return no rows (one, or several separated by semicolons).
    void exec(const QByteArray& sql);
    // Runs one statement with text parameters (null for SQL NULL); a failure throws
    // StoreError with the server's message (ServerRetryError where running again helps).
    ServerResult execParams(const QByteArray& sql, const detail::ColumnValues& parameters);
    // A name for a statement prepared once on this connection; prepared again when the
    // connection was made anew (generation()).
    QByteArray prepareNamed(const QByteArray& sql);
    ServerResult execPrepared(const QByteArray& name, const std::vector<detail::Cell>& parameters);
    // Runs one write in a transaction of its own when none is open: a write given up on
    // (answerLimit) is then never committed by a server that comes back.
    ServerResult writeAlone(const std::function<ServerResult()>& write);
    int generation() const { return generation_; }
    // A connection the server or the network dropped is made again before the next
    // statement outside a transaction: a record set held for hours (the timer's) writes
    // on after a server restart. Inside a transaction the failure stands.
    void reconnectIfLost();

    pg_conn* handle() const { return link_.get(); }
    // Where this connection goes, without its password, for messages.
    const QString& shownName() const { return mask_.shown(); }

    // How long a statement may wait without a word from the server before it is given up
    // on. Tests shorten it.
    static std::chrono::milliseconds answerLimit();
    static void setAnswerLimit(std::chrono::milliseconds limit);

private:
    struct TableInfo {
        detail::Table table;
        std::unordered_map<int, QByteArray> columns; // by column number
        int keyColumn = 0;                           // 0: the table has no key column
    };

    // A statement prepared and described: its fields (each key column among them,
    // marked hidden) and the table of each, InvalidOid for none.
    struct Described {
        ServerResult result;
        std::vector<detail::Field> fields;
        std::vector<bool> hidden;
        std::vector<unsigned int> tables;
    };

    ServerConnection(ServerLink link, AddressMask mask);
    const TableInfo* tableInfo(unsigned int oid);
    Described describe(const QByteArray& statement);
    // Sends statement with its text parameters in single-row mode and hands each row's
    // result to eachRow; the first failure is thrown once every result has been read.
    void streamRows(const QByteArray& statement, const QStringList& parameters,
                    const std::function<void(const pg_result*)>& eachRow);
    ServerResult checked(ServerResult result) const;
    [[noreturn]] void fail(pg_result* result) const;

    // Sending and waiting: sent is what a PQsend... call returned.
    void refuseWhileWaiting() const;
    void sent(int sent) const;
    // Waits until libpq has the next result whole; gives up after answerLimit() of silence.
    void awaitAnswer();
    [[noreturn]] void giveUp();
    ServerResult nextResult();
    // Every result of what was sent: the first failure, else the last result (as PQexec).
    ServerResult answer();
    void rollBack() noexcept;
    // Hands data of a COPY to libpq, waiting (in slices) while its buffer is full.
    void putCopyData(const std::string& data);
    void endCopy(const char* failure);
    // Waits until the socket takes more data; gives up after answerLimit() without.
    void awaitWritable();

    ServerLink link_;
    AddressMask mask_;
    std::unordered_map<unsigned int, TableInfo> tables_;
    int preparedCount_ = 0;
    int generation_ = 0;
    bool inWriteTransaction_ = false;
    bool waiting_ = false; // events run while this connection waits for the server
    bool broken_ = false;  // a connection that could not be made again
    std::chrono::steady_clock::time_point eventsRan_;
};

// conninfo with its password left out, for messages.
QString shownServerName(const QString& conninfo);

} // namespace store
