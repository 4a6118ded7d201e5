#include "store/DatabaseFile.h"

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

} // namespace

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

    // NewOnly fails when the file appears between the test above and here.
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        if (QFileInfo::exists(path))
            throw StoreError(QStringLiteral("数据库文件“%1”已经存在，不会改动它").arg(shown));
        throw StoreError(QStringLiteral("不能创建数据库文件“%1”：%2").arg(shown, file.errorString()));
    }
    file.close();

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

QString defaultDatabasePath()
{
    return QDir::current().absoluteFilePath(QString::fromLatin1(kDatabaseFileName));
}

} // namespace store
