#include "store/Esql.h"

#include "store/Connection.h"
#include "store/DatabaseFile.h"

namespace store {

std::unique_ptr<RecordSet> Esql(const QString& strSql)
{
    return Esql(strSql, defaultDatabasePath());
}

std::unique_ptr<RecordSet> Esql(const QString& strSql, const QString& databasePath)
{
    return std::make_unique<RecordSet>(Connection::open(databasePath), strSql);
}

std::unique_ptr<RecordSet> Transaction::esql(const QString& strSql) const
{
    return std::make_unique<RecordSet>(connection_, strSql);
}

void inOneTransaction(const std::function<void(const Transaction&)>& body)
{
    inOneTransaction(defaultDatabasePath(), body);
}

void inOneTransaction(const QString& databasePath, const std::function<void(const Transaction&)>& body)
{
    const std::shared_ptr<Connection> connection = Connection::open(databasePath);
    const Transaction transaction(connection);
    connection->writeTransaction([&] { body(transaction); });
}

} // namespace store
