#include "platform/grid/DataGrid.h"

#include <algorithm>

#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QVBoxLayout>

#include "platform/MessageBoxes.h"
#include "platform/grid/RecordSetModel.h"

namespace platform {

namespace {

// Columns are sized from their header and the first rows only, so that opening a grid
// over many rows reads no more than a screenful.
constexpr int kRowsSampledForWidth = 40;
constexpr int kMaximumColumnWidth = 320;

} // namespace

GridView::GridView(QWidget* parent) : QTableView(parent)
{
    // Tab belongs to the window's tab order, not to the cells: otherwise the controls
    // after a grid cannot be reached from the keyboard.
    setTabKeyNavigation(false);
}

void GridView::keyPressEvent(QKeyEvent* event)
{
    if (state() == EditingState) {
        QTableView::keyPressEvent(event);
        return;
    }
    const int key = event->key();
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    if (key == Qt::Key_Delete) {
        emit deletePressed();
    } else if (key == Qt::Key_Space && modifiers == Qt::ShiftModifier) {
        if (currentIndex().isValid())
            emit rowSelectPressed(currentIndex().row());
    } else if ((key == Qt::Key_Tab || key == Qt::Key_Backtab) && (modifiers & Qt::ControlModifier)) {
        // QWidget moves focus on Tab without Ctrl only; Ctrl+Tab leaves the grid too.
        const bool backwards = key == Qt::Key_Backtab || (modifiers & Qt::ShiftModifier);
        QTableView::focusNextPrevChild(!backwards);
    } else {
        QTableView::keyPressEvent(event);
        return;
    }
    event->accept();
}

DataGrid::DataGrid(MessageBoxes& boxes, QWidget* parent)
    : QWidget(parent), boxes_(boxes), caption_(new QLabel(this)), view_(new GridView(this)),
      model_(new RecordSetModel(this))
{
    caption_->setAlignment(Qt::AlignCenter);
    caption_->setFrameShape(QFrame::Panel);
    caption_->setFrameShadow(QFrame::Raised);
    caption_->setMargin(2);
    caption_->setAutoFillBackground(true);
    caption_->setBackgroundRole(QPalette::Button);
    caption_->setVisible(false);   // a grid without a caption shows no caption bar

    view_->setModel(model_);
    view_->setSelectionMode(QAbstractItemView::SingleSelection);
    view_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                           QAbstractItemView::AnyKeyPressed);
    view_->setWordWrap(false);
    view_->setAlternatingRowColors(false);

    // Every row has the same height and nothing is measured per row.
    QHeaderView* rows = view_->verticalHeader();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(view_->fontMetrics().height() + 8);
    rows->setMinimumWidth(view_->fontMetrics().horizontalAdvance(QLatin1Char('*')) + 16);
    rows->setDefaultAlignment(Qt::AlignCenter);
    view_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    view_->horizontalHeader()->setStretchLastSection(false);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(caption_);
    layout->addWidget(view_, 1);

    // A press on a row selector, or Shift+Space, selects the whole row: the row the
    // Delete key deletes. (The table view itself selects no row from its header in
    // single selection.)
    connect(rows, &QHeaderView::sectionPressed, this, &DataGrid::selectRecord);
    connect(view_, &GridView::rowSelectPressed, this, &DataGrid::selectRecord);
    connect(view_, &GridView::deletePressed, this, &DataGrid::deleteSelectedRow);
    connect(model_, &RecordSetModel::refused, this, [this](const QString& reason) { boxes_.show(reason); });
}

void DataGrid::setCaption(const QString& caption)
{
    caption_->setText(caption);
    caption_->setVisible(!caption.isEmpty());
}

QString DataGrid::caption() const
{
    return caption_->text();
}

void DataGrid::setRecordSet(store::RecordSet* set)
{
    model_->setRecordSet(set);
    sizeColumns();
}

store::RecordSet* DataGrid::recordSet() const
{
    return model_->recordSet();
}

void DataGrid::refresh()
{
    model_->reload();
    view_->viewport()->update();
}

void DataGrid::setEditable(bool editable)
{
    setAllowEdit(editable);
    setAllowAdd(editable);
    setAllowDelete(editable);
}

void DataGrid::setAllowEdit(bool allow)
{
    model_->setAllowEdit(allow);
}

void DataGrid::setAllowAdd(bool allow)
{
    model_->setAllowAdd(allow);
}

void DataGrid::setAllowDelete(bool allow)
{
    model_->setAllowDelete(allow);
}

void DataGrid::selectRecord(int row)
{
    if (row < 0 || row >= model_->rowCount() || model_->columnCount() == 0)
        return;
    const QModelIndex first = model_->index(row, 0);
    const QModelIndex last = model_->index(row, model_->columnCount() - 1);
    const int column = view_->currentIndex().isValid() ? view_->currentIndex().column() : 0;
    view_->selectionModel()->setCurrentIndex(model_->index(row, column), QItemSelectionModel::NoUpdate);
    view_->selectionModel()->select(QItemSelection(first, last), QItemSelectionModel::ClearAndSelect);
}

void DataGrid::deleteSelectedRow()
{
    // Only a row selected as a whole is deleted, never the row of a cell that is merely
    // current.
    const QModelIndexList selected = view_->selectionModel()->selectedRows();
    if (selected.size() != 1)
        return;
    model_->deleteRow(selected.front().row());
}

void DataGrid::sizeColumns()
{
    const QFontMetrics cells = view_->fontMetrics();
    const QFontMetrics headers = view_->horizontalHeader()->fontMetrics();
    const int sampled = std::min(model_->storedRowCount(), kRowsSampledForWidth);
    for (int column = 0; column < model_->columnCount(); ++column) {
        const QString header = model_->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
        int width = headers.horizontalAdvance(header) + 24;
        for (int row = 0; row < sampled; ++row) {
            const QString text = model_->data(model_->index(row, column), Qt::DisplayRole).toString();
            width = std::max(width, cells.horizontalAdvance(text) + 16);
        }
        view_->setColumnWidth(column, std::min(width, kMaximumColumnWidth));
    }
}

} // namespace platform
