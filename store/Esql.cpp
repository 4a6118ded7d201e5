#include "store/Esql.h"

#include "store/Engine.h"
#include "store/StoreError.h"
#include "store/Values.h"

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

void Transaction::appendRows(const QString& table, const QStringList& columns, const RowSource& next) const
{
    std::vector<QByteArray> names;
    std::vector<ColumnKind> kinds;
    for (const QString& column : columns) {
        names.push_back(column.toUtf8());
        kinds.push_back(columnKind(table, column));
    }
    QVariantList values;
    std::size_t row = 0;
    engine_->appendRows(table.toUtf8(), names, [&](std::vector<detail::OwnedCell>& cells) {
        values.clear();
        if (!next(values))
            return false;
        ++row;
        cells.clear();
        try {
            for (qsizetype c = 0; c < columns.size(); ++c)
                cells.push_back(detail::toStored(values.value(c), kinds[std::size_t(c)], columns[c]));
        } catch (const StoreError& error) {
            throw StoreError(QStringLiteral("表 %1 的第 %2 行：%3").arg(table).arg(row).arg(error.message()));
        }
        return true;
    });
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
