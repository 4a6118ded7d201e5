#include "store/Connection.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <random>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

#include "store/DatabaseAddress.h"
#include "store/DatabaseFile.h"

namespace store {

namespace {

std::atomic<long long> busyTimeoutMs{5000};
std::atomic<long long> retryWindowMs{5000};

bool isBusyCode(int rc)
{
    const int primary = rc & 0xff;
    return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

bool folderWritable(const QString& folder)
{
    return ::access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0;
}

// The files SQLite makes beside a database (its journal) take the database file's mode:
// it creates them with that mode and then sets it exactly, past the umask. So the
// journal of a file that others may read (one made by an earlier version, 0664) would
// hold the pages of a write, passwords among them, open to every local account; and
// where SQLite cannot learn the file's mode it falls back to 0644. Its calls that create
// a file and set a mode are replaced, once for the process, by ones that never give
// others any permission: the journal is the group's at most, from the moment it exists.
using OpenCall = int (*)(const char*, int, int);
using FchmodCall = int (*)(int, mode_t);
OpenCall sqliteOpen = nullptr;
FchmodCall sqliteFchmod = nullptr;

int openKeepingOthersOut(const char* path, int flags, int mode)
{
    return sqliteOpen(path, flags, mode & ~int(S_IRWXO));
}

int fchmodKeepingOthersOut(int fd, mode_t mode)
{
    return sqliteFchmod(fd, mode & ~mode_t(S_IRWXO));
}

void keepOthersOutOfSqliteFiles()
{
    static std::once_flag once;
    std::call_once(once, [] {
        sqlite3_vfs* files = sqlite3_vfs_find("unix");
        if (!files || files->iVersion < 3 || !files->xGetSystemCall || !files->xSetSystemCall)
            return;
        sqliteOpen = reinterpret_cast<OpenCall>(files->xGetSystemCall(files, "open"));
        sqliteFchmod = reinterpret_cast<FchmodCall>(files->xGetSystemCall(files, "fchmod"));
        if (sqliteOpen)
            files->xSetSystemCall(files, "open", reinterpret_cast<sqlite3_syscall_ptr>(&openKeepingOthersOut));
        if (sqliteFchmod)
            files->xSetSystemCall(files, "fchmod", reinterpret_cast<sqlite3_syscall_ptr>(&fchmodKeepingOthersOut));
    });
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

Connection::~Connection()
{
    leaveWriteAheadLog();
}

DatabaseHandle Connection::openHandle(const QString& path, int flags)
{
    const QFileInfo info(path);
    if (!info.exists())
        throw MissingDatabaseError(missingDatabaseFileMessage(path));
    if (info.isDir())
        throw StoreError(QStringLiteral("“%1”是文件夹，不是数据库文件").arg(QDir::toNativeSeparators(path)));
    // Opening a pipe waits for a writer that may never come, and a device is no database.
    if (!info.isFile())
        throw StoreError(QStringLiteral("“%1”不是普通文件，不是数据库文件").arg(QDir::toNativeSeparators(path)));

    keepOthersOutOfSqliteFiles();
    sqlite3* raw = nullptr;
    // Never SQLITE_OPEN_CREATE: a mistyped folder must not leave an empty database behind.
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &raw, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    DatabaseHandle db(raw);
    if (rc != SQLITE_OK) {
        if (!QFileInfo::exists(path))
            throw MissingDatabaseError(missingDatabaseFileMessage(path));
        const QString engine = raw ? QString::fromUtf8(sqlite3_errmsg(raw)) : QString::fromUtf8(sqlite3_errstr(rc));
        throw StoreError(QStringLiteral("打不开数据库文件“%1”：%2").arg(QDir::toNativeSeparators(path), engine));
    }
    sqlite3_extended_result_codes(raw, 1);
    return db;
}

std::unique_ptr<Connection> Connection::open(const QString& path)
{
    std::unique_ptr<Connection> connection(new Connection(openHandle(path, SQLITE_OPEN_READWRITE), path));
    connection->configure();
    return connection;
}

std::unique_ptr<Connection> Connection::openReadOnly(const QString& path)
{
    std::unique_ptr<Connection> connection(new Connection(openHandle(path, SQLITE_OPEN_READONLY), path));
    connection->configureReadOnly();
    return connection;
}

void Connection::configureReadOnly()
{
    sqlite3_busy_timeout(handle(), int(busyTimeoutMs.load()));
    const auto readSchema = [&] { retryWhileBusy([&] { exec("SELECT count(*) FROM sqlite_master"); }); };
    try {
        readSchema();
        return;
    } catch (const StoreError& error) {
        if (sqlite3_extended_errcode(handle()) != SQLITE_READONLY_ROLLBACK)
            throw StoreError(QStringLiteral("打不开数据库文件“%1”：%2").arg(QDir::toNativeSeparators(path_), error.message()));
    }
    // A writer was killed in the middle of a transaction: its journal must be played
    // back into the file before anyone reads it, and only a connection that writes can.
    const QFileInfo info(path_);
    if (!info.isWritable() || !folderWritable(info.absolutePath()))
        throw StoreError(QStringLiteral("数据库文件“%1”上有一次写入被中断了（写入它的程序没有写完就结束了），"
                                        "留下的日志文件“%2”要先回滚才能读这个文件；回滚要写入这个文件和它的文件夹，而你不能写入。"
                                        "请由能写入它们的用户运行一次 horavo-setup check --file %1（或启动一次 tallyon），"
                                        "回滚会自动完成。不要删除日志文件：删除它会让那次写完一半的内容留在数据库里。")
                             .arg(QDir::toNativeSeparators(info.absoluteFilePath()), info.fileName() + QStringLiteral("-journal")));
    try {
        // Any read of a connection that writes rolls the journal back first.
        const std::unique_ptr<Connection> writer = open(path_);
        writer->retryWhileBusy([&] { writer->exec("SELECT count(*) FROM sqlite_master"); });
        readSchema();
    } catch (const StoreError& error) {
        throw StoreError(QStringLiteral("打不开数据库文件“%1”：回滚一次中断的写入没有成功：%2")
                             .arg(QDir::toNativeSeparators(path_), error.message()));
    }
}

void Connection::configure()
{
    sqlite3_busy_timeout(handle(), int(busyTimeoutMs.load()));
    try {
        // Reading the file's header waits like any read for a writer that is committing.
        bool writeAheadLog = false;
        retryWhileBusy([&] {
            exec("PRAGMA synchronous=FULL");
            writeAheadLog = journalMode() == "wal";
        });
        // A rollback journal keeps every committed write in the database file itself, so
        // a copy of that one file is complete, and it works on a network share, where a
        // write-ahead log does not. A file left in WAL mode by an earlier version is
        // switched back here.
        if (!writeAheadLog) {
            exec("PRAGMA journal_mode=DELETE");
        } else {
            try {
                exec("PRAGMA journal_mode=DELETE");
            } catch (const BusyError&) {
                leftInWriteAheadLog_ = true;
                // Leaving WAL needs every other connection to the file closed: a program
                // of an earlier version still has it open. This connection works on in
                // WAL mode and tries again when it closes (leaveWriteAheadLog).
            }
        }
    } catch (const StoreError& error) {
        throw StoreError(QStringLiteral("打不开数据库文件“%1”：%2")
                             .arg(QDir::toNativeSeparators(path_), error.message()));
    }
}

QByteArray Connection::journalMode() const
{
    const Statement stmt = prepare("PRAGMA main.journal_mode");
    if (!step(stmt.get()))
        return {};
    return QByteArray(reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0))).toLower();
}

void Connection::leaveWriteAheadLog() const noexcept
{
    if (!leftInWriteAheadLog_)
        return;
    try {
        if (journalMode() == "wal")
            sqlite3_exec(handle(), "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr);
    } catch (const StoreError&) {
        // The next connection tries again.
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

QString Connection::causeOf(int code, const QString& engineText) const
{
    const QString file = QDir::toNativeSeparators(path_);
    // A busy file is told where it is waited for (retryWhileBusy).
    switch (code & 0xff) {
    case SQLITE_READONLY: {
        const QString why = whyNotWritable(DatabaseAddress::file(path_));
        return why.isEmpty() ? QStringLiteral("数据库文件“%1”是只读的，不能写入").arg(file) : why;
    }
    case SQLITE_FULL:
        return QStringLiteral("磁盘已满，数据库文件“%1”写不下了").arg(file);
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return QStringLiteral("数据库文件“%1”已损坏，或者不是数据库文件").arg(file);
    case SQLITE_IOERR:
        return QStringLiteral("读写数据库文件“%1”时磁盘出错").arg(file);
    case SQLITE_CANTOPEN:
        return QStringLiteral("打不开数据库文件“%1”").arg(file);
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return QStringLiteral("没有权限访问数据库文件“%1”").arg(file);
    case SQLITE_NOMEM:
        return QStringLiteral("内存不足");
    case SQLITE_TOOBIG:
        return QStringLiteral("值太大，数据库存不下");
    case SQLITE_CONSTRAINT:
        return QStringLiteral("写入的值不合表的约束");
    case SQLITE_ERROR: {
        static const QLatin1String kNoTable("no such table: "), kNoColumn("no such column: ");
        if (engineText.startsWith(kNoTable))
            return QStringLiteral("数据库文件“%1”里缺少表“%2”：它不是这个系统的数据库，或者表被改过")
                .arg(file, engineText.mid(kNoTable.size()));
        if (engineText.startsWith(kNoColumn))
            return QStringLiteral("数据库里缺少列“%1”").arg(engineText.mid(kNoColumn.size()));
        return {};
    }
    default:
        return {};
    }
}

void Connection::fail(const QString& context) const
{
    const int code = sqlite3_extended_errcode(handle());
    const QString engineText = errorMessage();
    const int primary = code & 0xff;
    QString cause = causeOf(code, engineText);
    // The engine says only "unable to open database file" when the journal cannot be
    // made beside a database file that is itself writable.
    if ((primary == SQLITE_CANTOPEN || primary == SQLITE_READONLY || primary == SQLITE_IOERR)
        && !folderWritable(QFileInfo(path_).absolutePath()))
        cause = journalFolderMessage();
    // The cause in the user's words first, the engine's own text after it for whoever
    // has to look further.
    QString message = cause.isEmpty() ? engineText : cause + QStringLiteral("（") + engineText + QStringLiteral("）");
    if (!context.isEmpty())
        message = context + QStringLiteral("：") + message;
    if (isBusyCode(code))
        throw BusyError(message);
    throw StoreError(message);
}

QString Connection::journalFolderMessage() const
{
    const QFileInfo info(path_);
    return QStringLiteral("不能写入数据库文件“%1”：文件夹“%2”是只读的，每次写入都要在这个文件夹中建立日志文件“%3”，"
                          "而这里不能建立。请让这个文件夹可写。")
        .arg(info.fileName(), QDir::toNativeSeparators(info.absolutePath()), info.fileName() + QStringLiteral("-journal"));
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

void Connection::writeTransaction(const std::function<void()>& body)
{
    if (inTransaction()) {
        body();
        return;
    }
    retryWhileBusy([&] {
        exec("BEGIN IMMEDIATE");
        try {
            body();
            exec("COMMIT");
        } catch (...) {
            if (inTransaction())
                sqlite3_exec(handle(), "ROLLBACK", nullptr, nullptr, nullptr);
            endTransaction(false);
            throw;
        }
        endTransaction(true);
    });
}

bool Connection::inTransaction() const
{
    return !sqlite3_get_autocommit(handle());
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
