#include <gtest/gtest.h>

#include <QHeaderView>
#include <QLabel>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTest>

#include "platform/grid/DataGrid.h"
#include "platform/grid/RecordSetModel.h"
#include "store/Esql.h"
#include "store/RecordSet.h"
#include "tests/doubles/ScriptedMessageBoxes.h"
#include "tests/doubles/TempDatabase.h"
#include "tests/grid/GridDriver.h"

using gridtest::shown;
using gridtest::typeInto;

namespace {

const QString usersSql = QStringLiteral("select iuser as 用户,passw as 密码,quanxian as 用户权限 from users");
const QString accountsSql =
    QStringLiteral("select kuser as 上网帐号,kpassw as 帐号密码,useyn as 使用与否 ,price as 单价元 from knumber");

class DataGridTest : public ::testing::Test {
protected:
    doubles::TempDatabase db;
    doubles::ScriptedMessageBoxes boxes;
    // The grid does not own the set it shows: the set must outlive it.
    std::unique_ptr<store::RecordSet> set;
    platform::DataGrid grid{boxes};

    void SetUp() override
    {
        db.exec(QStringLiteral("insert into users values ('admin','root',1),('ann','pw',2),('tom','t3',3)"));
        db.exec(QStringLiteral("insert into knumber values ('isp1','k1',0,2.5),('isp2','k2',1,0.3)"));
        grid.resize(500, 300);
    }

    void bind(const QString& sql, bool editable)
    {
        auto next = store::Esql(sql);
        grid.setRecordSet(next.get());
        set = std::move(next);
        grid.setEditable(editable);
        grid.show();
    }

    QStringList headers() const
    {
        QStringList all;
        for (int c = 0; c < grid.model()->columnCount(); ++c)
            all << grid.model()->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
        return all;
    }
};

TEST_F(DataGridTest, ShowsTheSetsFieldsAndRowsInItsOrder)
{
    bind(usersSql, false);
    EXPECT_FALSE(grid.captionLabel()->isVisible()) << "no caption, no caption bar";
    grid.setCaption(QStringLiteral("用 户 管 理"));
    bind(usersSql, false);

    EXPECT_EQ(grid.captionLabel()->text(), QStringLiteral("用 户 管 理"));
    EXPECT_TRUE(grid.captionLabel()->isVisible());
    EXPECT_EQ(headers(), (QStringList{QStringLiteral("用户"), QStringLiteral("密码"), QStringLiteral("用户权限")}));
    ASSERT_EQ(grid.model()->rowCount(), 3);
    EXPECT_EQ(shown(grid, 0, 0), QStringLiteral("admin"));
    EXPECT_EQ(shown(grid, 1, 0), QStringLiteral("ann"));
    EXPECT_EQ(shown(grid, 2, 1), QStringLiteral("t3"));
    EXPECT_EQ(shown(grid, 2, 2), QStringLiteral("3"));
    for (int c = 0; c < 3; ++c)
        EXPECT_GE(grid.view()->columnWidth(c), grid.view()->fontMetrics().horizontalAdvance(headers()[c]));
}

TEST_F(DataGridTest, DatesTimesAndPricesAsStored)
{
    db.exec(QStringLiteral("insert into internet values ('ann','2026-12-07',65,'09:05:00','10:09:59')"));
    bind(QStringLiteral("select iuser as 用户,idate as 日期,itime as 使用时间,stime as 上机时间,xtime as 下机时间 "
                        "from internet"),
         false);
    EXPECT_EQ(shown(grid, 0, 1), QStringLiteral("2026-12-07"));
    EXPECT_EQ(shown(grid, 0, 2), QStringLiteral("65"));
    EXPECT_EQ(shown(grid, 0, 3), QStringLiteral("09:05:00"));
    EXPECT_EQ(shown(grid, 0, 4), QStringLiteral("10:09:59"));

    bind(accountsSql, false);
    EXPECT_EQ(shown(grid, 0, 3), QStringLiteral("2.5"));
    EXPECT_EQ(shown(grid, 1, 3), QStringLiteral("0.3"));
}

TEST_F(DataGridTest, ReadOnlyGridChangesNothing)
{
    bind(usersSql, false);
    EXPECT_EQ(grid.model()->rowCount(), 3) << "no empty row for adding";
    EXPECT_FALSE(typeInto(grid, 1, 1, QStringLiteral("changed")));
    gridtest::pressDelete(grid, 1);
    gridtest::pressSpace(grid, 0, 0);
    EXPECT_EQ(grid.model()->rowCount(), 3);
    EXPECT_EQ(db.rows(QStringLiteral("select * from users")),
              (QStringList{QStringLiteral("admin|root|1"), QStringLiteral("ann|pw|2"), QStringLiteral("tom|t3|3")}));
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(DataGridTest, AChangedCellIsWrittenAtOnce)
{
    bind(usersSql, true);
    ASSERT_TRUE(typeInto(grid, 1, 1, QStringLiteral("newpw")));
    ASSERT_TRUE(typeInto(grid, 2, 2, QStringLiteral("7")));

    EXPECT_EQ(shown(grid, 1, 1), QStringLiteral("newpw"));
    EXPECT_EQ(db.rows(QStringLiteral("select * from users where iuser in ('ann','tom') order by iuser")),
              (QStringList{QStringLiteral("ann|newpw|2"), QStringLiteral("tom|t3|7")}));
    // A record set opened afterwards sees the change.
    const auto later = store::Esql(QStringLiteral("select * from users where iuser='tom'"));
    EXPECT_EQ(later->value(QStringLiteral("quanxian")).toLongLong(), 7);
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(DataGridTest, ARefusedValueIsReportedAndNotKept)
{
    bind(usersSql, true);
    ASSERT_TRUE(typeInto(grid, 1, 2, QStringLiteral("abc")));

    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_FALSE(boxes.last().prompt.isEmpty());
    EXPECT_EQ(boxes.last().title, QStringLiteral("Pomerix"));
    EXPECT_EQ(shown(grid, 1, 2), QStringLiteral("2"));
    EXPECT_FALSE(set->editing());
    EXPECT_EQ(db.scalar(QStringLiteral("select quanxian from users where iuser='ann'")).toLongLong(), 2);

    // The grid goes on working after a refusal.
    ASSERT_TRUE(typeInto(grid, 1, 2, QStringLiteral("4")));
    EXPECT_EQ(db.scalar(QStringLiteral("select quanxian from users where iuser='ann'")).toLongLong(), 4);
    EXPECT_EQ(boxes.shown.size(), 1u);
}

TEST_F(DataGridTest, AConflictShowsWhatTheFileHoldsSoThatTheNextEditAndDeleteGoThrough)
{
    bind(usersSql, true);
    db.exec(QStringLiteral("update users set passw='theirs', quanxian=3 where iuser='ann'"));

    ASSERT_TRUE(typeInto(grid, 1, 1, QStringLiteral("mine")));

    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_TRUE(boxes.last().prompt.startsWith(QStringLiteral("Row cannot be located for updating.")));
    EXPECT_EQ(db.scalar(QStringLiteral("select passw from users where iuser='ann'")).toString(),
              QStringLiteral("theirs"));
    EXPECT_EQ(shown(grid, 1, 1), QStringLiteral("theirs")) << "what the file holds now";
    EXPECT_EQ(shown(grid, 1, 2), QStringLiteral("3"));
    EXPECT_FALSE(set->editing());

    ASSERT_TRUE(typeInto(grid, 1, 1, QStringLiteral("mine")));
    EXPECT_EQ(boxes.shown.size(), 1u) << "the next edit of the column goes through";
    EXPECT_EQ(db.scalar(QStringLiteral("select passw from users where iuser='ann'")).toString(), QStringLiteral("mine"));

    db.exec(QStringLiteral("update users set quanxian=2 where iuser='ann'"));
    gridtest::pressDelete(grid, 1);
    ASSERT_EQ(boxes.shown.size(), 2u) << "the row changed again since it was read";
    EXPECT_EQ(shown(grid, 1, 2), QStringLiteral("2"));
    gridtest::pressDelete(grid, 1);
    EXPECT_EQ(boxes.shown.size(), 2u) << "Delete on the row read again goes through";
    EXPECT_EQ(db.rows(QStringLiteral("select iuser from users")), (QStringList{QStringLiteral("admin"), QStringLiteral("tom")}));
}

TEST_F(DataGridTest, AnEditOfARowGoneFromTheFileSaysSoAndDropsTheRow)
{
    bind(usersSql, true);
    db.exec(QStringLiteral("delete from users where iuser='ann'"));

    ASSERT_TRUE(typeInto(grid, 1, 1, QStringLiteral("mine")));

    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_TRUE(boxes.last().prompt.contains(QStringLiteral("已不在数据库中"))) << boxes.last().prompt.toStdString();
    EXPECT_EQ(grid.model()->rowCount(), 3) << "two rows and the empty row";
    EXPECT_EQ(shown(grid, 1, 0), QStringLiteral("tom"));
    EXPECT_EQ(set->rowCount(), 2u);
}

TEST_F(DataGridTest, LeavingAnEditorWithItsTextUnchangedWritesNothing)
{
    bind(usersSql, true);
    // A write now would be a conflict: the file no longer holds what was read.
    db.exec(QStringLiteral("update users set passw='theirs' where iuser='ann'"));

    ASSERT_TRUE(typeInto(grid, 1, 1, QStringLiteral("pw")));
    ASSERT_TRUE(typeInto(grid, 1, 2, QStringLiteral("2")));

    EXPECT_TRUE(boxes.shown.empty()) << "nothing was written, so nothing conflicted";
    EXPECT_EQ(db.scalar(QStringLiteral("select passw from users where iuser='ann'")).toString(), QStringLiteral("theirs"));
}

TEST_F(DataGridTest, DeleteInACellThatIsOnlyCurrentDeletesNothing)
{
    bind(usersSql, true);
    gridtest::clickCell(grid, 1, 1);
    ASSERT_EQ(grid.view()->currentIndex().row(), 1);
    QTest::keyClick(grid.view(), Qt::Key_Delete);
    EXPECT_EQ(db.rows(QStringLiteral("select iuser from users")).size(), 3);

    grid.view()->selectRow(1); // programmatic: the grid's single selection keeps one cell
    QTest::keyClick(grid.view(), Qt::Key_Delete);
    EXPECT_EQ(db.rows(QStringLiteral("select iuser from users")).size(), 3);

    // Through the row selector, the row is deleted.
    gridtest::clickRowSelector(grid, 1);
    QTest::keyClick(grid.view(), Qt::Key_Delete);
    EXPECT_EQ(db.rows(QStringLiteral("select iuser from users")),
              (QStringList{QStringLiteral("admin"), QStringLiteral("tom")}));
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(DataGridTest, APriceBeyondSinglePrecisionIsRefused)
{
    bind(accountsSql, true);
    std::size_t refusals = 0;
    for (const QString& price : {QStringLiteral("1e40"), QStringLiteral("-1e40"), QStringLiteral("1.7e308")}) {
        ASSERT_TRUE(typeInto(grid, 0, 3, price));
        ASSERT_EQ(boxes.shown.size(), ++refusals) << price.toStdString() << " was taken";
        EXPECT_TRUE(boxes.last().prompt.contains(QStringLiteral("单精度"))) << boxes.last().prompt.toStdString();
        EXPECT_EQ(db.scalar(QStringLiteral("select price from knumber where kuser='isp1'")).toDouble(), 2.5);
        EXPECT_EQ(shown(grid, 0, 3), QStringLiteral("2.5"));
    }
    EXPECT_EQ(boxes.shown.size(), 3u);
    ASSERT_TRUE(typeInto(grid, 0, 3, QStringLiteral("3e38")));
    EXPECT_EQ(boxes.shown.size(), 3u);
    EXPECT_EQ(db.scalar(QStringLiteral("select price from knumber where kuser='isp1'")).toDouble(), 3e38);
}

TEST_F(DataGridTest, DeleteKeyDeletesTheSelectedRowWithoutAsking)
{
    bind(usersSql, true);
    gridtest::pressDelete(grid, 1);

    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_EQ(grid.model()->rowCount(), 3) << "two rows and the empty row";
    EXPECT_EQ(shown(grid, 1, 0), QStringLiteral("tom"));
    EXPECT_EQ(db.rows(QStringLiteral("select iuser from users")),
              (QStringList{QStringLiteral("admin"), QStringLiteral("tom")}));

    // The empty row is not a stored row: Delete there does nothing.
    gridtest::pressDelete(grid, 2);
    EXPECT_EQ(db.rows(QStringLiteral("select iuser from users")).size(), 2);
}

TEST_F(DataGridTest, DeleteOnlyGridDeletesButDoesNotEditOrAdd)
{
    set = store::Esql(usersSql);
    grid.setRecordSet(set.get());
    grid.setAllowDelete(true);
    grid.show();

    EXPECT_EQ(grid.model()->rowCount(), 3);
    EXPECT_FALSE(typeInto(grid, 0, 1, QStringLiteral("x")));
    gridtest::pressDelete(grid, 0);
    EXPECT_EQ(db.rows(QStringLiteral("select iuser from users")),
              (QStringList{QStringLiteral("ann"), QStringLiteral("tom")}));
}

TEST_F(DataGridTest, DeletingARowSomeoneElseDeletedIsReported)
{
    bind(usersSql, true);
    db.exec(QStringLiteral("delete from users where iuser='ann'"));
    gridtest::pressDelete(grid, 1);

    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_TRUE(boxes.last().prompt.contains(QStringLiteral("已不在数据库中"))) << boxes.last().prompt.toStdString();
    EXPECT_EQ(grid.model()->rowCount(), 3) << "the row is gone from the grid as from the file";
    EXPECT_EQ(shown(grid, 1, 0), QStringLiteral("tom"));
}

TEST_F(DataGridTest, FillingTheEmptyRowAddsARow)
{
    bind(usersSql, true);
    ASSERT_EQ(grid.model()->rowCount(), 4);
    EXPECT_EQ(grid.model()->headerData(3, Qt::Vertical, Qt::DisplayRole).toString(), QStringLiteral("*"));

    ASSERT_TRUE(typeInto(grid, 3, 0, QStringLiteral("carol")));
    ASSERT_EQ(grid.model()->rowCount(), 5) << "the new row and a fresh empty row";
    EXPECT_EQ(shown(grid, 3, 0), QStringLiteral("carol"));
    EXPECT_EQ(shown(grid, 4, 0), QString());
    EXPECT_EQ(db.rows(QStringLiteral("select * from users where iuser='carol'")),
              QStringList{QStringLiteral("carol|<null>|<null>")});

    // Further cells of the new row change that row.
    ASSERT_TRUE(typeInto(grid, 3, 1, QStringLiteral("cpw")));
    ASSERT_TRUE(typeInto(grid, 3, 2, QStringLiteral("2")));
    EXPECT_EQ(db.rows(QStringLiteral("select * from users where iuser='carol'")),
              QStringList{QStringLiteral("carol|cpw|2")});
    EXPECT_EQ(db.rows(QStringLiteral("select * from users")).size(), 4);
}

TEST_F(DataGridTest, ARefusedNewRowIsNotAdded)
{
    bind(usersSql, true);
    ASSERT_TRUE(typeInto(grid, 3, 2, QStringLiteral("x")));
    EXPECT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(grid.model()->rowCount(), 4);
    EXPECT_EQ(db.rows(QStringLiteral("select * from users")).size(), 3);

    // Nothing typed: no row either.
    ASSERT_TRUE(typeInto(grid, 3, 0, QString()));
    EXPECT_EQ(db.rows(QStringLiteral("select * from users")).size(), 3);
}

TEST_F(DataGridTest, YesNoColumnIsACheckBox)
{
    bind(accountsSql, true);
    const QModelIndex first = gridtest::cell(grid, 0, 2);
    EXPECT_EQ(first.data(Qt::CheckStateRole).toInt(), Qt::Unchecked);
    EXPECT_EQ(gridtest::cell(grid, 1, 2).data(Qt::CheckStateRole).toInt(), Qt::Checked);
    EXPECT_TRUE(first.data(Qt::DisplayRole).toString().isEmpty());
    EXPECT_TRUE(grid.model()->flags(first) & Qt::ItemIsUserCheckable);
    EXPECT_FALSE(grid.model()->flags(first) & Qt::ItemIsEditable);

    gridtest::pressSpace(grid, 0, 2);
    EXPECT_EQ(first.data(Qt::CheckStateRole).toInt(), Qt::Checked);
    EXPECT_EQ(db.scalar(QStringLiteral("select useyn from knumber where kuser='isp1'")).toLongLong(), 1);

    // A click on the box itself clears it again.
    QStyleOptionViewItem option;
    option.initFrom(grid.view());
    option.rect = grid.view()->visualRect(first);
    option.features |= QStyleOptionViewItem::HasCheckIndicator;
    const QRect box = grid.view()->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, grid.view());
    QTest::mouseClick(grid.view()->viewport(), Qt::LeftButton, {}, box.center());
    EXPECT_EQ(db.scalar(QStringLiteral("select useyn from knumber where kuser='isp1'")).toLongLong(), 0);
}

TEST_F(DataGridTest, ReadOnlyCheckBoxDoesNotToggle)
{
    bind(accountsSql, false);
    EXPECT_FALSE(grid.model()->flags(gridtest::cell(grid, 0, 2)) & Qt::ItemIsUserCheckable);
    gridtest::pressSpace(grid, 0, 2);
    EXPECT_EQ(db.scalar(QStringLiteral("select useyn from knumber where kuser='isp1'")).toLongLong(), 0);
}

TEST_F(DataGridTest, CheckingTheBoxOfTheEmptyRowAddsAnAccount)
{
    bind(accountsSql, true);
    gridtest::pressSpace(grid, 2, 2);
    EXPECT_EQ(db.rows(QStringLiteral("select * from knumber")).size(), 3);
    EXPECT_EQ(grid.model()->rowCount(), 4);
    ASSERT_TRUE(typeInto(grid, 2, 3, QStringLiteral("1.5")));
    EXPECT_EQ(db.rows(QStringLiteral("select * from knumber where price=1.5")),
              QStringList{QStringLiteral("<null>|<null>|1|1.5")});
}

TEST_F(DataGridTest, RefreshShowsChangesMadeThroughTheSet)
{
    bind(usersSql, false);
    set->first();
    set->deleteCurrent();
    grid.refresh();
    EXPECT_EQ(grid.model()->rowCount(), 2);
    EXPECT_EQ(shown(grid, 0, 0), QStringLiteral("ann"));

    grid.setRecordSet(nullptr);
    EXPECT_EQ(grid.model()->rowCount(), 0);
    EXPECT_EQ(grid.model()->columnCount(), 0);
}

TEST_F(DataGridTest, RowsAreOfOneHeightAndNotMeasured)
{
    bind(usersSql, false);
    EXPECT_EQ(grid.view()->verticalHeader()->sectionResizeMode(0), QHeaderView::Fixed);
    EXPECT_EQ(grid.view()->rowHeight(0), grid.view()->rowHeight(2));
}

} // namespace
