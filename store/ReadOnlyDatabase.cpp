#include "store/ReadOnlyDatabase.h"

#include "store/Connection.h"
#include "store/DatabaseAddress.h"
#include "store/ServerConnection.h"
#include "store/StoreError.h"

namespace store {

struct ReadOnlyDatabase::Impl {
    std::unique_ptr<Connection> file;
    std::unique_ptr<ServerConnection> server;

    Engine& engine() const
    {
        if (file)
            return *file;
        return *server;
    }
};

ReadOnlyDatabase::ReadOnlyDatabase(std::unique_ptr<Impl> impl) : d(std::move(impl)) {}

ReadOnlyDatabase::~ReadOnlyDatabase() = default;

std::unique_ptr<ReadOnlyDatabase> ReadOnlyDatabase::open(const DatabaseAddress& address)
{
    auto impl = std::make_unique<Impl>();
    if (address.isServer())
        impl->server = ServerConnection::open(address.text(), ServerConnection::Access::ReadOnly);
    else {
        try {
            impl->file = Connection::openReadOnly(address.text());
        } catch (const MissingDatabaseError& missing) {
            throw MissingDatabaseError(address.explained(missing.message()));
        }
    }
    return std::unique_ptr<ReadOnlyDatabase>(new ReadOnlyDatabase(std::move(impl)));
}

QStringList ReadOnlyDatabase::systemTables()
{
    // SQLite compares table names without regard to ASCII letter case, so a file made
    // by hand with "USERS" has the table.
    const QString sql = d->file ? QStringLiteral("select lower(name) from sqlite_master where type = 'table'"
                                                 " and lower(name) in ('users', 'internet', 'knumber')")
                                : QStringLiteral("select tablename from pg_catalog.pg_tables where schemaname = current_schema()"
                                                 " and tablename in ('users', 'internet', 'knumber')");
    QStringList present;
    forEachRow(sql, {}, [&](const ReadRow& row) { present << storedText(row.stored(0)); });
    QStringList ordered;
    for (const char* table : {"users", "internet", "knumber"}) {
        if (present.contains(QLatin1String(table)))
            ordered << QString::fromLatin1(table);
    }
    return ordered;
}

QString ReadOnlyDatabase::rowKeyColumn() const
{
    return d->file ? QStringLiteral("rowid") : QString::fromLatin1(kServerKeyColumn);
}

void ReadOnlyDatabase::forEachRow(const QString& sql, const QStringList& parameters,
                                  const std::function<void(const ReadRow&)>& eachRow)
{
    d->engine().forEachRow(sql, parameters, eachRow);
}

sqlite3* ReadOnlyDatabase::fileHandle() const
{
    return d->file ? d->file->handle() : nullptr;
}

} // namespace store
