#include <gtest/gtest.h>

#include <QAccessible>
#include <QFontInfo>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "main_program/admin/AdministrationWindow.h"
#include "main_program/common/WindowNames.h"
#include "platform/grid/DataGrid.h"
#include "platform/grid/RecordSetModel.h"
#include "platform/widgets/LinkLabel.h"
#include "tests/doubles/StandInForm.h"
#include "tests/doubles/TempDatabase.h"
#include "tests/doubles/WindowServices.h"
#include "tests/grid/GridDriver.h"

namespace {

class AdminWindow : public ::testing::Test {
protected:
    doubles::TempDatabase db;
    doubles::WindowServices kit;
    QStringList log;

    void SetUp() override
    {
        kit.forms.define(tallyon::windows::administration, [this] { return new tallyon::Form4(kit.services); });
        doubles::defineStandIns(kit.forms, kit.boxes, {tallyon::windows::login, tallyon::windows::records}, log);
        db.exec(QStringLiteral("insert into users values ('admin','root',1),('ann','pw',2)"));
    }

    tallyon::Form4* open()
    {
        return static_cast<tallyon::Form4*>(&kit.forms.show(tallyon::windows::administration));
    }

    float priceAfterLoad()
    {
        kit.session.gprice = -1.0f;
        open();
        kit.forms.unload(tallyon::windows::administration);
        return kit.session.gprice;
    }

    static QStringList headers(platform::DataGrid* grid)
    {
        QStringList all;
        for (int c = 0; c < grid->model()->columnCount(); ++c)
            all << grid->model()->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
        return all;
    }
};

TEST_F(AdminWindow, CaptionsAndHints)
{
    auto* form = open();
    EXPECT_EQ(form->windowTitle(), QStringLiteral("管理窗口"));
    EXPECT_EQ(form->Label1->text(), QStringLiteral("管 理 界 面"));
    EXPECT_EQ(form->DataGrid1->caption(), QStringLiteral("用 户 管 理"));
    EXPECT_EQ(form->DataGrid2->caption(), QStringLiteral("上网卡管理"));
    EXPECT_EQ(form->Label5->text(),
              QString::fromUtf8("用户权限中\u201c1\u201d为管理员权限，\u201c2\u201d为普通用户权限，\"3\"在金额超"));
    EXPECT_EQ(form->Label2->text(), QStringLiteral("过25时候就会提示！要删除项时按Delete键"));
    EXPECT_EQ(form->Command2->text(), QStringLiteral("查看记录"));
    EXPECT_EQ(form->Command1->text(), QStringLiteral("退  出"));
    EXPECT_TRUE(form->Label4->text().startsWith(QStringLiteral("非常感谢你的支持！")));
    for (QLabel* label : {form->Label1, form->Label5, form->Label2})
        EXPECT_TRUE(label->font().families().contains(QStringLiteral("楷体_GB2312")));
}

TEST_F(AdminWindow, GridsShowTheTablesUnderTheirAliases)
{
    db.exec(QStringLiteral("insert into knumber values ('isp1','k1',1,2.5)"));
    auto* form = open();
    EXPECT_EQ(headers(form->DataGrid1),
              (QStringList{QStringLiteral("用户"), QStringLiteral("密码"), QStringLiteral("用户权限")}));
    EXPECT_EQ(headers(form->DataGrid2), (QStringList{QStringLiteral("上网帐号"), QStringLiteral("帐号密码"),
                                                     QStringLiteral("使用与否"), QStringLiteral("单价元")}));
    EXPECT_EQ(gridtest::shown(*form->DataGrid1, 1, 1), QStringLiteral("pw")) << "passwords in clear";
    EXPECT_EQ(gridtest::cell(*form->DataGrid2, 0, 2).data(Qt::CheckStateRole).toInt(), Qt::Checked);
    EXPECT_EQ(gridtest::shown(*form->DataGrid2, 0, 3), QStringLiteral("2.5"));
}

TEST_F(AdminWindow, LoadClosesTheLoginWindow)
{
    kit.forms.show(tallyon::windows::login);
    open();
    EXPECT_EQ(kit.forms.find(tallyon::windows::login), nullptr);
    EXPECT_EQ(kit.forms.loadedCount(), 1);
    EXPECT_FALSE(kit.program.ended());
}

TEST_F(AdminWindow, PriceComesFromTheFirstAccountOnly)
{
    db.exec(QStringLiteral("insert into knumber values ('isp1','k1',1,2.5),('isp2','k2',1,9)"));
    EXPECT_FLOAT_EQ(priceAfterLoad(), 2.5f);
}

TEST_F(AdminWindow, FirstAccountNotInUseStillSetsThePrice)
{
    db.exec(QStringLiteral("insert into knumber values ('isp1','k1',0,1.25),('isp2','k2',1,9)"));
    EXPECT_FLOAT_EQ(priceAfterLoad(), 1.25f);
}

TEST_F(AdminWindow, PriceNotAboveZeroFallsBack)
{
    for (const char* first : {"0", "-2", "NULL"}) {
        db.exec(QStringLiteral("delete from knumber"));
        db.exec(QStringLiteral("insert into knumber values ('isp1','k1',1,%1),('isp2','k2',1,9)")
                    .arg(QString::fromLatin1(first)));
        EXPECT_EQ(priceAfterLoad(), 0.3f) << first;
    }
}

TEST_F(AdminWindow, NoAccountsFallsBackAndOpens)
{
    auto* form = open();
    EXPECT_EQ(kit.session.gprice, 0.3f);
    EXPECT_TRUE(kit.boxes.shown.empty());
    EXPECT_EQ(form->DataGrid2->model()->rowCount(), 1) << "only the row for adding one";
}

TEST_F(AdminWindow, PriceEditedLaterDoesNotChangeTheUnitPrice)
{
    db.exec(QStringLiteral("insert into knumber values ('isp1','k1',1,2)"));
    auto* form = open();
    ASSERT_TRUE(gridtest::typeInto(*form->DataGrid2, 0, 3, QStringLiteral("5")));
    EXPECT_EQ(db.scalar(QStringLiteral("select price from knumber")).toDouble(), 5.0);
    EXPECT_EQ(kit.session.gprice, 2.0f);
}

TEST_F(AdminWindow, AddsAUserAndAnAccountThroughTheGrids)
{
    auto* form = open();
    ASSERT_TRUE(gridtest::typeInto(*form->DataGrid1, 2, 0, QStringLiteral("carol")));
    ASSERT_TRUE(gridtest::typeInto(*form->DataGrid1, 2, 1, QStringLiteral("cpw")));
    ASSERT_TRUE(gridtest::typeInto(*form->DataGrid1, 2, 2, QStringLiteral("7")));
    ASSERT_TRUE(gridtest::typeInto(*form->DataGrid2, 0, 0, QStringLiteral("isp9")));
    ASSERT_TRUE(gridtest::typeInto(*form->DataGrid2, 0, 1, QStringLiteral("k9")));
    gridtest::pressSpace(*form->DataGrid2, 0, 2);
    ASSERT_TRUE(gridtest::typeInto(*form->DataGrid2, 0, 3, QStringLiteral("1.5")));

    EXPECT_TRUE(kit.boxes.shown.empty());
    EXPECT_EQ(db.rows(QStringLiteral("select * from users where iuser='carol'")),
              QStringList{QStringLiteral("carol|cpw|7")});
    EXPECT_EQ(db.rows(QStringLiteral("select * from knumber")), QStringList{QStringLiteral("isp9|k9|1|1.5")});
}

TEST_F(AdminWindow, DeletesAUserWithTheDeleteKey)
{
    auto* form = open();
    gridtest::pressDelete(*form->DataGrid1, 1);
    EXPECT_EQ(db.rows(QStringLiteral("select iuser from users")), QStringList{QStringLiteral("admin")});
    EXPECT_TRUE(kit.boxes.shown.empty());
}

TEST_F(AdminWindow, KeyboardAloneLeavesTheGridsAndDeletesARow)
{
    db.exec(QStringLiteral("insert into knumber values ('isp1','k1',1,2.5)"));
    auto* form = open();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form));
    QTableView* users = form->DataGrid1->view();
    QTableView* accounts = form->DataGrid2->view();

    accounts->setFocus();
    accounts->setCurrentIndex(gridtest::cell(*form->DataGrid2, 0, 0));
    QTest::keyClick(accounts, Qt::Key_Tab);
    EXPECT_TRUE(form->Command2->hasFocus()) << "Tab reaches the button after the grid";
    accounts->setFocus();
    QTest::keyClick(accounts, Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_TRUE(users->hasFocus()) << "Shift+Tab the control before";
    QTest::keyClick(users, Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_TRUE(accounts->hasFocus()) << "Ctrl+Tab leaves the grid too";

    // Arrows move between cells; Shift+Space selects the row for the Delete key.
    users->setFocus();
    users->setCurrentIndex(gridtest::cell(*form->DataGrid1, 0, 1));
    QTest::keyClick(users, Qt::Key_Down);
    ASSERT_EQ(users->currentIndex(), gridtest::cell(*form->DataGrid1, 1, 1));
    QTest::keyClick(users, Qt::Key_Space, Qt::ShiftModifier);
    QTest::keyClick(users, Qt::Key_Delete);
    EXPECT_EQ(db.rows(QStringLiteral("select iuser from users")), QStringList{QStringLiteral("admin")});
    EXPECT_TRUE(kit.boxes.shown.empty());

    // The yes/no box has no text of its own: a screen reader hears the column and state.
    QAccessibleInterface* table = QAccessible::queryAccessibleInterface(accounts);
    ASSERT_TRUE(table && table->tableInterface());
    QAccessibleInterface* yesNo = table->tableInterface()->cellAt(0, 2);
    ASSERT_TRUE(yesNo);
    EXPECT_EQ(yesNo->text(QAccessible::Name), QStringLiteral("使用与否：是"));
}

TEST_F(AdminWindow, RefusedPermissionIsReported)
{
    auto* form = open();
    ASSERT_TRUE(gridtest::typeInto(*form->DataGrid1, 1, 2, QStringLiteral("one")));
    EXPECT_EQ(kit.boxes.shown.size(), 1u);
    EXPECT_EQ(gridtest::shown(*form->DataGrid1, 1, 2), QStringLiteral("2"));
    EXPECT_EQ(db.scalar(QStringLiteral("select quanxian from users where iuser='ann'")).toLongLong(), 2);
}

TEST_F(AdminWindow, AUserNameWithAnEscapeIsRefusedAndTheStoredNameStays)
{
    auto* form = open();
    // As the grid's editor hands over a pasted name.
    EXPECT_FALSE(form->DataGrid1->model()->setData(gridtest::cell(*form->DataGrid1, 1, 0), QStringLiteral("ann\x1b[2J"),
                                                   Qt::EditRole));
    ASSERT_EQ(kit.boxes.shown.size(), 1u);
    EXPECT_TRUE(kit.boxes.last().prompt.contains(QStringLiteral("ann\\x1b[2J"))) << kit.boxes.last().prompt.toStdString();
    EXPECT_EQ(gridtest::shown(*form->DataGrid1, 1, 0), QStringLiteral("ann"));
    EXPECT_EQ(db.rows(QStringLiteral("select iuser from users")), (QStringList{QStringLiteral("admin"), QStringLiteral("ann")}));
}

TEST_F(AdminWindow, ViewRecordsShowsTheQueryWindowThenCloses)
{
    auto* form = open();
    bool adminOpenWhileRecordsLoaded = false;
    kit.forms.define(tallyon::windows::records, [&] {
        adminOpenWhileRecordsLoaded = kit.forms.find(tallyon::windows::administration) != nullptr;
        return new doubles::StandInForm(kit.forms, kit.boxes, tallyon::windows::records, log);
    });
    QTest::mouseClick(form->Command2, Qt::LeftButton);
    EXPECT_TRUE(adminOpenWhileRecordsLoaded);
    EXPECT_TRUE(log.contains(QStringLiteral("show Form5")));
    EXPECT_EQ(kit.forms.find(tallyon::windows::administration), nullptr);
    EXPECT_FALSE(kit.program.ended());
}

TEST_F(AdminWindow, ExitEndsTheProgram)
{
    auto* form = open();
    QTest::mouseClick(form->Command1, Qt::LeftButton);
    EXPECT_EQ(kit.forms.find(tallyon::windows::administration), nullptr);
    EXPECT_EQ(kit.program.endedNormally, 1);
}

TEST_F(AdminWindow, ClosingUnloadsLikeExit)
{
    auto* form = open();
    form->close();
    EXPECT_EQ(kit.forms.find(tallyon::windows::administration), nullptr);
    EXPECT_EQ(kit.program.endedNormally, 1);
}

TEST_F(AdminWindow, RightsNoticeOpensTheHomePage)
{
    auto* form = open();
    QTest::mouseClick(form->Label3, Qt::LeftButton);
    EXPECT_EQ(kit.launcher.started,
              QStringList{QStringLiteral("https://horavo.example.org/")});
}

} // namespace
