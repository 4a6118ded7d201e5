// A connection to a PostgreSQL server: made and made again, every wait for the server in
// slices between which the events run, failures told, transactions run again when the
// server asks. Its rows are in ServerRows.cpp, how values travel in ServerValues.cpp.
#include "store/ServerConnection.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <random>
#include <thread>

#include <poll.h>
#include <sys/socket.h>

#include <QCoreApplication>
#include <QScopedValueRollback>
#include <QThread>

#include <libpq-fe.h>

#include "store/Connection.h"
#include "store/SqlNames.h"
#include "store/ServerValues.h"

namespace store {

using detail::Cell;
using detail::ColumnValues;
using detail::ServerParameters;

namespace {

constexpr const char* kSerializationFailure = "40001";
constexpr const char* kDeadlockDetected = "40P01";

using Clock = std::chrono::steady_clock;

// The limits of a connection; a connection string may set others.
// Making a connection: a server that takes longer is not reachable for a seat.
constexpr int kConnectSeconds = 10;
// Waiting for another writer's row lock: shorter than a statement's limit, so that such
// a wait is reported as one.
constexpr int kLockTimeoutMs = 10000;
// Running one statement on the server. The windows' statements take well under a second
// (a million usage rows about one); 15 s leaves room for a slow network and a busy
// server and still ends a statement held up by anything else.
constexpr int kStatementTimeoutMs = 15000;
// Data sent that the other end has not acknowledged (the network or the server machine
// gone): the kernel ends the connection after 10 s instead of retrying for 15 minutes.
constexpr int kTcpUserTimeoutMs = 10000;
// An idle connection (the timer's, between minutes) whose server vanished is found dead
// after 10 s of silence and 3 unanswered probes 5 s apart, before the next minute's write.
constexpr const char* kKeepalivesIdle = "10";
constexpr const char* kKeepalivesInterval = "5";
constexpr const char* kKeepalivesCount = "3";
// How long a statement may wait without a word from the server: the server's own limit
// and 5 s for its answer to arrive. Beyond it the server is taken for hung (stopped, or
// cut off in a way the network has not noticed yet).
std::atomic<long long> answerLimitMs{kStatementTimeoutMs + 5000};
// Each wait is cut into slices this long, between which the application's events run.
constexpr int kSliceMs = 50;

// Lets the application's events run between two slices of a wait, when the wait is on
// the application's thread (a timer window's minute, a click); elsewhere there are none.
void letEventsRun()
{
    const QCoreApplication* application = QCoreApplication::instance();
    if (application && application->thread() == QThread::currentThread())
        QCoreApplication::processEvents();
}

// The startup options of every connection: the limits above, and string literals in
// which a backslash is a plain character, as the windows' statements (typed text between
// single quotes, quotes doubled) need. The caller's own options come after them, so that
// theirs win where they set the same.
QByteArray startupOptions(const QByteArray& conninfo)
{
    QByteArray options = "-c lock_timeout=" + QByteArray::number(kLockTimeoutMs) + " -c statement_timeout="
        + QByteArray::number(kStatementTimeoutMs) + " -c standard_conforming_strings=on";
    char* error = nullptr;
    if (PQconninfoOption* given = PQconninfoParse(conninfo.constData(), &error)) {
        for (const PQconninfoOption* option = given; option->keyword; ++option) {
            if (std::strcmp(option->keyword, "options") == 0 && option->val && *option->val)
                options += ' ' + QByteArray(option->val);
        }
        PQconninfoFree(given);
    }
    PQfreemem(error);
    return options;
}

// The time libpq's connect_timeout gives (ours unless the connection string set another;
// 0, "for ever", is taken as ours).
std::chrono::seconds connectLimit(PGconn* link)
{
    int seconds = 0;
    if (PQconninfoOption* options = PQconninfo(link)) {
        for (const PQconninfoOption* option = options; option->keyword; ++option) {
            if (std::strcmp(option->keyword, "connect_timeout") == 0 && option->val)
                seconds = std::atoi(option->val);
        }
        PQconninfoFree(options);
    }
    return std::chrono::seconds(seconds > 0 ? std::max(seconds, 2) : kConnectSeconds);
}

// Drives a connection that libpq is making (step: PQconnectPoll or PQresetPoll) until it
// is made or fails, or the connect limit passes: false then.
bool awaitConnection(PGconn* link, PostgresPollingStatusType (*step)(PGconn*))
{
    const auto deadline = Clock::now() + connectLimit(link);
    PostgresPollingStatusType state = PGRES_POLLING_WRITING;
    while (PQstatus(link) != CONNECTION_BAD && state != PGRES_POLLING_FAILED) {
        if (state == PGRES_POLLING_OK)
            return true;
        pollfd socket{PQsocket(link), short(state == PGRES_POLLING_READING ? POLLIN : POLLOUT), 0};
        if (socket.fd < 0)
            return false;
        if (::poll(&socket, 1, kSliceMs) > 0)
            state = step(link);
        else if (Clock::now() >= deadline)
            return false;
        letEventsRun();
    }
    return false;
}

// Why a connection could not be made: libpq's message, or the limit that passed.
QString whyNotConnected(PGconn* link)
{
    if (PQstatus(link) == CONNECTION_BAD)
        return QString::fromUtf8(PQerrorMessage(link)).trimmed();
    return QStringLiteral("%1 秒内没有连上（服务器没有回应）").arg(connectLimit(link).count());
}

// The connection reads a backslash in a string literal as a plain character; a server
// (or a connection string) that keeps the old escapes could be made to end a literal by
// typed text, and is refused.
void requireStandardStrings(PGconn* link, const QString& shown)
{
    const char* setting = PQparameterStatus(link, "standard_conforming_strings");
    if (setting && std::strcmp(setting, "on") == 0)
        return;
    throw StoreError(QStringLiteral("数据库服务器（%1）的 standard_conforming_strings 是 %2，不是 on："
                                    "输入的文字中的反斜杠会被当作转义符，可能改变语句，所以不使用这个连接。"
                                    "请不要在连接串的 options 中把它设为 off。")
                         .arg(shown, setting ? QString::fromUtf8(setting) : QStringLiteral("未知")));
}

QString trimmed(const char* text)
{
    return QString::fromUtf8(text ? text : "").trimmed();
}

std::vector<Cell> cellsOf(const ColumnValues& values)
{
    std::vector<Cell> cells;
    cells.reserve(values.size());
    for (const auto& [column, value] : values)
        cells.push_back(value);
    return cells;
}

} // namespace

void ServerLinkCloser::operator()(pg_conn* link) const noexcept
{
    PQfinish(link);
}

void ServerResultClearer::operator()(pg_result* result) const noexcept
{
    PQclear(result);
}

QString shownServerName(const QString& conninfo)
{
    return AddressMask(conninfo).shown();
}

ServerConnection::ServerConnection(ServerLink link, AddressMask mask) : link_(std::move(link)), mask_(std::move(mask)) {}

ServerConnection::~ServerConnection() = default;

std::unique_ptr<ServerConnection> ServerConnection::open(const QString& conninfo, Access access)
{
    const QByteArray given = conninfo.toUtf8();
    const QByteArray connectSeconds = QByteArray::number(kConnectSeconds);
    const QByteArray tcpUserTimeout = QByteArray::number(kTcpUserTimeoutMs);
    QByteArray options = startupOptions(given);
    if (access == Access::ReadOnly)
        options += " -c default_transaction_read_only=on"; // last, so that it wins

    // Ours first: whatever the caller's string says instead wins. The options come after
    // it, since they hold the caller's own options too (startupOptions).
    const char* const keywords[] = {"connect_timeout", "tcp_user_timeout", "keepalives", "keepalives_idle",
                                    "keepalives_interval", "keepalives_count", "application_name",
                                    "client_encoding", "dbname", "options", nullptr};
    const char* const values[] = {connectSeconds.constData(), tcpUserTimeout.constData(), "1", kKeepalivesIdle,
                                  kKeepalivesInterval, kKeepalivesCount, "horavo",
                                  "UTF8", given.constData(), options.constData(), nullptr};
    ServerLink link(PQconnectStartParams(keywords, values, 1));
    AddressMask mask(conninfo);
    if (!link)
        throw StoreError(QStringLiteral("连不上数据库服务器（%1）：内存不足").arg(mask.shown()));
    if (!awaitConnection(link.get(), PQconnectPoll))
        throw StoreError(QStringLiteral("连不上数据库服务器（%1）：%2")
                             .arg(mask.shown(), mask.masked(whyNotConnected(link.get()))));
    requireStandardStrings(link.get(), mask.shown());
    PQsetnonblocking(link.get(), 1);
    return std::unique_ptr<ServerConnection>(new ServerConnection(std::move(link), std::move(mask)));
}

std::chrono::milliseconds ServerConnection::answerLimit()
{
    return std::chrono::milliseconds(answerLimitMs.load());
}

void ServerConnection::setAnswerLimit(std::chrono::milliseconds limit)
{
    answerLimitMs = limit.count();
}

void ServerConnection::refuseWhileWaiting() const
{
    if (waiting_)
        throw StoreError(QStringLiteral("数据库服务器（%1）还没有回答上一个操作，请稍后再试。").arg(mask_.shown()));
}

void ServerConnection::sent(int sent) const
{
    if (!sent)
        fail(nullptr);
}

void ServerConnection::awaitAnswer()
{
    const QScopedValueRollback<bool> waiting(waiting_, true);
    auto heard = Clock::now();
    for (;;) {
        const int unsent = PQflush(handle());
        if (unsent < 0 || (unsent == 0 && !PQisBusy(handle())))
            return; // a failure is in the result
        pollfd socket{PQsocket(handle()), short(POLLIN | (unsent ? POLLOUT : 0)), 0};
        if (socket.fd < 0)
            return;
        const auto now = Clock::now();
        if (::poll(&socket, 1, kSliceMs) > 0) {
            heard = Clock::now();
            if ((socket.revents & (POLLIN | POLLERR | POLLHUP)) && !PQconsumeInput(handle()))
                return;
        } else if (Clock::now() - heard >= answerLimit()) {
            giveUp();
        }
        // Rows streaming in do not run the events for every packet, only once a slice.
        if (now - eventsRan_ >= std::chrono::milliseconds(kSliceMs)) {
            letEventsRun();
            eventsRan_ = Clock::now();
        }
    }
}

[[noreturn]] void ServerConnection::giveUp()
{
    // The server is asked to stop the statement from a thread of its own, since PQcancel
    // waits for the server's answer, which a stopped server never gives. The connection
    // is closed at once: nothing sent on it counts any more, and a transaction open on it
    // is never committed. The next statement makes it again (reconnectIfLost).
    if (PGcancel* cancel = PQgetCancel(handle())) {
        std::thread([cancel] {
            char why[256];
            PQcancel(cancel, why, int(sizeof why));
            PQfreeCancel(cancel);
        }).detach();
    }
    ::shutdown(PQsocket(handle()), SHUT_RDWR);
    PQconsumeInput(handle()); // libpq finds the connection closed
    throw StoreError(QStringLiteral("数据库服务器（%1）%2 秒没有回应，已放弃这次操作。")
                         .arg(mask_.shown())
                         .arg(double(answerLimit().count()) / 1000.0));
}

ServerResult ServerConnection::nextResult()
{
    awaitAnswer();
    return ServerResult(PQgetResult(handle()));
}

ServerResult ServerConnection::answer()
{
    ServerResult kept;
    bool failed = false;
    while (ServerResult result = nextResult()) {
        if (failed)
            continue;
        const ExecStatusType status = PQresultStatus(result.get());
        failed = status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK;
        kept = std::move(result);
    }
    return kept;
}

namespace {

// What a server's error state means, in the user's words; empty when nothing better than
// the server's own text can be said.
QString causeOfState(const char* state)
{
    if (!state)
        return {};
    static const std::pair<const char*, const char*> kCauses[] = {
        {"25006", "数据库服务器只允许读，不能写入"},
        {"42501", "数据库服务器上这个角色没有这样做的权限"},
        {"53100", "数据库服务器的磁盘已满"},
        {"53200", "数据库服务器内存不足"},
        {"53300", "数据库服务器的连接已满"},
        {"42P01", "数据库服务器上的数据库缺少这个表：它不是这个系统的数据库，或者表被改过"},
        {"42703", "数据库服务器上的表缺少这一列"},
        {"55P03", "要写的行被另一个连接锁住了"},
        {"57014", "数据库服务器取消了这个操作（超时或被人取消）"},
        {"23505", "写入的值与已有的行重复"},
        {"22001", "值太长，数据库存不下"},
        {"22003", "数字超出了数据库能存的范围"},
    };
    for (const auto& [code, cause] : kCauses) {
        if (std::strcmp(state, code) == 0)
            return QString::fromUtf8(cause);
    }
    return {};
}

} // namespace

[[noreturn]] void ServerConnection::fail(pg_result* result) const
{
    const char* primary = result ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    QString message = primary ? trimmed(primary) : trimmed(PQerrorMessage(handle()));
    if (const char* detail = result ? PQresultErrorField(result, PG_DIAG_MESSAGE_DETAIL) : nullptr)
        message += QStringLiteral("（%1）").arg(trimmed(detail));
    message = mask_.masked(message);
    if (PQstatus(handle()) != CONNECTION_OK)
        throw StoreError(QStringLiteral("与数据库服务器（%1）的连接断了：%2").arg(shownName(), message));
    const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    if (state && (std::strcmp(state, kSerializationFailure) == 0 || std::strcmp(state, kDeadlockDetected) == 0))
        throw ServerRetryError(QStringLiteral("数据库服务器：%1").arg(message));
    const QString cause = causeOfState(state);
    if (!cause.isEmpty())
        throw StoreError(QStringLiteral("%1（数据库服务器：%2）").arg(cause, message));
    throw StoreError(QStringLiteral("数据库服务器：%1").arg(message));
}

ServerResult ServerConnection::checked(ServerResult result) const
{
    const ExecStatusType status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        fail(result.get());
    return result;
}

void ServerConnection::reconnectIfLost()
{
    refuseWhileWaiting();
    // Inside a transaction a lost connection has lost the transaction with it: that must
    // fail, not go on on a new connection.
    if (inWriteTransaction_)
        return;
    // A server that ended the connection (a restart, an administrator) has said so and
    // closed it: reading what is waiting, without waiting for more, finds that out before
    // a statement is sent into it. The server's last message and the end of the
    // connection may take two reads.
    for (int read = 0; read < 2 && PQstatus(handle()) == CONNECTION_OK; ++read) {
        pollfd waiting{PQsocket(handle()), POLLIN, 0};
        if (::poll(&waiting, 1, 0) <= 0)
            break;
        PQconsumeInput(handle());
    }
    if (!broken_ && PQstatus(handle()) != CONNECTION_BAD)
        return;
    broken_ = true; // until it is made again
    bool made = false;
    {
        const QScopedValueRollback<bool> waiting(waiting_, true);
        made = PQresetStart(handle()) && awaitConnection(handle(), PQresetPoll);
    }
    if (!made)
        throw StoreError(QStringLiteral("与数据库服务器（%1）的连接断了，重新连接也没有成功：%2")
                             .arg(mask_.shown(), whyNotConnected(handle())));
    requireStandardStrings(handle(), mask_.shown());
    PQsetnonblocking(handle(), 1);
    broken_ = false;
    ++generation_; // statements prepared on the old connection are gone
}

void ServerConnection::exec(const QByteArray& sql)
{
    refuseWhileWaiting();
    sent(PQsendQuery(handle(), sql.constData()));
    checked(answer());
}

ServerResult ServerConnection::execParams(const QByteArray& sql, const ColumnValues& parameters)
{
    reconnectIfLost();
    const ServerParameters given(cellsOf(parameters));
    sent(PQsendQueryParams(handle(), sql.constData(), given.count(), nullptr, given.values(), given.lengths(),
                           given.formats(), 0));
    return checked(answer());
}

ServerResult ServerConnection::writeAlone(const std::function<ServerResult()>& write)
{
    if (inTransaction())
        return write();
    reconnectIfLost();
    exec("BEGIN");
    inWriteTransaction_ = true; // a connection lost now loses the write: it is not made again
    ServerResult result;
    try {
        result = write();
        exec("COMMIT");
    } catch (...) {
        inWriteTransaction_ = false;
        rollBack();
        throw;
    }
    inWriteTransaction_ = false;
    return result;
}

void ServerConnection::rollBack() noexcept
{
    if (PQstatus(handle()) != CONNECTION_OK || PQtransactionStatus(handle()) == PQTRANS_IDLE)
        return;
    try {
        exec("ROLLBACK");
    } catch (const StoreError&) {
        // A connection that cannot even roll back is given up: the transaction ends with it.
    }
}

QByteArray ServerConnection::prepareNamed(const QByteArray& sql)
{
    reconnectIfLost();
    const QByteArray name = "horavo_" + QByteArray::number(++preparedCount_);
    sent(PQsendPrepare(handle(), name.constData(), sql.constData(), 0, nullptr));
    checked(answer());
    return name;
}

ServerResult ServerConnection::execPrepared(const QByteArray& name, const std::vector<Cell>& parameters)
{
    refuseWhileWaiting();
    const ServerParameters given(parameters);
    sent(PQsendQueryPrepared(handle(), name.constData(), given.count(), given.values(), given.lengths(),
                             given.formats(), 0));
    return checked(answer());
}

void ServerConnection::writeTransaction(const std::function<void()>& body)
{
    if (inTransaction()) {
        body();
        return;
    }
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + Connection::retryWindow();
    std::minstd_rand jitter(std::random_device{}());
    for (;;) {
        try {
            reconnectIfLost();
            exec("BEGIN ISOLATION LEVEL SERIALIZABLE");
            inWriteTransaction_ = true;
            try {
                body();
                exec("COMMIT");
            } catch (...) {
                inWriteTransaction_ = false;
                rollBack();
                endTransaction(false);
                throw;
            }
            inWriteTransaction_ = false;
            endTransaction(true);
            return;
        } catch (const ServerRetryError& retry) {
            if (Clock::now() >= deadline)
                throw StoreError(QStringLiteral("数据库服务器上同时写入的太多，稍后再试：%1").arg(retry.message()));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10 + jitter() % 40));
    }
}

void ServerConnection::awaitWritable()
{
    const QScopedValueRollback<bool> waiting(waiting_, true);
    const auto since = Clock::now();
    for (;;) {
        pollfd socket{PQsocket(handle()), short(POLLIN | POLLOUT), 0};
        if (socket.fd < 0)
            fail(nullptr);
        if (::poll(&socket, 1, kSliceMs) > 0) {
            // What the server says meanwhile (a notice, an error) is read, so that it
            // never waits on us while we wait on it.
            if ((socket.revents & (POLLIN | POLLERR | POLLHUP)) && !PQconsumeInput(handle()))
                fail(nullptr);
            if (socket.revents & POLLOUT)
                return;
        } else if (Clock::now() - since >= answerLimit()) {
            giveUp();
        }
        letEventsRun();
    }
}

void ServerConnection::putCopyData(const std::string& data)
{
    for (;;) {
        const int put = PQputCopyData(handle(), data.data(), int(data.size()));
        if (put < 0) {
            // The server ended the COPY early (it refused a row): its reason is in the result.
            checked(answer());
            fail(nullptr);
        }
        if (put > 0)
            break;
        awaitWritable();
    }
    if (PQflush(handle()) < 0)
        fail(nullptr);
}

void ServerConnection::endCopy(const char* failure)
{
    for (;;) {
        const int ended = PQputCopyEnd(handle(), failure);
        if (ended < 0)
            fail(nullptr);
        if (ended > 0)
            return;
        awaitWritable();
    }
}

void ServerConnection::appendRows(const QByteArray& table, const std::vector<QByteArray>& columns,
                                  const detail::RowFeed& next)
{
    refuseWhileWaiting();
    if (!inTransaction())
        throw StoreError(QStringLiteral("批量写入只能在一个事务里进行"));
    QByteArray names;
    for (const QByteArray& column : columns)
        names += (names.isEmpty() ? "" : ", ") + detail::quoted(column);
    // The statement limit is for the windows' statements: a copy of millions of rows
    // takes as long as it takes, and a server gone silent is still given up on.
    exec("SET LOCAL statement_timeout = 0");
    sent(PQsendQuery(handle(), ("COPY " + detail::quoted(table) + " (" + names + ") FROM STDIN").constData()));
    ServerResult started = nextResult();
    if (PQresultStatus(started.get()) != PGRES_COPY_IN) {
        while (nextResult()) {
        }
        checked(std::move(started));
        throw StoreError(QStringLiteral("数据库服务器没有开始批量写入"));
    }
    started.reset();

    // Rows go out in chunks of about 64 KiB: fewer calls, and the server works on one
    // chunk while the next is made.
    constexpr std::size_t kChunk = 64 * 1024;
    std::string chunk;
    chunk.reserve(kChunk + 4096);
    std::vector<detail::OwnedCell> row;
    try {
        while (next(row)) {
            for (std::size_t c = 0; c < row.size(); ++c) {
                if (c > 0)
                    chunk += '\t';
                detail::appendCopyField(chunk, row[c].view());
            }
            chunk += '\n';
            if (chunk.size() >= kChunk) {
                putCopyData(chunk);
                chunk.clear();
            }
        }
        if (!chunk.empty())
            putCopyData(chunk);
    } catch (...) {
        // The server drops what it was given and answers with a failure, read here so
        // that the caller's failure is the one told.
        if (PQstatus(handle()) == CONNECTION_OK) {
            try {
                endCopy("horavo: the rows were given up");
                answer();
            } catch (const StoreError&) {
            }
        }
        throw;
    }
    endCopy(nullptr);
    checked(answer());
    exec("SET LOCAL statement_timeout TO DEFAULT");
}

bool ServerConnection::inTransaction() const
{
    switch (PQtransactionStatus(handle())) {
    case PQTRANS_ACTIVE:
    case PQTRANS_INTRANS:
    case PQTRANS_INERROR:
        return true;
    default:
        return inWriteTransaction_; // a connection lost inside one is still inside it
    }
}

} // namespace store
