#include "store/RecordSet.h"

#include <optional>

#include "store/AsciiCase.h"
#include "store/Engine.h"
#include "store/RowBuffer.h"
#include "store/StoreError.h"
#include "store/Values.h"

namespace store {

using detail::Cell;
using detail::ColumnValues;
using detail::Field;
using detail::OwnedCell;

namespace {

QString noCurrentRow()
{
    return QStringLiteral("没有当前记录：已在记录集的末尾，或记录集没有记录。");
}

} // namespace

struct RecordSet::Impl final : TransactionWatcher {
    enum class Mode { Browsing, Editing, Adding };

    std::shared_ptr<Engine> engine;
    std::vector<Field> fields;
    detail::RowBuffer rows;
    bool updatable = false; // rows carry their key as a hidden first cell
    std::size_t position = 0;
    Mode mode = Mode::Browsing;
    std::vector<std::optional<OwnedCell>> pending;
    // The delete of deleteCurrent() and the columns it checks, made once: clearing many
    // rows runs it per row.
    std::unique_ptr<detail::RowDeleter> deleter;
    std::vector<std::pair<QByteArray, int>> deleteChecks;
    // The rows as they were before this set first changed them inside the connection's
    // open transaction, given back when that transaction is rolled back.
    struct Snapshot {
        detail::RowBuffer rows;
        std::size_t position = 0;
    };
    std::unique_ptr<Snapshot> beforeTransaction;

    ~Impl() { if (engine) engine->forget(this); }
    void keepRowsForRollback();
    void transactionEnded(bool committed) noexcept override;

    void open(const QString& sql, const QStringList& parameters);

    std::size_t firstField() const { return updatable ? 1 : 0; }
    std::int64_t keyAt(std::size_t row) const { return rows.cell(row, 0).integer; }
    Cell storedCell(std::size_t row, int field) const { return rows.cell(row, firstField() + std::size_t(field)); }

    void checkField(int field) const;
    void checkUpdatable() const;
    bool onRow() const { return mode == Mode::Adding || position < rows.rowCount(); }
    QVariant current(int field) const;
    void startEditing(Mode newMode);
    void leavePending() { mode = Mode::Browsing; pending.clear(); }

    const detail::Table& table() const { return fields.front().table; }
    // The distinct columns behind the fields, in field order, each with the first field
    // that reads it.
    std::vector<std::pair<QByteArray, int>> columns(bool onlyPending) const;
    std::vector<QByteArray> fieldColumns() const;
    ColumnValues pendingValues(const std::vector<std::pair<QByteArray, int>>& changed) const;
    // Starts a row in the buffer holding these cells; the caller appends or replaces it.
    void packRow(const std::vector<OwnedCell>& cells);
    void insertPending();
    void updatePending();
};

void RecordSet::Impl::keepRowsForRollback()
{
    if (!engine->inTransaction() || beforeTransaction)
        return;
    auto snapshot = std::make_unique<Snapshot>();
    snapshot->rows.copyFrom(rows);
    snapshot->position = position;
    beforeTransaction = std::move(snapshot);
    engine->watchTransaction(this);
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

void RecordSet::Impl::open(const QString& sql, const QStringList& parameters)
{
    if (sql.contains(QChar(0)))
        throw StoreError(QStringLiteral("语句中含有空字符（U+0000）"));
    detail::Opened opened = engine->run(sql, parameters, rows);
    fields = std::move(opened.fields);
    updatable = opened.updatable;
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
        throw StoreError(noCurrentRow());
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

std::vector<QByteArray> RecordSet::Impl::fieldColumns() const
{
    std::vector<QByteArray> result;
    result.reserve(fields.size());
    for (const Field& field : fields)
        result.push_back(field.column);
    return result;
}

ColumnValues RecordSet::Impl::pendingValues(const std::vector<std::pair<QByteArray, int>>& changed) const
{
    ColumnValues values;
    for (const auto& [column, field] : changed)
        values.emplace_back(column, pending[std::size_t(field)]->view());
    return values;
}

void RecordSet::Impl::packRow(const std::vector<OwnedCell>& cells)
{
    rows.beginRow();
    for (const OwnedCell& cell : cells)
        rows.put(cell.view());
}

void RecordSet::Impl::insertPending()
{
    keepRowsForRollback();
    const std::vector<OwnedCell> written = engine->insertRow(table(), pendingValues(columns(true)), fieldColumns());
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
    // The values as they were read (every field on a column read the same value).
    std::vector<OwnedCell> originals;
    for (const auto& [column, field] : changed)
        originals.push_back(OwnedCell::from(storedCell(position, field)));
    ColumnValues checks;
    for (std::size_t c = 0; c < changed.size(); ++c)
        checks.emplace_back(changed[c].first, originals[c].view());

    keepRowsForRollback();
    const auto written = engine->updateRow(table(), keyAt(position), pendingValues(changed), checks, fieldColumns());
    if (!written)
        throw ConflictError();
    packRow(*written);
    rows.replaceRow(position);
    leavePending();
}

RecordSet::RecordSet(std::shared_ptr<Engine> engine, const QString& sql, const QStringList& parameters)
    : d(std::make_unique<Impl>())
{
    d->engine = std::move(engine);
    d->open(sql, parameters);
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

std::int64_t RecordSet::key() const
{
    d->checkUpdatable();
    if (d->mode == Impl::Mode::Adding || d->position >= d->rows.rowCount())
        throw StoreError(noCurrentRow());
    return d->keyAt(d->position);
}

bool RecordSet::moveToKey(std::int64_t key)
{
    d->checkUpdatable();
    for (std::size_t row = d->rows.rowCount(); row-- > 0;) {
        if (d->keyAt(row) == key) {
            moveTo(row);
            return true;
        }
    }
    return false;
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
        throw StoreError(noCurrentRow());
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
        throw StoreError(noCurrentRow());
    d->leavePending();

    // Every value read must still be there: a row that another writer changed, deleted,
    // or deleted and replaced under the same key is not deleted.
    if (!d->deleter) {
        d->deleteChecks = d->columns(false);
        std::vector<QByteArray> checked;
        for (const auto& column : d->deleteChecks)
            checked.push_back(column.first);
        d->deleter = d->engine->rowDeleter(d->table(), checked);
    }
    const std::size_t row = d->position;
    std::vector<Cell> values;
    values.reserve(d->deleteChecks.size());
    for (const auto& column : d->deleteChecks)
        values.push_back(d->storedCell(row, column.second));
    d->keepRowsForRollback();
    if (!d->deleter->remove(d->keyAt(row), values))
        throw ConflictError();
    d->rows.removeRow(row);
}

void RecordSet::inOneTransaction(const std::function<void()>& body)
{
    d->engine->writeTransaction(body);
}

std::unique_ptr<RecordSet> RecordSet::esql(const QString& sql) const
{
    return std::make_unique<RecordSet>(d->engine, sql);
}

bool RecordSet::reread(std::size_t row)
{
    if (row >= rowCount())
        throw StoreError(QStringLiteral("没有第 %1 条记录（共 %2 条）").arg(row + 1).arg(rowCount()));
    d->checkUpdatable();
    if (d->mode == Impl::Mode::Editing && row == d->position)
        d->leavePending();
    const std::int64_t key = d->keyAt(row);
    std::optional<std::vector<OwnedCell>> now;
    d->engine->retryWhileBusy([&] { now = d->engine->readRow(d->table(), key, d->fieldColumns()); });
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
