#pragma once

#include <QTableView>
#include <QWidget>

class QLabel;

namespace store {
class RecordSet;
}

namespace platform {

class MessageBoxes;
class RecordSetModel;

// The table view of a data grid. Arrow keys move between cells; Tab, Shift+Tab and
// Ctrl+Tab leave the grid for the window's next or previous control; Shift+Space asks
// for the current cell's row to be selected as a whole, and the Delete key for the
// selected row's deletion.
class GridView final : public QTableView {
    Q_OBJECT
public:
    explicit GridView(QWidget* parent = nullptr);

signals:
    void rowSelectPressed(int row);
    void deletePressed();

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

// A data grid bound to a record set that the window keeps: the grid caption above a
// table of the set's rows. Read-only until edits, additions (through the empty row at
// the end) or deletions (Delete key on a row selected through its row selector or with
// Shift+Space, without asking) are allowed; each is written to the database at once, and
// a value the database refuses is reported in a message box and not kept.
class DataGrid final : public QWidget {
    Q_OBJECT
public:
    explicit DataGrid(MessageBoxes& boxes, QWidget* parent = nullptr);

    void setCaption(const QString& caption);
    QString caption() const;

    void setRecordSet(store::RecordSet* set);   // not owned; nullptr empties the grid
    store::RecordSet* recordSet() const;
    void refresh();                             // redraw after the set changed

    void setEditable(bool editable);            // edit, add and delete together
    void setAllowEdit(bool allow);
    void setAllowAdd(bool allow);
    void setAllowDelete(bool allow);

    GridView* view() const { return view_; }
    RecordSetModel* model() const { return model_; }
    QLabel* captionLabel() const { return caption_; }

private:
    void selectRecord(int row);
    void deleteSelectedRow();
    void sizeColumns();

    MessageBoxes& boxes_;
    QLabel* caption_;
    GridView* view_;
    RecordSetModel* model_;
};

} // namespace platform
