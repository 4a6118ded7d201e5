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

} // namespace store
