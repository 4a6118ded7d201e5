#include "store/Esql.h"

#include "store/Engine.h"

namespace store {

std::unique_ptr<RecordSet> Esql(const QString& strSql)
{
    return Esql(strSql, DatabaseAddress::fromSettings());
}

std::unique_ptr<RecordSet> Esql(const QString& strSql, const DatabaseAddress& database)
{
    return std::make_unique<RecordSet>(openDatabase(database), strSql);
}

std::unique_ptr<RecordSet> Esql(const QString& strSql, const QString& databasePath)
{
    return Esql(strSql, DatabaseAddress::file(databasePath));
}

std::unique_ptr<RecordSet> Esql(const QString& strSql, const QStringList& parameters, const DatabaseAddress& database)
{
    return std::make_unique<RecordSet>(openDatabase(database), strSql, parameters);
}

std::unique_ptr<RecordSet> Transaction::esql(const QString& strSql, const QStringList& parameters) const
{
    return std::make_unique<RecordSet>(engine_, strSql, parameters);
}

void inOneTransaction(const std::function<void(const Transaction&)>& body)
{
    inOneTransaction(DatabaseAddress::fromSettings(), body);
}

void inOneTransaction(const DatabaseAddress& database, const std::function<void(const Transaction&)>& body)
{
    const std::shared_ptr<Engine> engine = openDatabase(database);
    const Transaction transaction(engine);
    engine->writeTransaction([&] { body(transaction); });
}

void inOneTransaction(const QString& databasePath, const std::function<void(const Transaction&)>& body)
{
    inOneTransaction(DatabaseAddress::file(databasePath), body);
}

} // namespace store
