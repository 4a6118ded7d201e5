#include "store/ServerConnection.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
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
#include "store/StatementShape.h"

namespace store {

using detail::Cell;
using detail::ColumnValues;
using detail::Field;
using detail::OwnedCell;
using detail::Table;
using detail::quoted;
using detail::tableName;

namespace {

// The server's type numbers of the values a record set reads as numbers.
enum ServerType : Oid {
    kBool = 16,
    kBytea = 17,
    kInt8 = 20,
    kInt2 = 21,
    kInt4 = 23,
    kOid = 26,
    kFloat4 = 700,
    kFloat8 = 701,
    kNumeric = 1700,
};

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

QByteArray keyAndColumns(const std::vector<QByteArray>& columns)
{
    QByteArray list = quoted(kServerKeyColumn);
    for (const QByteArray& column : columns)
        list += ", " + quoted(column);
    return list;
}

QString trimmed(const char* text)
{
    return QString::fromUtf8(text ? text : "").trimmed();
}

std::optional<std::int64_t> wholeNumber(std::string_view text)
{
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

double realNumber(std::string_view text)
{
    // The server writes the infinities and NaN as words; from_chars takes them too, but
    // not a leading '+' (never written).
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error == std::errc::result_out_of_range)
        return std::strtod(std::string(text).c_str(), nullptr);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nan("");
    return value;
}

// The value of one cell of a result as a record set keeps it: whole numbers and yes/no
// as integers, other numbers as reals, everything else as the text the server wrote.
// Bytes of a bytea go through scratch, which must outlive the cell.
Cell serverCell(const PGresult* result, int row, int column, Oid type, std::string& scratch)
{
    if (PQgetisnull(result, row, column))
        return Cell::null();
    const char* value = PQgetvalue(result, row, column);
    const std::string_view text(value, std::size_t(PQgetlength(result, row, column)));
    switch (type) {
    case kInt2:
    case kInt4:
    case kInt8:
    case kOid:
        if (const auto whole = wholeNumber(text))
            return Cell::ofInteger(*whole);
        return Cell::ofText(text);
    case kBool:
        return Cell::ofInteger(text == "t" ? 1 : 0);
    case kFloat4:
    case kFloat8:
        return Cell::ofReal(realNumber(text));
    case kNumeric:
        // A sum of whole numbers comes back as numeric: whole where it fits.
        if (text.find_first_of(".eEN") == std::string_view::npos) {
            if (const auto whole = wholeNumber(text))
                return Cell::ofInteger(*whole);
        }
        return Cell::ofReal(realNumber(text));
    case kBytea: {
        std::size_t size = 0;
        unsigned char* bytes = PQunescapeBytea(reinterpret_cast<const unsigned char*>(value), &size);
        scratch.assign(reinterpret_cast<const char*>(bytes), size);
        PQfreemem(bytes);
        return Cell::ofBlob(scratch);
    }
    default:
        return Cell::ofText(text);
    }
}

std::vector<OwnedCell> ownedRow(const PGresult* result, int row)
{
    std::vector<OwnedCell> cells;
    std::string scratch;
    for (int c = 0; c < PQnfields(result); ++c)
        cells.push_back(OwnedCell::from(serverCell(result, row, c, PQftype(result, c), scratch)));
    return cells;
}

// Cells as libpq's parameters: numbers in the text the server reads back exactly, text
// as it is, bytes in binary form.
class Parameters {
public:
    explicit Parameters(const std::vector<Cell>& cells)
    {
        texts_.reserve(cells.size());
        for (const Cell& cell : cells)
            add(cell);
        for (std::size_t i = 0; i < cells.size(); ++i)
            values_.push_back(isNull_[i] ? nullptr : texts_[i].c_str());
    }

    int count() const { return int(values_.size()); }
    const char* const* values() const { return values_.data(); }
    const int* lengths() const { return lengths_.data(); }
    const int* formats() const { return formats_.data(); }

private:
    void add(const Cell& cell)
    {
        std::string text;
        int format = 0;
        switch (cell.type) {
        case Cell::Type::Null:
            break;
        case Cell::Type::Integer:
            text = std::to_string(cell.integer);
            break;
        case Cell::Type::Real:
            if (std::isnan(cell.real)) {
                text = "NaN";
            } else if (std::isinf(cell.real)) {
                text = cell.real > 0 ? "Infinity" : "-Infinity";
            } else {
                char buffer[32];
                const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, cell.real);
                text.assign(buffer, end);
            }
            break;
        case Cell::Type::Text:
            if (cell.bytes.find('\0') != std::string_view::npos)
                throw StoreError(QStringLiteral("数据库服务器上的文本不能含有空字符（U+0000）"));
            text.assign(cell.bytes);
            break;
        case Cell::Type::Blob:
            text.assign(cell.bytes);
            format = 1;
            break;
        }
        isNull_.push_back(cell.type == Cell::Type::Null);
        lengths_.push_back(int(text.size()));
        formats_.push_back(format);
        texts_.push_back(std::move(text));
    }

    std::vector<std::string> texts_;
    std::vector<bool> isNull_;
    std::vector<const char*> values_;
    std::vector<int> lengths_;
    std::vector<int> formats_;
};

std::vector<Cell> cellsOf(const ColumnValues& values)
{
    std::vector<Cell> cells;
    cells.reserve(values.size());
    for (const auto& [column, value] : values)
        cells.push_back(value);
    return cells;
}

QByteArray parameter(int number)
{
    return '$' + QByteArray::number(number);
}

// The delete of one row by key while its checked columns hold the values given, prepared
// once on the server for a whole run of deletes.
class ServerRowDeleter final : public detail::RowDeleter {
public:
    ServerRowDeleter(ServerConnection& connection, const Table& table, const std::vector<QByteArray>& checkedColumns)
        : connection_(connection)
    {
        sql_ = "DELETE FROM " + tableName(table) + " WHERE " + quoted(kServerKeyColumn) + " = $1";
        int number = 2;
        for (const QByteArray& column : checkedColumns)
            sql_ += " AND " + quoted(column) + " IS NOT DISTINCT FROM " + parameter(number++);
    }

    bool remove(std::int64_t key, const std::vector<Cell>& checkedValues) override
    {
        const ServerResult result = connection_.writeAlone([&] {
            if (name_.isEmpty() || generation_ != connection_.generation()) {
                name_ = connection_.prepareNamed(sql_);
                generation_ = connection_.generation();
            }
            std::vector<Cell> parameters{Cell::ofInteger(key)};
            parameters.insert(parameters.end(), checkedValues.begin(), checkedValues.end());
            return connection_.execPrepared(name_, parameters);
        });
        return std::strcmp(PQcmdTuples(result.get()), "0") != 0;
    }

private:
    ServerConnection& connection_;
    QByteArray sql_;
    QByteArray name_;
    int generation_ = 0;
};

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

std::unique_ptr<ServerConnection> ServerConnection::open(const QString& conninfo)
{
    const QByteArray given = conninfo.toUtf8();
    const QByteArray connectSeconds = QByteArray::number(kConnectSeconds);
    const QByteArray tcpUserTimeout = QByteArray::number(kTcpUserTimeoutMs);
    const QByteArray options = startupOptions(given);
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
    const Parameters given(cellsOf(parameters));
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
    const Parameters given(parameters);
    sent(PQsendQueryPrepared(handle(), name.constData(), given.count(), given.values(), given.lengths(),
                             given.formats(), 0));
    return checked(answer());
}

const ServerConnection::TableInfo* ServerConnection::tableInfo(unsigned int oid)
{
    if (oid == InvalidOid)
        return nullptr;
    if (const auto known = tables_.find(oid); known != tables_.end())
        return &known->second;
    const ServerResult result = execParams(
        "select n.nspname, c.relname, a.attnum, a.attname from pg_catalog.pg_attribute a"
        " join pg_catalog.pg_class c on c.oid = a.attrelid"
        " join pg_catalog.pg_namespace n on n.oid = c.relnamespace"
        " where a.attrelid = $1::oid and a.attnum > 0 and not a.attisdropped",
        {{"oid", Cell::ofInteger(oid)}});
    TableInfo info;
    for (int r = 0; r < PQntuples(result.get()); ++r) {
        info.table.schema = PQgetvalue(result.get(), r, 0);
        info.table.name = PQgetvalue(result.get(), r, 1);
        const int number = std::atoi(PQgetvalue(result.get(), r, 2));
        const QByteArray column = PQgetvalue(result.get(), r, 3);
        info.columns.emplace(number, column);
        if (column == kServerKeyColumn)
            info.keyColumn = number;
    }
    return &tables_.emplace(oid, std::move(info)).first->second;
}

detail::Opened ServerConnection::run(const QString& sql, const QStringList& parameters, detail::RowBuffer& rows)
{
    const QByteArray text = sql.toUtf8();
    if (text.trimmed().isEmpty())
        throw StoreError(QStringLiteral("语句是空的"));
    reconnectIfLost();

    // The statement is prepared and described first: what its fields are, and whether
    // every one comes from one table with a key, is known before any row is fetched.
    // A text of several statements is refused by the server here, before anything runs.
    struct Described {
        ServerResult result;
        std::vector<Field> fields;   // every column, the key among them
        std::vector<bool> hidden;    // a key column, which no record set shows
        std::vector<Oid> tables;     // the table of each column, InvalidOid for none
    };
    const auto describe = [&](const QByteArray& statement) {
        sent(PQsendPrepare(handle(), "", statement.constData(), 0, nullptr));
        checked(answer());
        Described d;
        sent(PQsendDescribePrepared(handle(), ""));
        d.result = checked(answer());
        for (int c = 0; c < PQnfields(d.result.get()); ++c) {
            Field field;
            field.name = QString::fromUtf8(PQfname(d.result.get(), c));
            bool key = false;
            d.tables.push_back(PQftable(d.result.get(), c));
            if (const TableInfo* info = tableInfo(d.tables.back())) {
                const int number = PQftablecol(d.result.get(), c);
                if (const auto column = info->columns.find(number); column != info->columns.end()) {
                    field.table = info->table;
                    field.column = column->second;
                    field.type.known = true;
                    field.type.kind = columnKind(QString::fromUtf8(field.table.name), QString::fromUtf8(field.column));
                    key = number == info->keyColumn;
                }
            }
            d.fields.push_back(std::move(field));
            d.hidden.push_back(key);
        }
        return d;
    };

    Described plain = describe(text);
    detail::Opened opened;
    for (std::size_t c = 0; c < plain.fields.size(); ++c) {
        if (!plain.hidden[c])
            opened.fields.push_back(plain.fields[c]);
    }
    std::vector<bool> hidden = plain.hidden;
    QByteArray chosen = text;

    if (!opened.fields.empty()) {
        const detail::StatementShape shape = detail::analyseStatement(text);
        const Oid first = plain.tables[std::size_t(std::find(plain.hidden.begin(), plain.hidden.end(), false) - plain.hidden.begin())];
        const TableInfo* info = tableInfo(first);
        // A failed statement would end an open transaction: the key is asked for only
        // of a table that has one.
        bool oneTable = shape.rowsAreTableRows && info && info->keyColumn != 0;
        for (std::size_t c = 0; c < plain.fields.size(); ++c)
            oneTable = oneTable && plain.tables[c] == first;
        if (oneTable) {
            const QByteArray withKey = text.left(shape.afterSelect) + ' ' + quoted(kServerKeyColumn) + ','
                + text.mid(shape.afterSelect);
            bool confirmed = false;
            try {
                Described keyed = describe(withKey);
                confirmed = keyed.fields.size() == plain.fields.size() + 1 && keyed.hidden.front()
                    && keyed.fields.front().table == opened.fields.front().table;
                for (std::size_t c = 0; confirmed && c < plain.fields.size(); ++c)
                    confirmed = keyed.fields[c + 1].name == plain.fields[c].name
                        && keyed.fields[c + 1].column == plain.fields[c].column;
            } catch (const StoreError&) {
                confirmed = false;
            }
            if (confirmed) {
                opened.updatable = true;
                hidden.insert(hidden.begin(), false); // the key itself is kept, as the hidden first cell
                chosen = withKey;
            }
        }
    }

    // Looking the tables up ended the statement prepared above: it is sent again, with
    // its execution, in one exchange. Rows are taken one at a time as they arrive and
    // packed at once: the server's whole answer is never held beside the packed rows.
    std::vector<QByteArray> texts;
    std::vector<const char*> values;
    for (const QString& parameter : parameters)
        texts.push_back(parameter.toUtf8());
    for (const QByteArray& text : texts)
        values.push_back(text.constData());
    sent(PQsendQueryParams(handle(), chosen.constData(), int(values.size()), nullptr, values.data(), nullptr,
                           nullptr, 0));
    PQsetSingleRowMode(handle());
    std::vector<Oid> types;
    std::string scratch;
    ServerResult failure;
    while (ServerResult result = nextResult()) {
        const ExecStatusType status = PQresultStatus(result.get());
        if (status == PGRES_SINGLE_TUPLE) {
            if (failure)
                continue;
            const int columnCount = PQnfields(result.get());
            if (types.empty()) {
                for (int c = 0; c < columnCount; ++c)
                    types.push_back(PQftype(result.get(), c));
            }
            rows.beginRow();
            for (int c = 0; c < columnCount; ++c) {
                if (!hidden[std::size_t(c)])
                    rows.put(serverCell(result.get(), 0, c, types[std::size_t(c)], scratch));
            }
            rows.appendRow();
        } else if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK && !failure) {
            failure = std::move(result); // the rest is read to the end before failing
        }
    }
    if (failure)
        fail(failure.get());
    rows.shrinkToFit();
    return opened;
}

std::optional<std::vector<OwnedCell>> ServerConnection::readRow(const Table& table, std::int64_t key,
                                                                const std::vector<QByteArray>& columns)
{
    const ServerResult result = execParams("SELECT " + keyAndColumns(columns) + " FROM " + tableName(table)
                                               + " WHERE " + quoted(kServerKeyColumn) + " = $1",
                                           {{kServerKeyColumn, Cell::ofInteger(key)}});
    if (PQntuples(result.get()) == 0)
        return std::nullopt;
    return ownedRow(result.get(), 0);
}

std::vector<OwnedCell> ServerConnection::insertRow(const Table& table, const ColumnValues& values,
                                                   const std::vector<QByteArray>& readColumns)
{
    QByteArray sql = "INSERT INTO " + tableName(table);
    if (values.empty()) {
        sql += " DEFAULT VALUES";
    } else {
        QByteArray names;
        QByteArray marks;
        int number = 1;
        for (const auto& [column, value] : values) {
            names += (names.isEmpty() ? "" : ", ") + quoted(column);
            marks += (marks.isEmpty() ? "" : ", ") + parameter(number++);
        }
        sql += " (" + names + ") VALUES (" + marks + ")";
    }
    sql += " RETURNING " + keyAndColumns(readColumns);
    const ServerResult result = writeAlone([&] { return execParams(sql, values); });
    return ownedRow(result.get(), 0);
}

std::optional<std::vector<OwnedCell>> ServerConnection::updateRow(const Table& table, std::int64_t key,
                                                                  const ColumnValues& values, const ColumnValues& checks,
                                                                  const std::vector<QByteArray>& readColumns)
{
    ColumnValues parameters = values;
    QByteArray assignments;
    int number = 1;
    for (const auto& [column, value] : values)
        assignments += (assignments.isEmpty() ? "" : ", ") + quoted(column) + " = " + parameter(number++);
    QByteArray conditions = quoted(kServerKeyColumn) + " = " + parameter(number++);
    parameters.emplace_back(kServerKeyColumn, Cell::ofInteger(key));
    for (const auto& check : checks) {
        conditions += " AND " + quoted(check.first) + " IS NOT DISTINCT FROM " + parameter(number++);
        parameters.push_back(check);
    }
    const QByteArray sql = "UPDATE " + tableName(table) + " SET " + assignments + " WHERE " + conditions
        + " RETURNING " + keyAndColumns(readColumns);
    const ServerResult result = writeAlone([&] { return execParams(sql, parameters); });
    if (PQntuples(result.get()) == 0)
        return std::nullopt;
    return ownedRow(result.get(), 0);
}

std::unique_ptr<detail::RowDeleter> ServerConnection::rowDeleter(const Table& table,
                                                                 const std::vector<QByteArray>& checkedColumns)
{
    return std::make_unique<ServerRowDeleter>(*this, table, checkedColumns);
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
