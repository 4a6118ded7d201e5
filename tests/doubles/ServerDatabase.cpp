#include "tests/doubles/ServerDatabase.h"

#include <stdexcept>

#include <QDir>

#include <libpq-fe.h>

#include "store/DatabaseFile.h"
#include "store/ServerConnection.h"
#include "tests/doubles/PgTestServer.h"

namespace doubles {

namespace {

// The rows of a query, by libpq, as text; the key column dropped.
template <typename RowFn>
void query(const QString& conninfo, const QString& sql, RowFn onRow)
{
    PGconn* link = PQconnectdb(conninfo.toUtf8().constData());
    const auto close = qScopeGuard([link] { PQfinish(link); });
    if (PQstatus(link) != CONNECTION_OK)
        throw std::runtime_error(std::string("cannot reach the test server: ") + PQerrorMessage(link));
    PGresult* result = PQexec(link, sql.toUtf8().constData());
    const auto clear = qScopeGuard([result] { PQclear(result); });
    if (PQresultStatus(result) != PGRES_TUPLES_OK && PQresultStatus(result) != PGRES_COMMAND_OK)
        throw std::runtime_error(std::string("test statement failed: ") + PQresultErrorMessage(result));
    for (int r = 0; r < PQntuples(result); ++r) {
        QVariantList values;
        for (int c = 0; c < PQnfields(result); ++c) {
            if (std::string_view(PQfname(result, c)) == store::kServerKeyColumn)
                continue;
            values << (PQgetisnull(result, r, c) ? QVariant() : QVariant(QString::fromUtf8(PQgetvalue(result, r, c))));
        }
        onRow(values);
    }
}

} // namespace

ServerDatabase::ServerDatabase() : previousFolder_(QDir::currentPath())
{
    if (!PgTestServer::available())
        return;
    conninfo_ = PgTestServer::freshDatabase();
    store::createDatabase(address());
    namedServer_.emplace(store::kDatabaseVariable, conninfo_.toUtf8());
    QDir::setCurrent(dir_.path());
}

ServerDatabase::~ServerDatabase()
{
    if (!ready())
        return;
    QDir::setCurrent(previousFolder_);
    namedServer_.reset();
    try {
        PgTestServer::dropDatabase(conninfo_);
    } catch (const std::exception&) {
        // A record set of the test still open keeps it; the server is removed anyway.
    }
}

void ServerDatabase::exec(const QString& sql) const
{
    query(conninfo_, sql, [](const QVariantList&) {});
}

QVariant ServerDatabase::scalar(const QString& sql) const
{
    QVariant first;
    bool seen = false;
    query(conninfo_, sql, [&](const QVariantList& values) {
        if (!seen && !values.isEmpty())
            first = values.front();
        seen = true;
    });
    return first;
}

QStringList ServerDatabase::rows(const QString& sql) const
{
    QStringList result;
    query(conninfo_, sql, [&](const QVariantList& values) {
        QStringList cells;
        for (const QVariant& value : values)
            cells << (value.isNull() ? QStringLiteral("<null>") : value.toString());
        result << cells.join(u'|');
    });
    return result;
}

} // namespace doubles
