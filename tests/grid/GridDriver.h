#pragma once

#include <QApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QTest>

#include "platform/grid/DataGrid.h"
#include "platform/grid/RecordSetModel.h"

namespace gridtest {

// Works a data grid with the keyboard, as a user would.
inline QModelIndex cell(platform::DataGrid& grid, int row, int column)
{
    return grid.model()->index(row, column);
}

inline QString shown(platform::DataGrid& grid, int row, int column)
{
    return cell(grid, row, column).data(Qt::DisplayRole).toString();
}

// F2 on the cell, the editor's text replaced by `text`, Enter. False when no editor opened.
inline bool typeInto(platform::DataGrid& grid, int row, int column, const QString& text)
{
    QTableView* view = grid.view();
    const QModelIndex index = cell(grid, row, column);
    view->setCurrentIndex(index);
    QTest::keyClick(view, Qt::Key_F2);
    auto* editor = qobject_cast<QLineEdit*>(view->indexWidget(index));
    if (!editor)
        return false;
    editor->selectAll();
    if (text.isEmpty())
        QTest::keyClick(editor, Qt::Key_Delete);
    else
        QTest::keyClicks(editor, text);
    QTest::keyClick(editor, Qt::Key_Return);
    // The delegate commits the editor's text through a queued call.
    QCoreApplication::processEvents();
    return true;
}

// A mouse click on the row's selector (its header at the left), which selects the row.
inline void clickRowSelector(platform::DataGrid& grid, int row)
{
    QHeaderView* selectors = grid.view()->verticalHeader();
    const QPoint middle(selectors->width() / 2, selectors->sectionViewportPosition(row) + selectors->sectionSize(row) / 2);
    QTest::mouseClick(selectors->viewport(), Qt::LeftButton, {}, middle);
}

// A mouse click in the middle of a cell, which makes it current and selects that cell.
inline void clickCell(platform::DataGrid& grid, int row, int column)
{
    QTableView* view = grid.view();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(cell(grid, row, column)).center());
}

// The row selected through its selector, then the Delete key.
inline void pressDelete(platform::DataGrid& grid, int row)
{
    clickRowSelector(grid, row);
    QTest::keyClick(grid.view(), Qt::Key_Delete);
}

inline void pressSpace(platform::DataGrid& grid, int row, int column)
{
    grid.view()->setCurrentIndex(cell(grid, row, column));
    QTest::keyClick(grid.view(), Qt::Key_Space);
}

} // namespace gridtest
