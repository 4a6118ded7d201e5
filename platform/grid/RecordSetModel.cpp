#include "platform/grid/RecordSetModel.h"

#include <algorithm>
#include <climits>
#include <exception>

#include "store/RecordSet.h"
#include "store/StoreError.h"

namespace platform {

RecordSetModel::RecordSetModel(QObject* parent) : QAbstractTableModel(parent) {}

void RecordSetModel::setRecordSet(store::RecordSet* set)
{
    beginResetModel();
    set_ = set;
    rows_ = set_ ? static_cast<int>(std::min<std::size_t>(set_->rowCount(), INT_MAX - 1)) : 0;
    fields_ = set_ ? set_->fieldCount() : 0;
    addRowShown_ = allowAdd_ && writable();
    endResetModel();
}

void RecordSetModel::reload()
{
    setRecordSet(set_);
}

bool RecordSetModel::writable() const
{
    return set_ && set_->updatable();
}

void RecordSetModel::setAllowEdit(bool allow)
{
    allowEdit_ = allow;
    if (rowCount() > 0)
        emit dataChanged(index(0, 0), index(rowCount() - 1, fields_ - 1));
}

void RecordSetModel::setAllowAdd(bool allow)
{
    allowAdd_ = allow;
    setAddRowShown(allowAdd_ && writable());
}

void RecordSetModel::setAllowDelete(bool allow)
{
    allowDelete_ = allow;
}

void RecordSetModel::setAddRowShown(bool shown)
{
    if (shown == addRowShown_)
        return;
    if (shown) {
        beginInsertRows({}, rows_, rows_);
        addRowShown_ = true;
        endInsertRows();
    } else {
        beginRemoveRows({}, rows_, rows_);
        addRowShown_ = false;
        endRemoveRows();
    }
}

bool RecordSetModel::isAddRow(int row) const
{
    return addRowShown_ && row == rows_;
}

int RecordSetModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : rows_ + (addRowShown_ ? 1 : 0);
}

int RecordSetModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : fields_;
}

bool RecordSetModel::isYesNo(int field) const
{
    return set_->fieldKind(field) == store::ColumnKind::YesNo;
}

QString RecordSetModel::displayText(const QVariant& value)
{
    if (value.isNull())
        return {};
    switch (value.typeId()) {
    case QMetaType::Double:
        return QString::number(value.toDouble(), 'G', 15);
    case QMetaType::Float:
        return QString::number(value.toFloat(), 'G', 7);
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    default:
        return value.toString();
    }
}

QVariant RecordSetModel::data(const QModelIndex& index, int role) const
{
    if (!set_ || !index.isValid() || index.column() >= fields_)
        return {};
    const int field = index.column();
    const bool addRow = isAddRow(index.row());
    if (isYesNo(field)) {
        if (role != Qt::CheckStateRole && role != Qt::AccessibleTextRole)
            return {};
        const bool checked = !addRow && set_->valueAt(static_cast<std::size_t>(index.row()), field).toBool();
        if (role == Qt::AccessibleTextRole)   // the box shows no text for a screen reader to read
            return set_->fieldName(field) + (checked ? QStringLiteral("：是") : QStringLiteral("：否"));
        return checked ? Qt::Checked : Qt::Unchecked;
    }
    if (role != Qt::DisplayRole && role != Qt::EditRole)
        return {};
    if (addRow)
        return QString();
    return displayText(set_->valueAt(static_cast<std::size_t>(index.row()), field));
}

QVariant RecordSetModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || !set_)
        return {};
    if (orientation == Qt::Horizontal)
        return section < fields_ ? set_->fieldName(section) : QVariant();
    // The row selectors: blank, the row that adds a record marked as in the old grids.
    return isAddRow(section) ? QStringLiteral("*") : QString();
}

Qt::ItemFlags RecordSetModel::flags(const QModelIndex& index) const
{
    if (!set_ || !index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
    const bool mayWrite = writable() && (isAddRow(index.row()) ? allowAdd_ : allowEdit_);
    if (!mayWrite)
        return flags;
    if (isYesNo(index.column()))
        return flags | Qt::ItemIsUserCheckable;
    return flags | Qt::ItemIsEditable;
}

QVariant RecordSetModel::toStored(int field, const QVariant& value, int role) const
{
    if (role == Qt::CheckStateRole)
        return value.toInt() == Qt::Checked;
    // The editor gives text; the database converts it to the column's kind or refuses it.
    const QString text = value.toString();
    const store::ColumnKind kind = set_->fieldKind(field);
    if (text.isEmpty() && kind != store::ColumnKind::Text && kind != store::ColumnKind::UserName)
        return {};
    return text;
}

bool RecordSetModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || !(flags(index) & (Qt::ItemIsEditable | Qt::ItemIsUserCheckable)))
        return false;
    const int field = index.column();
    const bool checkRole = role == Qt::CheckStateRole;
    if (checkRole != isYesNo(field) || (!checkRole && role != Qt::EditRole))
        return false;
    if (isAddRow(index.row()) && !checkRole && value.toString().isEmpty())
        return false;   // nothing typed into the empty row: no row to add
    if (!isAddRow(index.row()) && unchanged(index, value, role))
        return true;    // an editor left as it was writes nothing
    return writeCell(index.row(), field, toStored(field, value, role));
}

bool RecordSetModel::unchanged(const QModelIndex& index, const QVariant& value, int role) const
{
    if (role == Qt::CheckStateRole)
        return data(index, Qt::CheckStateRole).toInt() == value.toInt();
    return data(index, Qt::EditRole).toString() == value.toString();
}

QString RecordSetModel::showStoredRow(int row, const QString& reason)
{
    bool stillThere = true;
    try {
        stillThere = set_->reread(static_cast<std::size_t>(row));
    } catch (const horavo::Failure&) {
        // The row cannot be read now: it keeps showing what was read before.
        return reason;
    }
    if (stillThere) {
        emit dataChanged(index(row, 0), index(row, fields_ - 1));
        return reason;
    }
    beginRemoveRows({}, row, row);
    --rows_;
    endRemoveRows();
    return reason + QStringLiteral("\n这一行已不在数据库中（另一个程序删除了它），已从表格中去掉。");
}

bool RecordSetModel::writeCell(int row, int field, const QVariant& value)
{
    const bool adding = isAddRow(row);
    try {
        if (adding) {
            set_->addNew();
        } else {
            set_->moveTo(static_cast<std::size_t>(row));
        }
        set_->setValue(field, value);
        set_->update();
    } catch (const store::ConflictError& conflict) {
        if (set_->editing())
            set_->cancelUpdate();
        // What the file holds now is shown, so that the next edit of the row can succeed.
        emit refused(showStoredRow(row, conflict.message()));
        return false;
    } catch (const horavo::Failure& failure) {
        if (set_->editing())
            set_->cancelUpdate();
        emit dataChanged(index(row, 0), index(row, fields_ - 1));
        emit refused(failure.message());
        return false;
    }
    if (adding) {
        // The filled add row became a stored row; a new add row follows it.
        beginInsertRows({}, rows_ + 1, rows_ + 1);
        ++rows_;
        endInsertRows();
        emit headerDataChanged(Qt::Vertical, rows_ - 1, rows_);
    }
    emit dataChanged(index(row, 0), index(row, fields_ - 1));
    return true;
}

bool RecordSetModel::deleteRow(int row)
{
    if (!allowDelete_ || !writable() || row < 0 || row >= rows_)
        return false;
    try {
        set_->moveTo(static_cast<std::size_t>(row));
        set_->deleteCurrent();
    } catch (const store::ConflictError& conflict) {
        emit refused(showStoredRow(row, conflict.message()));
        return false;
    } catch (const horavo::Failure& failure) {
        if (set_->editing())
            set_->cancelUpdate();
        emit refused(failure.message());
        return false;
    }
    beginRemoveRows({}, row, row);
    --rows_;
    endRemoveRows();
    return true;
}

} // namespace platform
