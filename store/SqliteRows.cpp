// The rows of a database file as a record set reads and writes them: a statement's rows
// fetched with the rowid of each, and single rows written back by rowid.
#include "store/Connection.h"

#include <sqlite3.h>

#include "store/ReadRow.h"
#include "store/SqlNames.h"
#include "store/StatementShape.h"

namespace store {

using detail::Cell;
using detail::ColumnValues;
using detail::Field;
using detail::OwnedCell;
using detail::Table;
using detail::quoted;
using detail::tableName;

namespace {

QByteArray utf8(const char* text)
{
    return text ? QByteArray(text) : QByteArray();
}

std::vector<Field> describeColumns(sqlite3_stmt* stmt, int first)
{
    std::vector<Field> fields;
    const int count = sqlite3_column_count(stmt);
    for (int c = first; c < count; ++c) {
        Field field;
        field.name = QString::fromUtf8(sqlite3_column_name(stmt, c));
        field.table.schema = utf8(sqlite3_column_database_name(stmt, c));
        field.table.name = utf8(sqlite3_column_table_name(stmt, c));
        field.column = utf8(sqlite3_column_origin_name(stmt, c));
        if (!field.table.name.isEmpty()) {
            field.type.known = true;
            field.type.kind = columnKind(QString::fromUtf8(field.table.name), QString::fromUtf8(field.column));
        }
        fields.push_back(std::move(field));
    }
    return fields;
}

// Every field read straight from a column of one and the same table.
bool fromOneTable(const std::vector<Field>& fields)
{
    if (fields.empty() || fields.front().table.name.isEmpty())
        return false;
    for (const Field& field : fields) {
        if (!(field.table == fields.front().table))
            return false;
    }
    return true;
}

bool sameOrigins(const std::vector<Field>& a, const std::vector<Field>& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].name != b[i].name || !(a[i].table == b[i].table) || a[i].column != b[i].column)
            return false;
    }
    return true;
}

// A column of the current row as SQLite holds it; its bytes hold until the next step.
Cell cellOfColumn(sqlite3_stmt* stmt, int c)
{
    switch (sqlite3_column_type(stmt, c)) {
    case SQLITE_INTEGER:
        return Cell::ofInteger(sqlite3_column_int64(stmt, c));
    case SQLITE_FLOAT:
        return Cell::ofReal(sqlite3_column_double(stmt, c));
    case SQLITE_TEXT: {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, c));
        return Cell::ofText({text, std::size_t(sqlite3_column_bytes(stmt, c))});
    }
    case SQLITE_BLOB: {
        const auto* blob = static_cast<const char*>(sqlite3_column_blob(stmt, c));
        return Cell::ofBlob({blob ? blob : "", std::size_t(sqlite3_column_bytes(stmt, c))});
    }
    default:
        return Cell::null();
    }
}

// Binds cell's value; bytes are copied unless the caller keeps them valid until the
// statement is reset (copyBytes false).
void bindCell(sqlite3_stmt* stmt, int parameter, const Cell& cell, bool copyBytes = true)
{
    const auto keep = copyBytes ? SQLITE_TRANSIENT : SQLITE_STATIC;
    switch (cell.type) {
    case Cell::Type::Null:
        sqlite3_bind_null(stmt, parameter);
        break;
    case Cell::Type::Integer:
        sqlite3_bind_int64(stmt, parameter, cell.integer);
        break;
    case Cell::Type::Real:
        sqlite3_bind_double(stmt, parameter, cell.real);
        break;
    case Cell::Type::Text:
        sqlite3_bind_text64(stmt, parameter, cell.bytes.data(), cell.bytes.size(), keep, SQLITE_UTF8);
        break;
    case Cell::Type::Blob:
        sqlite3_bind_blob64(stmt, parameter, cell.bytes.data(), cell.bytes.size(), keep);
        break;
    }
}

void storeColumn(detail::RowBuffer& rows, sqlite3_stmt* stmt, int c)
{
    switch (sqlite3_column_type(stmt, c)) {
    case SQLITE_INTEGER:
        rows.putInteger(sqlite3_column_int64(stmt, c));
        break;
    case SQLITE_FLOAT:
        rows.putReal(sqlite3_column_double(stmt, c));
        break;
    case SQLITE_TEXT: {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, c));
        rows.putText(text, std::size_t(sqlite3_column_bytes(stmt, c)));
        break;
    }
    case SQLITE_BLOB: {
        const void* blob = sqlite3_column_blob(stmt, c);
        rows.putBlob(blob, std::size_t(sqlite3_column_bytes(stmt, c)));
        break;
    }
    default:
        rows.putNull();
        break;
    }
}

QByteArray selectByRowid(const Table& table, const std::vector<QByteArray>& columns)
{
    QByteArray sql = "SELECT _rowid_";
    for (const QByteArray& column : columns)
        sql += ", " + quoted(column);
    return sql + " FROM " + tableName(table) + " WHERE _rowid_ = ?";
}

// The statement that deletes one row by rowid while its checked columns hold the values
// bound after it, prepared once for a whole run of deletes.
class SqliteRowDeleter final : public detail::RowDeleter {
public:
    SqliteRowDeleter(Connection& connection, const Table& table, const std::vector<QByteArray>& checkedColumns)
        : connection_(connection)
    {
        QByteArray sql = "DELETE FROM " + tableName(table) + " WHERE _rowid_ = ?";
        for (const QByteArray& column : checkedColumns)
            sql += " AND " + quoted(column) + " IS ?";
        statement_ = connection.prepare(sql);
    }

    bool remove(std::int64_t key, const std::vector<Cell>& checkedValues) override
    {
        sqlite3_stmt* stmt = statement_.get();
        bool removed = false;
        connection_.writeTransaction([&] {
            sqlite3_reset(stmt);
            sqlite3_bind_int64(stmt, 1, key);
            int parameter = 2;
            // The caller's bytes stay where they are until the statement is reset.
            for (const Cell& value : checkedValues)
                bindCell(stmt, parameter++, value, false);
            const auto unbind = [stmt] { sqlite3_reset(stmt); sqlite3_clear_bindings(stmt); };
            try {
                connection_.step(stmt);
            } catch (...) {
                unbind();
                throw;
            }
            unbind();
            removed = sqlite3_changes(connection_.handle()) != 0;
        });
        return removed;
    }

private:
    Connection& connection_;
    Statement statement_;
};

// The caller's statement again with the rowid as a hidden first column, when the engine
// confirms that the rowid is that of the table every field comes from.
Statement prepareWithRowid(const Connection& connection, const QByteArray& statementText, std::size_t afterSelect,
                           const std::vector<Field>& fields)
{
    const QByteArray withRowid = statementText.left(qsizetype(afterSelect)) + " _rowid_," + statementText.mid(qsizetype(afterSelect));
    Statement stmt;
    try {
        stmt = connection.prepare(withRowid);
    } catch (const StoreError&) {
        return {};
    }
    if (!stmt || sqlite3_column_count(stmt.get()) != int(fields.size()) + 1)
        return {};
    const std::vector<Field> hidden = describeColumns(stmt.get(), 0);
    const Field& rowid = hidden.front();
    if (!(rowid.table == fields.front().table) || rowid.column != "rowid")
        return {};
    if (!sameOrigins(describeColumns(stmt.get(), 1), fields))
        return {};
    return stmt;
}

// The values of $1, $2, ... as text, each bound by its name: a statement that asks for
// other parameters, or for more or fewer, is refused.
void bindParameters(sqlite3_stmt* stmt, const QStringList& parameters)
{
    const int count = sqlite3_bind_parameter_count(stmt);
    if (count != parameters.size())
        throw StoreError(QStringLiteral("语句要 %1 个参数，给出的是 %2 个").arg(count).arg(parameters.size()));
    for (qsizetype i = 0; i < parameters.size(); ++i) {
        const QByteArray name = '$' + QByteArray::number(i + 1);
        const int index = sqlite3_bind_parameter_index(stmt, name.constData());
        if (index == 0)
            throw StoreError(QStringLiteral("语句中没有参数 %1").arg(QString::fromLatin1(name)));
        const QByteArray text = parameters[i].toUtf8();
        sqlite3_bind_text64(stmt, index, text.constData(), sqlite3_uint64(text.size()), SQLITE_TRANSIENT, SQLITE_UTF8);
    }
}

// The first statement of text, prepared (waiting like any read for a writer that is
// committing, since it reads the tables' definitions). Whatever follows it is refused
// before anything runs, so that a typed text cannot smuggle in a second statement.
Statement prepareOne(const Connection& connection, const QByteArray& text, qsizetype& tail)
{
    Statement stmt;
    connection.retryWhileBusy([&] { stmt = connection.prepare(text, &tail); });
    if (!stmt)
        throw StoreError(QStringLiteral("语句是空的"));
    for (QByteArray rest = text.mid(tail); !rest.isEmpty();) {
        qsizetype next = 0;
        if (connection.prepare(rest, &next))
            throw StoreError(QStringLiteral("一次只能执行一条语句，第一条语句后面还有：%1")
                                 .arg(QString::fromUtf8(rest).trimmed()));
        if (next <= 0)
            break;
        rest = rest.mid(next);
    }
    return stmt;
}

} // namespace

detail::Opened Connection::run(const QString& sql, const QStringList& parameters, detail::RowBuffer& rows)
{
    const QByteArray text = sql.toUtf8();
    qsizetype tail = 0;
    Statement stmt = prepareOne(*this, text, tail);
    bindParameters(stmt.get(), parameters);

    detail::Opened opened;
    if (sqlite3_column_count(stmt.get()) == 0) {
        // Not a query: it runs and leaves an empty set that cannot be updated.
        retryWhileBusy([&] {
            sqlite3_reset(stmt.get());
            step(stmt.get());
        });
        return opened;
    }

    opened.fields = describeColumns(stmt.get(), 0);
    const QByteArray statementText = text.left(tail);
    const detail::StatementShape shape = detail::analyseStatement(statementText);
    if (sqlite3_stmt_readonly(stmt.get()) && shape.rowsAreTableRows && fromOneTable(opened.fields)) {
        if (Statement withRowid = prepareWithRowid(*this, statementText, std::size_t(shape.afterSelect), opened.fields)) {
            bindParameters(withRowid.get(), parameters);
            stmt = std::move(withRowid);
            opened.updatable = true;
        }
    }

    const int count = sqlite3_column_count(stmt.get());
    stepEveryRow(stmt.get(), [&] {
        rows.beginRow();
        for (int c = 0; c < count; ++c)
            storeColumn(rows, stmt.get(), c);
        rows.appendRow();
    });
    rows.shrinkToFit();
    return opened;
}

void Connection::forEachRow(const QString& sql, const QStringList& parameters,
                            const std::function<void(const ReadRow&)>& eachRow)
{
    const QByteArray text = sql.toUtf8();
    qsizetype tail = 0;
    const Statement stmt = prepareOne(*this, text, tail);
    bindParameters(stmt.get(), parameters);
    const std::vector<Field> fields = describeColumns(stmt.get(), 0);
    std::vector<Cell> cells(fields.size());
    const ReadRow row(fields, cells);
    stepEveryRow(stmt.get(), [&] {
        for (std::size_t c = 0; c < cells.size(); ++c)
            cells[c] = cellOfColumn(stmt.get(), int(c));
        eachRow(row);
    });
}

void Connection::stepEveryRow(sqlite3_stmt* stmt, const std::function<void()>& eachRow) const
{
    bool started = false;
    // Before its first row a statement has read nothing: a busy file is waited for and
    // the statement started over. After it, rows are out already (running it again would
    // give them twice), and the read lock is held until the end.
    retryWhileBusy([&] {
        sqlite3_reset(stmt);
        try {
            while (step(stmt)) {
                started = true;
                eachRow();
            }
        } catch (const BusyError& busy) {
            if (started)
                throw StoreError(QStringLiteral("数据库文件正被另一个连接写入：%1").arg(busy.message()));
            throw;
        }
    });
}

std::optional<std::vector<OwnedCell>> Connection::readRow(const Table& table, std::int64_t key,
                                                          const std::vector<QByteArray>& columns)
{
    Statement stmt = prepare(selectByRowid(table, columns));
    sqlite3_bind_int64(stmt.get(), 1, key);
    if (!step(stmt.get()))
        return std::nullopt;
    std::vector<OwnedCell> cells;
    for (int c = 0; c <= int(columns.size()); ++c)
        cells.push_back(OwnedCell::from(cellOfColumn(stmt.get(), c)));
    return cells;
}

std::vector<OwnedCell> Connection::insertRow(const Table& table, const ColumnValues& values,
                                             const std::vector<QByteArray>& readColumns)
{
    const QByteArray sql = insertStatement(table, values, [](int) { return QByteArray("?"); });

    std::vector<OwnedCell> written;
    writeTransaction([&] {
        Statement stmt = prepare(sql);
        int parameter = 1;
        for (const auto& [column, value] : values)
            bindCell(stmt.get(), parameter++, value);
        step(stmt.get());
        auto row = readRow(table, sqlite3_last_insert_rowid(handle()), readColumns);
        if (!row)
            throw ConflictError();
        written = std::move(*row);
    });
    return written;
}

void Connection::appendRows(const QByteArray& table, const std::vector<QByteArray>& columns, const detail::RowFeed& next)
{
    ColumnValues shape;
    for (const QByteArray& column : columns)
        shape.emplace_back(column, Cell::null());
    const Statement stmt = prepare(insertStatement(Table{"main", table}, shape, [](int) { return QByteArray("?"); }));
    std::vector<OwnedCell> row;
    while (next(row)) {
        sqlite3_reset(stmt.get());
        int parameter = 1;
        for (const OwnedCell& value : row)
            bindCell(stmt.get(), parameter++, value.view());
        step(stmt.get());
    }
}

std::optional<std::vector<OwnedCell>> Connection::updateRow(const Table& table, std::int64_t key,
                                                            const ColumnValues& values, const ColumnValues& checks,
                                                            const std::vector<QByteArray>& readColumns)
{
    QByteArray assignments;
    QByteArray conditions;
    for (const auto& [column, value] : values)
        assignments += (assignments.isEmpty() ? "" : ", ") + quoted(column) + " = ?";
    for (const auto& [column, value] : checks)
        conditions += " AND " + quoted(column) + " IS ?";
    const QByteArray sql = "UPDATE " + tableName(table) + " SET " + assignments + " WHERE _rowid_ = ?" + conditions;

    std::optional<std::vector<OwnedCell>> written;
    writeTransaction([&] {
        Statement stmt = prepare(sql);
        int parameter = 1;
        for (const auto& [column, value] : values)
            bindCell(stmt.get(), parameter++, value);
        sqlite3_bind_int64(stmt.get(), parameter++, key);
        for (const auto& [column, value] : checks)
            bindCell(stmt.get(), parameter++, value);
        step(stmt.get());
        if (sqlite3_changes(handle()) == 0) {
            written.reset();
            return;
        }
        written = readRow(table, key, readColumns);
    });
    return written;
}

std::unique_ptr<detail::RowDeleter> Connection::rowDeleter(const Table& table,
                                                           const std::vector<QByteArray>& checkedColumns)
{
    return std::make_unique<SqliteRowDeleter>(*this, table, checkedColumns);
}

} // namespace store
