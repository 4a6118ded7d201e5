// The rows of a server's database as a record set reads and writes them: a statement's
// rows with the key of each, read as they arrive, and single rows written back by key.
#include "store/ServerConnection.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <string>

#include <libpq-fe.h>

#include "store/SqlNames.h"
#include "store/StatementShape.h"
#include "store/ServerValues.h"

namespace store {

using detail::Cell;
using detail::ColumnValues;
using detail::Field;
using detail::OwnedCell;
using detail::Table;
using detail::ownedRow;
using detail::quoted;
using detail::serverCell;
using detail::tableName;

namespace {

QByteArray keyAndColumns(const std::vector<QByteArray>& columns)
{
    QByteArray list = quoted(kServerKeyColumn);
    for (const QByteArray& column : columns)
        list += ", " + quoted(column);
    return list;
}

QByteArray parameter(int number)
{
    return '$' + QByteArray::number(number);
}

// The delete of one row by key while its checked columns hold the values given, prepared
// once on the server for a whole run of deletes.
class ServerRowDeleter final : public detail::RowDeleter {
public:
    ServerRowDeleter(ServerConnection& connection, const Table& table, const std::vector<QByteArray>& checkedColumns)
        : connection_(connection)
    {
        sql_ = "DELETE FROM " + tableName(table) + " WHERE " + quoted(kServerKeyColumn) + " = $1";
        int number = 2;
        for (const QByteArray& column : checkedColumns)
            sql_ += " AND " + quoted(column) + " IS NOT DISTINCT FROM " + parameter(number++);
    }

    bool remove(std::int64_t key, const std::vector<Cell>& checkedValues) override
    {
        const ServerResult result = connection_.writeAlone([&] {
            if (name_.isEmpty() || generation_ != connection_.generation()) {
                name_ = connection_.prepareNamed(sql_);
                generation_ = connection_.generation();
            }
            std::vector<Cell> parameters{Cell::ofInteger(key)};
            parameters.insert(parameters.end(), checkedValues.begin(), checkedValues.end());
            return connection_.execPrepared(name_, parameters);
        });
        return std::strcmp(PQcmdTuples(result.get()), "0") != 0;
    }

private:
    ServerConnection& connection_;
    QByteArray sql_;
    QByteArray name_;
    int generation_ = 0;
};

} // namespace

const ServerConnection::TableInfo* ServerConnection::tableInfo(unsigned int oid)
{
    if (oid == InvalidOid)
        return nullptr;
    if (const auto known = tables_.find(oid); known != tables_.end())
        return &known->second;
    const ServerResult result = execParams(
        "select n.nspname, c.relname, a.attnum, a.attname from pg_catalog.pg_attribute a"
        " join pg_catalog.pg_class c on c.oid = a.attrelid"
        " join pg_catalog.pg_namespace n on n.oid = c.relnamespace"
        " where a.attrelid = $1::oid and a.attnum > 0 and not a.attisdropped",
        {{"oid", Cell::ofInteger(oid)}});
    TableInfo info;
    for (int r = 0; r < PQntuples(result.get()); ++r) {
        info.table.schema = PQgetvalue(result.get(), r, 0);
        info.table.name = PQgetvalue(result.get(), r, 1);
        const int number = std::atoi(PQgetvalue(result.get(), r, 2));
        const QByteArray column = PQgetvalue(result.get(), r, 3);
        info.columns.emplace(number, column);
        if (column == kServerKeyColumn)
            info.keyColumn = number;
    }
    return &tables_.emplace(oid, std::move(info)).first->second;
}

ServerConnection::Described ServerConnection::describe(const QByteArray& statement)
{
    sent(PQsendPrepare(handle(), "", statement.constData(), 0, nullptr));
    checked(answer());
    Described d;
    sent(PQsendDescribePrepared(handle(), ""));
    d.result = checked(answer());
    for (int c = 0; c < PQnfields(d.result.get()); ++c) {
        Field field;
        field.name = QString::fromUtf8(PQfname(d.result.get(), c));
        bool key = false;
        d.tables.push_back(PQftable(d.result.get(), c));
        if (const TableInfo* info = tableInfo(d.tables.back())) {
            const int number = PQftablecol(d.result.get(), c);
            if (const auto column = info->columns.find(number); column != info->columns.end()) {
                field.table = info->table;
                field.column = column->second;
                field.type.known = true;
                field.type.kind = columnKind(QString::fromUtf8(field.table.name), QString::fromUtf8(field.column));
                key = number == info->keyColumn;
            }
        }
        d.fields.push_back(std::move(field));
        d.hidden.push_back(key);
    }
    return d;
}

void ServerConnection::streamRows(const QByteArray& statement, const QStringList& parameters,
                                  const std::function<void(const PGresult*)>& eachRow)
{
    std::vector<QByteArray> texts;
    std::vector<const char*> values;
    for (const QString& parameter : parameters)
        texts.push_back(parameter.toUtf8());
    for (const QByteArray& text : texts)
        values.push_back(text.constData());
    sent(PQsendQueryParams(handle(), statement.constData(), int(values.size()), nullptr, values.data(), nullptr,
                           nullptr, 0));
    PQsetSingleRowMode(handle());
    ServerResult failure;
    std::exception_ptr stopped;
    while (ServerResult result = nextResult()) {
        const ExecStatusType status = PQresultStatus(result.get());
        if (status == PGRES_SINGLE_TUPLE) {
            if (failure || stopped)
                continue; // the rest is read to the end before failing
            try {
                eachRow(result.get());
            } catch (...) {
                stopped = std::current_exception();
            }
        } else if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK && !failure) {
            failure = std::move(result);
        }
    }
    if (stopped)
        std::rethrow_exception(stopped);
    if (failure)
        fail(failure.get());
}

void ServerConnection::forEachRow(const QString& sql, const QStringList& parameters,
                                  const std::function<void(const ReadRow&)>& eachRow)
{
    const QByteArray text = sql.toUtf8();
    if (text.trimmed().isEmpty())
        throw StoreError(QStringLiteral("语句是空的"));
    reconnectIfLost();
    const std::vector<Field> fields = describe(text).fields;
    std::vector<Cell> cells(fields.size());
    const ReadRow row(fields, cells);
    std::vector<Oid> types;
    std::vector<std::string> scratch(fields.size());
    streamRows(text, parameters, [&](const PGresult* result) {
        if (types.empty()) {
            for (std::size_t c = 0; c < cells.size(); ++c)
                types.push_back(PQftype(result, int(c)));
        }
        for (std::size_t c = 0; c < cells.size(); ++c)
            cells[c] = serverCell(result, 0, int(c), types[c], scratch[c]);
        eachRow(row);
    });
}

detail::Opened ServerConnection::run(const QString& sql, const QStringList& parameters, detail::RowBuffer& rows)
{
    const QByteArray text = sql.toUtf8();
    if (text.trimmed().isEmpty())
        throw StoreError(QStringLiteral("语句是空的"));
    reconnectIfLost();

    // The statement is prepared and described first: what its fields are, and whether
    // every one comes from one table with a key, is known before any row is fetched.
    // A text of several statements is refused by the server here, before anything runs.
    Described plain = describe(text);
    detail::Opened opened;
    for (std::size_t c = 0; c < plain.fields.size(); ++c) {
        if (!plain.hidden[c])
            opened.fields.push_back(plain.fields[c]);
    }
    std::vector<bool> hidden = plain.hidden;
    QByteArray chosen = text;

    if (!opened.fields.empty()) {
        const detail::StatementShape shape = detail::analyseStatement(text);
        const Oid first = plain.tables[std::size_t(std::find(plain.hidden.begin(), plain.hidden.end(), false) - plain.hidden.begin())];
        const TableInfo* info = tableInfo(first);
        // A failed statement would end an open transaction: the key is asked for only
        // of a table that has one.
        bool oneTable = shape.rowsAreTableRows && info && info->keyColumn != 0;
        for (std::size_t c = 0; c < plain.fields.size(); ++c)
            oneTable = oneTable && plain.tables[c] == first;
        if (oneTable) {
            const QByteArray withKey = text.left(shape.afterSelect) + ' ' + quoted(kServerKeyColumn) + ','
                + text.mid(shape.afterSelect);
            bool confirmed = false;
            try {
                Described keyed = describe(withKey);
                confirmed = keyed.fields.size() == plain.fields.size() + 1 && keyed.hidden.front()
                    && keyed.fields.front().table == opened.fields.front().table;
                for (std::size_t c = 0; confirmed && c < plain.fields.size(); ++c)
                    confirmed = keyed.fields[c + 1].name == plain.fields[c].name
                        && keyed.fields[c + 1].column == plain.fields[c].column;
            } catch (const StoreError&) {
                confirmed = false;
            }
            if (confirmed) {
                opened.updatable = true;
                hidden.insert(hidden.begin(), false); // the key itself is kept, as the hidden first cell
                chosen = withKey;
            }
        }
    }

    // Looking the tables up ended the statement prepared above: it is sent again, with
    // its execution, in one exchange. Rows are packed as they arrive: the server's whole
    // answer is never held beside the packed rows.
    std::vector<Oid> types;
    std::string scratch;
    streamRows(chosen, parameters, [&](const PGresult* result) {
        const int columnCount = PQnfields(result);
        if (types.empty()) {
            for (int c = 0; c < columnCount; ++c)
                types.push_back(PQftype(result, c));
        }
        rows.beginRow();
        for (int c = 0; c < columnCount; ++c) {
            if (!hidden[std::size_t(c)])
                rows.put(serverCell(result, 0, c, types[std::size_t(c)], scratch));
        }
        rows.appendRow();
    });
    rows.shrinkToFit();
    return opened;
}

std::optional<std::vector<OwnedCell>> ServerConnection::readRow(const Table& table, std::int64_t key,
                                                                const std::vector<QByteArray>& columns)
{
    const ServerResult result = execParams("SELECT " + keyAndColumns(columns) + " FROM " + tableName(table)
                                               + " WHERE " + quoted(kServerKeyColumn) + " = $1",
                                           {{kServerKeyColumn, Cell::ofInteger(key)}});
    if (PQntuples(result.get()) == 0)
        return std::nullopt;
    return ownedRow(result.get(), 0);
}

std::vector<OwnedCell> ServerConnection::insertRow(const Table& table, const ColumnValues& values,
                                                   const std::vector<QByteArray>& readColumns)
{
    QByteArray sql = insertStatement(table, values, [](int number) { return parameter(number); });
    sql += " RETURNING " + keyAndColumns(readColumns);
    const ServerResult result = writeAlone([&] { return execParams(sql, values); });
    return ownedRow(result.get(), 0);
}

std::optional<std::vector<OwnedCell>> ServerConnection::updateRow(const Table& table, std::int64_t key,
                                                                  const ColumnValues& values, const ColumnValues& checks,
                                                                  const std::vector<QByteArray>& readColumns)
{
    ColumnValues parameters = values;
    QByteArray assignments;
    int number = 1;
    for (const auto& [column, value] : values)
        assignments += (assignments.isEmpty() ? "" : ", ") + quoted(column) + " = " + parameter(number++);
    QByteArray conditions = quoted(kServerKeyColumn) + " = " + parameter(number++);
    parameters.emplace_back(kServerKeyColumn, Cell::ofInteger(key));
    for (const auto& check : checks) {
        conditions += " AND " + quoted(check.first) + " IS NOT DISTINCT FROM " + parameter(number++);
        parameters.push_back(check);
    }
    const QByteArray sql = "UPDATE " + tableName(table) + " SET " + assignments + " WHERE " + conditions
        + " RETURNING " + keyAndColumns(readColumns);
    const ServerResult result = writeAlone([&] { return execParams(sql, parameters); });
    if (PQntuples(result.get()) == 0)
        return std::nullopt;
    return ownedRow(result.get(), 0);
}

std::unique_ptr<detail::RowDeleter> ServerConnection::rowDeleter(const Table& table,
                                                                 const std::vector<QByteArray>& checkedColumns)
{
    return std::make_unique<ServerRowDeleter>(*this, table, checkedColumns);
}

} // namespace store
