#include "store/RecordSet.h"

#include <optional>

#include <sqlite3.h>

#include "store/AsciiCase.h"
#include "store/Connection.h"
#include "store/RowBuffer.h"
#include "store/StatementShape.h"
#include "store/StoreError.h"
#include "store/Values.h"

namespace store {

using detail::Cell;
using detail::OwnedCell;

namespace {

struct Field {
    QString name;
    detail::FieldType type;
    QByteArray database; // where the value comes from; empty for an expression
    QByteArray table;
    QByteArray column;
};

QByteArray utf8(const char* text)
{
    return text ? QByteArray(text) : QByteArray();
}

QByteArray quoted(const QByteArray& name)
{
    QByteArray q = name;
    q.replace('"', "\"\"");
    return '"' + q + '"';
}

std::vector<Field> describeColumns(sqlite3_stmt* stmt, int first)
{
    std::vector<Field> fields;
    const int count = sqlite3_column_count(stmt);
    for (int c = first; c < count; ++c) {
        Field field;
        field.name = QString::fromUtf8(sqlite3_column_name(stmt, c));
        field.database = utf8(sqlite3_column_database_name(stmt, c));
        field.table = utf8(sqlite3_column_table_name(stmt, c));
        field.column = utf8(sqlite3_column_origin_name(stmt, c));
        if (!field.table.isEmpty()) {
            field.type.known = true;
            field.type.kind = columnKind(QString::fromUtf8(field.table), QString::fromUtf8(field.column));
        }
        fields.push_back(std::move(field));
    }
    return fields;
}

// Every field read straight from a column of one and the same table.
bool fromOneTable(const std::vector<Field>& fields)
{
    if (fields.empty() || fields.front().table.isEmpty())
        return false;
    for (const Field& field : fields) {
        if (field.table != fields.front().table || field.database != fields.front().database)
            return false;
    }
    return true;
}

bool sameOrigins(const std::vector<Field>& a, const std::vector<Field>& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].name != b[i].name || a[i].table != b[i].table || a[i].column != b[i].column || a[i].database != b[i].database)
            return false;
    }
    return true;
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

} // namespace

struct RecordSet::Impl final : TransactionWatcher {
    enum class Mode { Browsing, Editing, Adding };

    std::shared_ptr<Connection> connection;
    std::vector<Field> fields;
    detail::RowBuffer rows;
    bool updatable = false; // rows carry their rowid as a hidden first cell
    std::size_t position = 0;
    Mode mode = Mode::Browsing;
    std::vector<std::optional<OwnedCell>> pending;
    // The delete of deleteCurrent() and the columns it checks, prepared once: clearing
    // many rows runs it per row.
    Statement deleteStatement;
    std::vector<std::pair<QByteArray, int>> deleteChecks;
    // The rows as they were before this set first changed them inside the connection's
    // open transaction, given back when that transaction is rolled back.
    struct Snapshot {
        detail::RowBuffer rows;
        std::size_t position = 0;
    };
    std::unique_ptr<Snapshot> beforeTransaction;

    ~Impl() { if (connection) connection->forget(this); }
    void keepRowsForRollback();
    void transactionEnded(bool committed) noexcept override;

    void open(const QString& sql);
    Statement prepareUpdatable(const QByteArray& statementText, std::size_t afterSelect) const;
    void fetch(sqlite3_stmt* stmt);

    std::size_t firstField() const { return updatable ? 1 : 0; }
    std::int64_t rowidAt(std::size_t row) const { return rows.cell(row, 0).integer; }
    Cell storedCell(std::size_t row, int field) const { return rows.cell(row, firstField() + std::size_t(field)); }

    void checkField(int field) const;
    void checkUpdatable() const;
    bool onRow() const { return mode == Mode::Adding || position < rows.rowCount(); }
    QVariant current(int field) const;
    void startEditing(Mode newMode);
    void leavePending() { mode = Mode::Browsing; pending.clear(); }

    QByteArray tableName() const { return quoted(fields.front().database) + '.' + quoted(fields.front().table); }
    // The distinct columns behind the fields, in field order, each with the first field
    // that reads it.
    std::vector<std::pair<QByteArray, int>> columns(bool onlyPending) const;
    std::vector<OwnedCell> reread(std::int64_t rowid) const;
    // Binds the pending values of these columns from parameter 1 on; the next free one.
    int bindPending(sqlite3_stmt* stmt, const std::vector<std::pair<QByteArray, int>>& changed) const;
    // Starts a row in the buffer holding these cells; the caller appends or replaces it.
    void packRow(const std::vector<OwnedCell>& cells);
    void insertPending();
    void updatePending();
};

void RecordSet::Impl::keepRowsForRollback()
{
    if (!connection->inTransaction() || beforeTransaction)
        return;
    auto snapshot = std::make_unique<Snapshot>();
    snapshot->rows.copyFrom(rows);
    snapshot->position = position;
    beforeTransaction = std::move(snapshot);
    connection->watchTransaction(this);
}

void RecordSet::Impl::transactionEnded(bool committed) noexcept
{
    if (!committed && beforeTransaction) {
        rows.swap(beforeTransaction->rows);
        position = beforeTransaction->position;
        if (mode == Mode::Adding)
            leavePending();
    }
    beforeTransaction.reset();
}

void RecordSet::Impl::open(const QString& sql)
{
    if (sql.contains(QChar(0)))
        throw StoreError(QStringLiteral("语句中含有空字符（U+0000）"));
    const QByteArray text = sql.toUtf8();
    qsizetype tail = 0;
    Statement stmt;
    // Reading the tables' definitions waits like any read for a writer that is committing.
    connection->retryWhileBusy([&] { stmt = connection->prepare(text, &tail); });
    if (!stmt)
        throw StoreError(QStringLiteral("语句是空的"));

    // One statement per call: whatever follows the first one is refused before anything
    // runs, so a typed text cannot smuggle in a second statement.
    for (QByteArray rest = text.mid(tail); !rest.isEmpty();) {
        qsizetype next = 0;
        if (connection->prepare(rest, &next))
            throw StoreError(QStringLiteral("一次只能执行一条语句，第一条语句后面还有：%1")
                                 .arg(QString::fromUtf8(rest).trimmed()));
        if (next <= 0)
            break;
        rest = rest.mid(next);
    }

    if (sqlite3_column_count(stmt.get()) == 0) {
        // Not a query: it runs and leaves an empty set that cannot be updated.
        connection->retryWhileBusy([&] {
            sqlite3_reset(stmt.get());
            connection->step(stmt.get());
        });
        return;
    }

    fields = describeColumns(stmt.get(), 0);
    const QByteArray statementText = text.left(tail);
    const detail::StatementShape shape = detail::analyseStatement(statementText);
    if (sqlite3_stmt_readonly(stmt.get()) && shape.rowsAreTableRows && fromOneTable(fields)) {
        if (Statement withRowid = prepareUpdatable(statementText, std::size_t(shape.afterSelect))) {
            stmt = std::move(withRowid);
            updatable = true;
        }
    }
    fetch(stmt.get());
}

// The caller's statement again with the rowid as a hidden first column, when the engine
// confirms that the rowid is that of the table every field comes from.
Statement RecordSet::Impl::prepareUpdatable(const QByteArray& statementText, std::size_t afterSelect) const
{
    const QByteArray withRowid = statementText.left(qsizetype(afterSelect)) + " _rowid_," + statementText.mid(qsizetype(afterSelect));
    Statement stmt;
    try {
        stmt = connection->prepare(withRowid);
    } catch (const StoreError&) {
        return {};
    }
    if (!stmt || sqlite3_column_count(stmt.get()) != int(fields.size()) + 1)
        return {};
    const std::vector<Field> hidden = describeColumns(stmt.get(), 0);
    const Field& rowid = hidden.front();
    if (rowid.table != fields.front().table || rowid.database != fields.front().database || rowid.column != "rowid")
        return {};
    if (!sameOrigins(describeColumns(stmt.get(), 1), fields))
        return {};
    return stmt;
}

void RecordSet::Impl::fetch(sqlite3_stmt* stmt)
{
    const int count = sqlite3_column_count(stmt);
    bool started = false;
    connection->retryWhileBusy([&] {
        sqlite3_reset(stmt);
        try {
            while (connection->step(stmt)) {
                started = true;
                rows.beginRow();
                for (int c = 0; c < count; ++c)
                    storeColumn(rows, stmt, c);
                rows.appendRow();
            }
        } catch (const BusyError& busy) {
            if (started) // rows are in already: running the statement again would double them
                throw StoreError(busy.message());
            throw;
        }
    });
    rows.shrinkToFit();
}

void RecordSet::Impl::checkField(int field) const
{
    if (field < 0 || std::size_t(field) >= fields.size())
        throw StoreError(QStringLiteral("记录集没有第 %1 个字段（共 %2 个）").arg(field).arg(fields.size()));
}

void RecordSet::Impl::checkUpdatable() const
{
    if (!updatable)
        throw StoreError(QStringLiteral("记录集不能更新：只有从单个表逐行读取的查询才能写回。"));
}

QVariant RecordSet::Impl::current(int field) const
{
    if (mode != Mode::Browsing && pending[std::size_t(field)])
        return detail::toVariant(pending[std::size_t(field)]->view(), fields[std::size_t(field)].type);
    if (mode == Mode::Adding)
        return {};
    if (position >= rows.rowCount())
        throw StoreError(QStringLiteral("没有当前记录：已在记录集的末尾，或记录集没有记录。"));
    return detail::toVariant(storedCell(position, field), fields[std::size_t(field)].type);
}

void RecordSet::Impl::startEditing(Mode newMode)
{
    mode = newMode;
    pending.assign(fields.size(), std::nullopt);
}

std::vector<std::pair<QByteArray, int>> RecordSet::Impl::columns(bool onlyPending) const
{
    std::vector<std::pair<QByteArray, int>> result;
    for (std::size_t f = 0; f < fields.size(); ++f) {
        if (onlyPending && !pending[f])
            continue;
        bool seen = false;
        for (auto& [column, field] : result) {
            if (column == fields[f].column) {
                seen = true;
                if (onlyPending)
                    field = int(f); // of two fields on one column, the last one set wins
            }
        }
        if (!seen)
            result.emplace_back(fields[f].column, int(f));
    }
    return result;
}

// The row as it now stands in the file, cells in field order with the rowid first.
std::vector<OwnedCell> RecordSet::Impl::reread(std::int64_t rowid) const
{
    QByteArray sql = "SELECT _rowid_";
    for (const Field& field : fields)
        sql += ", " + quoted(field.column);
    sql += " FROM " + tableName() + " WHERE _rowid_ = ?";
    Statement stmt = connection->prepare(sql);
    sqlite3_bind_int64(stmt.get(), 1, rowid);
    if (!connection->step(stmt.get()))
        throw ConflictError();
    std::vector<OwnedCell> cells;
    for (int c = 0; c <= int(fields.size()); ++c)
        cells.push_back(OwnedCell::fromColumn(stmt.get(), c));
    return cells;
}

int RecordSet::Impl::bindPending(sqlite3_stmt* stmt,
                                  const std::vector<std::pair<QByteArray, int>>& changed) const
{
    int parameter = 1;
    for (const auto& [column, field] : changed)
        detail::bindCell(stmt, parameter++, pending[std::size_t(field)]->view());
    return parameter;
}

void RecordSet::Impl::packRow(const std::vector<OwnedCell>& cells)
{
    rows.beginRow();
    for (const OwnedCell& cell : cells)
        rows.put(cell.view());
}

void RecordSet::Impl::insertPending()
{
    const auto changed = columns(true);
    QByteArray sql = "INSERT INTO " + tableName();
    if (changed.empty()) {
        sql += " DEFAULT VALUES";
    } else {
        QByteArray names;
        QByteArray marks;
        for (const auto& [column, field] : changed) {
            names += (names.isEmpty() ? "" : ", ") + quoted(column);
            marks += marks.isEmpty() ? "?" : ", ?";
        }
        sql += " (" + names + ") VALUES (" + marks + ")";
    }

    keepRowsForRollback();
    std::vector<OwnedCell> written;
    connection->writeTransaction([&] {
        Statement stmt = connection->prepare(sql);
        bindPending(stmt.get(), changed);
        connection->step(stmt.get());
        written = reread(sqlite3_last_insert_rowid(connection->handle()));
    });

    packRow(written);
    rows.appendRow();
    leavePending();
    position = rows.rowCount() - 1;
}

void RecordSet::Impl::updatePending()
{
    const auto changed = columns(true);
    if (changed.empty()) {
        leavePending();
        return;
    }
    const std::int64_t rowid = rowidAt(position);
    QByteArray assignments;
    QByteArray checks;
    for (const auto& [column, field] : changed) {
        assignments += (assignments.isEmpty() ? "" : ", ") + quoted(column) + " = ?";
        checks += " AND " + quoted(column) + " IS ?";
    }
    const QByteArray sql = "UPDATE " + tableName() + " SET " + assignments + " WHERE _rowid_ = ?" + checks;

    // The values as they were read (every field on a column read the same value).
    std::vector<OwnedCell> originals;
    for (const auto& [column, field] : changed)
        originals.push_back(OwnedCell::from(storedCell(position, field)));

    keepRowsForRollback();
    std::vector<OwnedCell> written;
    connection->writeTransaction([&] {
        Statement stmt = connection->prepare(sql);
        int parameter = bindPending(stmt.get(), changed);
        sqlite3_bind_int64(stmt.get(), parameter++, rowid);
        for (const OwnedCell& original : originals)
            detail::bindCell(stmt.get(), parameter++, original.view());
        connection->step(stmt.get());
        if (sqlite3_changes(connection->handle()) == 0)
            throw ConflictError();
        written = reread(rowid);
    });

    packRow(written);
    rows.replaceRow(position);
    leavePending();
}

RecordSet::RecordSet(std::shared_ptr<Connection> connection, const QString& sql) : d(std::make_unique<Impl>())
{
    d->connection = std::move(connection);
    d->open(sql);
}

RecordSet::~RecordSet() = default;

int RecordSet::fieldCount() const
{
    return int(d->fields.size());
}

QString RecordSet::fieldName(int field) const
{
    d->checkField(field);
    return d->fields[std::size_t(field)].name;
}

int RecordSet::fieldIndex(const QString& name) const
{
    for (std::size_t f = 0; f < d->fields.size(); ++f) {
        if (d->fields[f].name == name)
            return int(f);
    }
    for (std::size_t f = 0; f < d->fields.size(); ++f) {
        if (detail::equalsIgnoringAsciiCase(d->fields[f].name, name))
            return int(f);
    }
    return -1;
}

ColumnKind RecordSet::fieldKind(int field) const
{
    d->checkField(field);
    return d->fields[std::size_t(field)].type.kind;
}

bool RecordSet::updatable() const
{
    return d->updatable;
}

std::size_t RecordSet::rowCount() const
{
    return d->rows.rowCount();
}

bool RecordSet::atEnd() const
{
    return !d->onRow();
}

bool RecordSet::atStart() const
{
    return d->rows.rowCount() == 0 && d->mode != Impl::Mode::Adding;
}

void RecordSet::first()
{
    moveTo(0);
}

void RecordSet::next()
{
    if (editing())
        update();
    d->position = std::min(d->position + 1, rowCount());
}

void RecordSet::moveTo(std::size_t row)
{
    if (row > rowCount())
        throw StoreError(QStringLiteral("没有第 %1 条记录（共 %2 条）").arg(row + 1).arg(rowCount()));
    if (editing())
        update();
    d->position = row;
}

std::size_t RecordSet::position() const
{
    return d->mode == Impl::Mode::Adding ? rowCount() : d->position;
}

QVariant RecordSet::value(int field) const
{
    d->checkField(field);
    return d->current(field);
}

QVariant RecordSet::value(const QString& name) const
{
    const int field = fieldIndex(name);
    if (field < 0)
        throw StoreError(QStringLiteral("记录集中没有字段“%1”").arg(name));
    return d->current(field);
}

void RecordSet::setValue(int field, const QVariant& value)
{
    d->checkField(field);
    d->checkUpdatable();
    if (!d->onRow())
        throw StoreError(QStringLiteral("没有当前记录：已在记录集的末尾，或记录集没有记录。"));
    const Field& f = d->fields[std::size_t(field)];
    OwnedCell stored = detail::toStored(value, f.type.kind, f.name);
    if (d->mode == Impl::Mode::Browsing)
        d->startEditing(Impl::Mode::Editing);
    d->pending[std::size_t(field)] = std::move(stored);
}

void RecordSet::setValue(const QString& name, const QVariant& value)
{
    const int field = fieldIndex(name);
    if (field < 0)
        throw StoreError(QStringLiteral("记录集中没有字段“%1”").arg(name));
    setValue(field, value);
}

QVariant RecordSet::valueAt(std::size_t row, int field) const
{
    d->checkField(field);
    if (row >= rowCount())
        throw StoreError(QStringLiteral("没有第 %1 条记录（共 %2 条）").arg(row + 1).arg(rowCount()));
    if (d->mode == Impl::Mode::Editing && row == d->position)
        return d->current(field);
    return detail::toVariant(d->storedCell(row, field), d->fields[std::size_t(field)].type);
}

void RecordSet::addNew()
{
    d->checkUpdatable();
    if (editing())
        update();
    d->startEditing(Impl::Mode::Adding);
}

void RecordSet::update()
{
    switch (d->mode) {
    case Impl::Mode::Browsing:
        return;
    case Impl::Mode::Adding:
        d->insertPending();
        return;
    case Impl::Mode::Editing:
        d->updatePending();
        return;
    }
}

void RecordSet::cancelUpdate()
{
    d->leavePending();
}

bool RecordSet::editing() const
{
    return d->mode != Impl::Mode::Browsing;
}

void RecordSet::deleteCurrent()
{
    d->checkUpdatable();
    if (d->mode == Impl::Mode::Adding) {
        // The new row was never written: dropping it is all there is to do.
        d->leavePending();
        return;
    }
    if (!d->onRow())
        throw StoreError(QStringLiteral("没有当前记录：已在记录集的末尾，或记录集没有记录。"));
    d->leavePending();

    // Every value read must still be there: a row that another writer changed, deleted,
    // or deleted and replaced under the same rowid is not deleted.
    if (!d->deleteStatement) {
        d->deleteChecks = d->columns(false);
        QByteArray sql = "DELETE FROM " + d->tableName() + " WHERE _rowid_ = ?";
        for (const auto& column : d->deleteChecks)
            sql += " AND " + quoted(column.first) + " IS ?";
        d->deleteStatement = d->connection->prepare(sql);
    }
    sqlite3_stmt* stmt = d->deleteStatement.get();
    const std::size_t row = d->position;
    d->keepRowsForRollback();
    d->connection->writeTransaction([&] {
        sqlite3_reset(stmt);
        sqlite3_bind_int64(stmt, 1, d->rowidAt(row));
        int parameter = 2;
        // The row's bytes stay where they are until the statement is reset.
        for (const auto& column : d->deleteChecks)
            detail::bindCell(stmt, parameter++, d->storedCell(row, column.second), false);
        const auto unbind = [stmt] { sqlite3_reset(stmt); sqlite3_clear_bindings(stmt); };
        try {
            d->connection->step(stmt);
        } catch (...) {
            unbind();
            throw;
        }
        unbind();
        if (sqlite3_changes(d->connection->handle()) == 0)
            throw ConflictError();
    });
    d->rows.removeRow(row);
}

void RecordSet::inOneTransaction(const std::function<void()>& body)
{
    d->connection->writeTransaction(body);
}

std::unique_ptr<RecordSet> RecordSet::esql(const QString& sql) const
{
    return std::make_unique<RecordSet>(d->connection, sql);
}

bool RecordSet::reread(std::size_t row)
{
    if (row >= rowCount())
        throw StoreError(QStringLiteral("没有第 %1 条记录（共 %2 条）").arg(row + 1).arg(rowCount()));
    d->checkUpdatable();
    if (d->mode == Impl::Mode::Editing && row == d->position)
        d->leavePending();
    const std::int64_t rowid = d->rowidAt(row);
    std::optional<std::vector<OwnedCell>> now;
    d->connection->retryWhileBusy([&] {
        try {
            now = d->reread(rowid);
        } catch (const ConflictError&) {
            now.reset(); // no row with that rowid any more
        }
    });
    d->keepRowsForRollback();
    if (!now) {
        d->rows.removeRow(row);
        if (d->position > row)
            --d->position;
        return false;
    }
    d->packRow(*now);
    d->rows.replaceRow(row);
    return true;
}

std::size_t RecordSet::storageBytes() const
{
    return d->rows.storageBytes();
}

} // namespace store
