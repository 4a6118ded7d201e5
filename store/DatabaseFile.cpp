#include "store/DatabaseFile.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <libpq-fe.h>

#include "store/Connection.h"
#include "store/DatabaseAddress.h"
#include "store/ServerConnection.h"
#include "store/Schema.h"
#include "store/StoreError.h"

namespace store {

namespace {

// Which of the system's three tables the server's database holds, in the system's order.
QStringList systemTablesOn(ServerConnection& server)
{
    const ServerResult found = server.execParams(
        "select tablename from pg_catalog.pg_tables"
        " where schemaname = current_schema() and tablename in ('users', 'internet', 'knumber')",
        {});
    QStringList present;
    for (int row = 0; row < PQntuples(found.get()); ++row)
        present << QString::fromUtf8(PQgetvalue(found.get(), row, 0));
    QStringList ordered;
    for (const char* table : {"users", "internet", "knumber"}) {
        if (present.contains(QLatin1String(table)))
            ordered << QString::fromLatin1(table);
    }
    return ordered;
}

// A database holds every password in clear text: it is never open to others. In a group
// folder, one whose setgid bit is set (as the package's /var/lib/horavo), what is made
// belongs to the folder's group, and the database is that group's to record into: 0660.
// Anywhere else it is its owner's alone: 0600.
// A group's name, or its number where it has none.
QString groupNameOf(gid_t id)
{
    const group* named = ::getgrgid(id);
    return named ? QString::fromLocal8Bit(named->gr_name) : QString::number(id);
}

mode_t databaseFileMode(const QString& folder)
{
    struct stat status {};
    if (::stat(QFile::encodeName(folder).constData(), &status) == 0 && (status.st_mode & S_ISGID) != 0)
        return 0660;
    return 0600;
}

} // namespace

QString missingDatabaseFileMessage(const QString& path)
{
    const QFileInfo info(path);
    const QString folder = info.absolutePath();
    // A file in a folder closed to this user (as the package's /var/lib/horavo is to
    // those outside its group) looks just like a missing one.
    struct stat status {};
    if (::stat(QFile::encodeName(folder).constData(), &status) == 0
        && ::access(QFile::encodeName(folder).constData(), X_OK) != 0) {
        return QStringLiteral("不能进入数据库文件“%1”所在的文件夹“%2”：只有 %3 组的成员可以进入，"
                              "请管理员把你加入该组（重新登录后生效）")
            .arg(info.fileName(), QDir::toNativeSeparators(folder), groupNameOf(status.st_gid));
    }
    return QStringLiteral("找不到数据库文件“%1”（查找的文件夹：%2）").arg(info.fileName(), QDir::toNativeSeparators(folder));
}

void removeDatabaseFiles(const QString& path)
{
    // A journal left beside a removed file would be played into the next file of that name.
    QFile::remove(path + QStringLiteral("-journal"));
    QFile::remove(path);
    QFile::remove(path + QStringLiteral("-wal"));
    QFile::remove(path + QStringLiteral("-shm"));
}

QStringList systemTablesOnServer(const DatabaseAddress& server)
{
    return systemTablesOn(*ServerConnection::open(server.text()));
}

void createDatabase(const QString& path)
{
    const QFileInfo info(path);
    const QString shown = QDir::toNativeSeparators(info.absoluteFilePath());
    if (info.exists() || info.isSymLink())
        throw StoreError(QStringLiteral("数据库文件“%1”已经存在，不会改动它").arg(shown));
    if (!info.absoluteDir().exists())
        throw StoreError(QStringLiteral("文件夹“%1”不存在").arg(QDir::toNativeSeparators(info.absolutePath())));

    // O_EXCL fails when the file appears between the test above and here. The file is
    // made for its owner alone, whatever the umask, and given its mode before anything
    // is written into it.
    const int made = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (made < 0) {
        const int error = errno;
        if (error == EEXIST)
            throw StoreError(QStringLiteral("数据库文件“%1”已经存在，不会改动它").arg(shown));
        throw StoreError(QStringLiteral("不能创建数据库文件“%1”：%2").arg(shown, QString::fromLocal8Bit(std::strerror(error))));
    }
    const bool moded = ::fchmod(made, databaseFileMode(info.absolutePath())) == 0;
    ::close(made);
    if (!moded) {
        removeDatabaseFiles(path);
        throw StoreError(QStringLiteral("不能设定数据库文件“%1”的权限").arg(shown));
    }

    try {
        const std::unique_ptr<Connection> connection = Connection::open(path);
        connection->writeTransaction([&] {
            for (const char* const* statement = createStatements(); *statement; ++statement)
                connection->exec(*statement);
        });
    } catch (...) {
        // A half-made file would only be refused as "existing" by the next attempt.
        removeDatabaseFiles(path);
        throw;
    }
}

void createDatabase(const DatabaseAddress& address)
{
    if (!address.isServer()) {
        createDatabase(address.text());
        return;
    }
    const std::unique_ptr<ServerConnection> server = ServerConnection::open(address.text());
    server->writeTransaction([&] {
        const QStringList existing = systemTablesOn(*server);
        if (!existing.isEmpty())
            throw StoreError(QStringLiteral("数据库“%1”里已经有表 %2，不会改动它")
                                 .arg(server->shownName(), existing.join(QStringLiteral(", "))));
        for (const char* const* statement = serverCreateStatements(); *statement; ++statement)
            server->exec(*statement);
    });
}

QString whyNotWritable(const DatabaseAddress& address)
{
    if (address.isServer())
        return {};
    const QFileInfo file(address.text());
    const QString folder = file.absolutePath();
    // The journal is made beside the file, so the folder must be writable as well.
    const auto refusal = [](const QString& what, const QString& path) -> QString {
        struct stat status {};
        if (::stat(QFile::encodeName(path).constData(), &status) != 0)
            return {};
        const QString groupName = groupNameOf(status.st_gid);
        if (status.st_mode & S_IWGRP)
            return QStringLiteral("你不能写%1 %2：只有 %3 组的成员可以写，请管理员把你加入该组（重新登录后生效）。")
                .arg(what, path, groupName);
        return QStringLiteral("你不能写%1 %2：它是只读的。").arg(what, path);
    };
    if (::access(QFile::encodeName(file.absoluteFilePath()).constData(), W_OK) != 0)
        return refusal(QStringLiteral("数据库文件"), file.absoluteFilePath());
    if (::access(QFile::encodeName(folder).constData(), W_OK) != 0)
        return refusal(QStringLiteral("数据库所在的文件夹"), folder);
    return {};
}

QString defaultDatabasePath()
{
    return QDir::current().absoluteFilePath(QString::fromLatin1(kDatabaseFileName));
}

} // namespace store
