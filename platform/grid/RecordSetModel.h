#pragma once

#include <QAbstractTableModel>

namespace store {
class RecordSet;
}

namespace platform {

// A table model over a record set that someone else keeps. Columns are the set's fields
// in order, headed by their names; rows are the set's rows in its order, read on demand
// (nothing is made per row). Where allowed, an edited cell is written at once through the
// set, an extra empty row at the end adds a row when a cell of it is filled, and a row can
// be deleted. A write the database refuses is cancelled: the cell shows the stored value
// again and refused() tells why. After a conflict (another program changed or deleted the
// row) the row is read again from the file and shows what is there now, or is dropped
// when it is gone. An edit that leaves the text as it was writes nothing. A yes/no field
// is a check box without text; its accessible text names the column and the state.
class RecordSetModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit RecordSetModel(QObject* parent = nullptr);

    void setRecordSet(store::RecordSet* set);   // not owned; nullptr shows nothing
    store::RecordSet* recordSet() const { return set_; }
    void reload();                              // the set changed behind the model's back

    void setAllowEdit(bool allow);
    void setAllowAdd(bool allow);
    void setAllowDelete(bool allow);
    bool allowEdit() const { return allowEdit_; }
    bool allowAdd() const { return allowAdd_; }
    bool allowDelete() const { return allowDelete_; }

    int storedRowCount() const { return rows_; }
    bool isAddRow(int row) const;
    // Deletes a stored row at once; false when not allowed or refused.
    bool deleteRow(int row);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

    // The text a value is shown as (numbers without separators, doubles with up to 15
    // significant digits, text and dates as stored).
    static QString displayText(const QVariant& value);

signals:
    void refused(const QString& reason);

private:
    bool writable() const;
    bool isYesNo(int field) const;
    QVariant toStored(int field, const QVariant& value, int role) const;
    bool writeCell(int row, int field, const QVariant& value);
    bool unchanged(const QModelIndex& index, const QVariant& value, int role) const;
    // Shows the row as the file now holds it; the reason to tell, with the row's fate.
    QString showStoredRow(int row, const QString& reason);
    void setAddRowShown(bool shown);

    store::RecordSet* set_ = nullptr;
    int rows_ = 0;
    int fields_ = 0;
    bool addRowShown_ = false;
    bool allowEdit_ = false;
    bool allowAdd_ = false;
    bool allowDelete_ = false;
};

} // namespace platform
