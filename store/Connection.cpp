#include "store/Connection.h"

#include <atomic>
#include <random>
#include <thread>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

namespace store {

namespace {

std::atomic<long long> busyTimeoutMs{5000};
std::atomic<long long> retryWindowMs{5000};

bool isBusyCode(int rc)
{
    const int primary = rc & 0xff;
    return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

QString missingFileMessage(const QString& path)
{
    const QFileInfo info(path);
    return QStringLiteral("找不到数据库文件“%1”（查找的文件夹：%2）")
        .arg(info.fileName(), QDir::toNativeSeparators(info.absolutePath()));
}

} // namespace

void DatabaseCloser::operator()(sqlite3* db) const noexcept
{
    sqlite3_close_v2(db);
}

void StatementFinalizer::operator()(sqlite3_stmt* stmt) const noexcept
{
    sqlite3_finalize(stmt);
}

Connection::Connection(DatabaseHandle db, const QString& path) : db_(std::move(db)), path_(path) {}

Connection::~Connection() = default;

std::unique_ptr<Connection> Connection::open(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        throw StoreError(missingFileMessage(path));
    if (info.isDir())
        throw StoreError(QStringLiteral("“%1”是文件夹，不是数据库文件").arg(QDir::toNativeSeparators(path)));

    sqlite3* raw = nullptr;
    // Never SQLITE_OPEN_CREATE: a mistyped folder must not leave an empty database behind.
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &raw,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    DatabaseHandle db(raw);
    if (rc != SQLITE_OK) {
        if (!QFileInfo::exists(path))
            throw StoreError(missingFileMessage(path));
        const QString engine = raw ? QString::fromUtf8(sqlite3_errmsg(raw)) : QString::fromUtf8(sqlite3_errstr(rc));
        throw StoreError(QStringLiteral("打不开数据库文件“%1”：%2").arg(QDir::toNativeSeparators(path), engine));
    }
    sqlite3_extended_result_codes(raw, 1);
    std::unique_ptr<Connection> connection(new Connection(std::move(db), path));
    connection->configure();
    return connection;
}

void Connection::configure() const
{
    sqlite3_busy_timeout(handle(), int(busyTimeoutMs.load()));
    try {
        // Several connections of both programs use the file at once: readers never wait
        // for the writer with a write-ahead log.
        exec("PRAGMA journal_mode=WAL");
        exec("PRAGMA synchronous=FULL");
    } catch (const StoreError& error) {
        throw StoreError(QStringLiteral("打不开数据库文件“%1”：%2")
                             .arg(QDir::toNativeSeparators(path_), error.message()));
    }
}

Statement Connection::prepare(const QByteArray& sql, qsizetype* tailOffset) const
{
    sqlite3_stmt* raw = nullptr;
    const char* tail = nullptr;
    const int rc = sqlite3_prepare_v2(handle(), sql.constData(), int(sql.size()), &raw, &tail);
    Statement stmt(raw);
    if (rc != SQLITE_OK)
        fail();
    if (tailOffset)
        *tailOffset = tail ? qsizetype(tail - sql.constData()) : sql.size();
    return stmt;
}

void Connection::exec(const char* sql) const
{
    if (sqlite3_exec(handle(), sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        fail();
}

bool Connection::step(sqlite3_stmt* stmt) const
{
    const int rc = sqlite3_step(stmt);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    fail();
}

QString Connection::errorMessage() const
{
    return QString::fromUtf8(sqlite3_errmsg(handle()));
}

void Connection::fail(const QString& context) const
{
    const QString message = context.isEmpty() ? errorMessage() : context + QStringLiteral("：") + errorMessage();
    if (isBusyCode(sqlite3_extended_errcode(handle())))
        throw BusyError(message);
    throw StoreError(message);
}

void Connection::retryWhileBusy(const std::function<void()>& attempt) const
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + retryWindow();
    std::minstd_rand jitter(std::random_device{}());
    for (;;) {
        try {
            attempt();
            return;
        } catch (const BusyError& busy) {
            if (Clock::now() >= deadline)
                throw StoreError(QStringLiteral("数据库文件正被另一个连接写入，稍后再试：%1").arg(busy.message()));
        }
        // Two writers that collide should not retry in lockstep.
        std::this_thread::sleep_for(std::chrono::milliseconds(10 + jitter() % 40));
    }
}

void Connection::writeTransaction(const std::function<void()>& body) const
{
    retryWhileBusy([&] {
        exec("BEGIN IMMEDIATE");
        try {
            body();
            exec("COMMIT");
        } catch (...) {
            if (!sqlite3_get_autocommit(handle()))
                sqlite3_exec(handle(), "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
    });
}

std::chrono::milliseconds Connection::busyTimeout()
{
    return std::chrono::milliseconds(busyTimeoutMs.load());
}

void Connection::setBusyTimeout(std::chrono::milliseconds timeout)
{
    busyTimeoutMs = timeout.count();
}

std::chrono::milliseconds Connection::retryWindow()
{
    return std::chrono::milliseconds(retryWindowMs.load());
}

void Connection::setRetryWindow(std::chrono::milliseconds window)
{
    retryWindowMs = window.count();
}

} // namespace store
