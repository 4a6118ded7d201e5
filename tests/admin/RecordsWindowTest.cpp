#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "main_program/admin/RecordsWindow.h"
#include "main_program/common/WindowNames.h"
#include "platform/grid/DataGrid.h"
#include "platform/grid/RecordSetModel.h"
#include "platform/widgets/LinkLabel.h"
#include "rules/Minutes.h"
#include "tests/doubles/StandInForm.h"
#include "tests/doubles/TempDatabase.h"
#include "tests/doubles/WindowServices.h"
#include "tests/grid/GridDriver.h"

namespace {

class RecordsWindow : public ::testing::Test {
protected:
    doubles::TempDatabase db;
    doubles::WindowServices kit;
    QStringList log;

    void SetUp() override
    {
        kit.forms.define(tallyon::windows::records, [this] { return new tallyon::Form5(kit.services); });
        kit.session.gprice = 2.0f;
    }

    void addUsers() { db.exec(QStringLiteral("insert into users values ('ann','a',2),('bob','b',3),('O''Brien','o',2)")); }

    void addRow(const QString& user, const QString& minutes)
    {
        db.exec(QStringLiteral("insert into internet values ('%1','2026-12-07',%2,'09:00:00','10:00:00')")
                    .arg(QString(user).replace(u'\'', QStringLiteral("''")), minutes));
    }

    tallyon::Form5* open() { return static_cast<tallyon::Form5*>(&kit.forms.show(tallyon::windows::records)); }

    // Picks an entry as the user does: the list opened and the entry clicked.
    static void pick(tallyon::Form5* form, const QString& entry)
    {
        const int index = form->Combo1->findText(entry);
        ASSERT_GE(index, 0) << entry.toStdString();
        form->Combo1->showPopup();
        QAbstractItemView* list = form->Combo1->view();
        const QRect rect = list->visualRect(list->model()->index(index, 0));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
    }

    // Typed key by key, CJK characters included.
    static void type(QWidget* widget, const QString& text)
    {
        for (const QChar ch : text)
            QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(ch), Qt::NoModifier);
    }

    static QStringList users(tallyon::Form5* form)
    {
        QStringList shown;
        auto* model = form->DataGrid1->model();
        for (int row = 0; row < model->rowCount(); ++row)
            shown << model->index(row, 0).data().toString();
        return shown;
    }

    static QStringList entries(tallyon::Form5* form)
    {
        QStringList all;
        for (int i = 0; i < form->Combo1->count(); ++i)
            all << form->Combo1->itemText(i);
        return all;
    }
};

TEST_F(RecordsWindow, Captions)
{
    addUsers();
    auto* form = open();
    EXPECT_EQ(form->windowTitle(), QStringLiteral("管理员查询界面"));
    EXPECT_EQ(form->Label2->text(), QStringLiteral("管理员查询窗口"));
    EXPECT_TRUE(form->Label2->font().families().contains(QStringLiteral("楷体_GB2312")));
    EXPECT_EQ(form->Label1->text(), QStringLiteral("请选择用户："));
    EXPECT_EQ(form->Label4->text(), QStringLiteral("清除该用户记录"));
    EXPECT_EQ(form->Command2->text(), QStringLiteral("一键清除"));
    EXPECT_EQ(form->Label6->text(), QStringLiteral("如果你要删除单条记录请直接按键盘上的Delete 键，就可以以删除！"));
    EXPECT_EQ(form->Label8->text(), QStringLiteral("总计："));
    EXPECT_EQ(form->Label9->text(), QStringLiteral("单位/分"));
    EXPECT_EQ(form->Label10->text(), QStringLiteral("单位/元"));
    EXPECT_EQ(form->Command1->text(), QStringLiteral("退  出"));
    EXPECT_EQ(form->Label5->text(),
              QStringLiteral("我想如果你是在包时上网，而且有几个人上，这款软件应该很适合你,但是希望对你有帮助"));
    EXPECT_EQ(form->Label7->text(), QStringLiteral("感谢你的支持！"));
    EXPECT_TRUE(form->Label7->font().families().contains(QStringLiteral("楷体_GB2312")));
    EXPECT_TRUE(form->Combo1->isEditable());
}

TEST_F(RecordsWindow, NoUsersYet)
{
    addRow(QStringLiteral("ghost"), QStringLiteral("10"));
    auto* form = open();
    ASSERT_EQ(kit.boxes.shown.size(), 1u);
    EXPECT_EQ(kit.boxes.last().prompt, QStringLiteral("你还没有添加上网用户"));
    EXPECT_EQ(kit.boxes.last().title, QStringLiteral("Pomerix"));
    EXPECT_EQ(form->Combo1->count(), 0);
    EXPECT_EQ(form->Text1->text(), QStringLiteral("0.00"));
    EXPECT_EQ(form->Text2->text(), QStringLiteral("0.00"));
    EXPECT_EQ(form->DataGrid1->model()->rowCount(), 0);
    EXPECT_TRUE(form->isVisible());

    // Nothing loaded, nothing to clear.
    QTest::mouseClick(form->Command2, Qt::LeftButton);
    ASSERT_EQ(kit.boxes.shown.size(), 2u);
    EXPECT_EQ(kit.boxes.last().prompt, QStringLiteral("没有该用户的记录，请你确认一下！"));
    EXPECT_EQ(db.rows(QStringLiteral("select * from internet")).size(), 1);
}

TEST_F(RecordsWindow, LoadListsTheUsersAndShowsTheFirst)
{
    addUsers();
    addRow(QStringLiteral("bob"), QStringLiteral("5"));
    addRow(QStringLiteral("ann"), QStringLiteral("60"));
    addRow(QStringLiteral("ann"), QStringLiteral("30"));
    auto* form = open();
    EXPECT_EQ(entries(form), (QStringList{QStringLiteral("ann"), QStringLiteral("bob"), QStringLiteral("O'Brien"),
                                          QStringLiteral("全部记录")}));
    EXPECT_EQ(form->Combo1->currentText(), QStringLiteral("ann"));
    EXPECT_EQ(users(form), (QStringList{QStringLiteral("ann"), QStringLiteral("ann")}));
    EXPECT_EQ(form->Text1->text(), QStringLiteral("90"));
    EXPECT_EQ(form->Text2->text(), QStringLiteral("3"));
    EXPECT_TRUE(kit.boxes.shown.empty());
}

TEST_F(RecordsWindow, PickingAnEntryLoadsItsRows)
{
    addUsers();
    addRow(QStringLiteral("ann"), QStringLiteral("60"));
    addRow(QStringLiteral("bob"), QStringLiteral("100"));
    addRow(QStringLiteral("O'Brien"), QStringLiteral("7"));
    auto* form = open();

    pick(form, QStringLiteral("bob"));
    EXPECT_EQ(users(form), QStringList{QStringLiteral("bob")});
    EXPECT_EQ(form->Text1->text(), QStringLiteral("100"));
    EXPECT_EQ(form->Text2->text(), QStringLiteral("3.33333333333333"));

    pick(form, QStringLiteral("O'Brien"));
    EXPECT_TRUE(kit.boxes.shown.empty());
    EXPECT_EQ(users(form), QStringList{QStringLiteral("O'Brien")});

    pick(form, QStringLiteral("全部记录"));
    EXPECT_EQ(users(form).size(), 3);
    EXPECT_EQ(form->Text1->text(), QStringLiteral("167"));
}

TEST_F(RecordsWindow, TypedTextChangesNothing)
{
    addUsers();
    addRow(QStringLiteral("ann"), QStringLiteral("60"));
    addRow(QStringLiteral("bob"), QStringLiteral("100"));
    auto* form = open();
    QLineEdit* field = form->Combo1->lineEdit();

    for (const QString& typed : {QStringLiteral("bob"), QStringLiteral("全部记录"), QStringLiteral("nobody")}) {
        field->selectAll();
        type(field, typed);
        ASSERT_EQ(field->text(), typed);
        QTest::keyClick(field, Qt::Key_Return);
        form->Combo1->clearFocus();
        EXPECT_EQ(users(form), QStringList{QStringLiteral("ann")}) << typed.toStdString();
        EXPECT_EQ(form->Text1->text(), QStringLiteral("60"));
    }
    EXPECT_EQ(form->Combo1->count(), 4) << "typed text is not added to the list";

    // "一键清除" still clears the last picked entry, whatever was typed.
    QTest::mouseClick(form->Command2, Qt::LeftButton);
    EXPECT_EQ(db.rows(QStringLiteral("select iuser from internet")), QStringList{QStringLiteral("bob")});
}

TEST_F(RecordsWindow, TotalsAtTheFallbackPriceInDoublePrecision)
{
    kit.session.gprice = 0.3f;
    addUsers();
    addRow(QStringLiteral("ann"), QStringLiteral("100"));
    addRow(QStringLiteral("ann"), QStringLiteral("NULL"));
    auto* form = open();
    EXPECT_EQ(form->DataGrid1->model()->rowCount(), 2);
    EXPECT_EQ(form->Text1->text(), QStringLiteral("100"));
    EXPECT_EQ(form->Text2->text(), QStringLiteral("0.500000019868215"));
}

TEST_F(RecordsWindow, AUserWithoutRows)
{
    addUsers();
    addRow(QStringLiteral("ann"), QStringLiteral("60"));
    auto* form = open();
    pick(form, QStringLiteral("bob"));
    EXPECT_EQ(form->DataGrid1->model()->rowCount(), 0);
    EXPECT_EQ(form->Text1->text(), QStringLiteral("0"));
    EXPECT_EQ(form->Text2->text(), QStringLiteral("0"));

    QTest::mouseClick(form->Command2, Qt::LeftButton);
    ASSERT_EQ(kit.boxes.shown.size(), 1u);
    EXPECT_EQ(kit.boxes.last().prompt, QStringLiteral("没有该用户的记录，请你确认一下！"));
    EXPECT_EQ(kit.boxes.last().title, QStringLiteral("Pomerix"));
    EXPECT_EQ(db.rows(QStringLiteral("select * from internet")).size(), 1);
}

TEST_F(RecordsWindow, ClearingOneUser)
{
    addUsers();
    addRow(QStringLiteral("ann"), QStringLiteral("60"));
    addRow(QStringLiteral("bob"), QStringLiteral("5"));
    addRow(QStringLiteral("ann"), QStringLiteral("30"));
    auto* form = open();
    QTest::mouseClick(form->Command2, Qt::LeftButton);

    EXPECT_TRUE(kit.boxes.shown.empty()) << "no confirmation";
    EXPECT_EQ(db.rows(QStringLiteral("select iuser from internet")), QStringList{QStringLiteral("bob")});
    EXPECT_EQ(form->DataGrid1->model()->rowCount(), 0);
    EXPECT_EQ(form->Text1->text(), QStringLiteral("90")) << "totals wait for the next pick";

    QTest::mouseClick(form->Command2, Qt::LeftButton);
    EXPECT_EQ(kit.boxes.last().prompt, QStringLiteral("没有该用户的记录，请你确认一下！"));
}

TEST_F(RecordsWindow, ClearingIsAllOrNothingAndAfterAConflictShowsWhatTheFileHolds)
{
    addUsers();
    addRow(QStringLiteral("ann"), QStringLiteral("60"));
    addRow(QStringLiteral("ann"), QStringLiteral("30"));
    addRow(QStringLiteral("ann"), QStringLiteral("10"));
    auto* form = open();
    ASSERT_EQ(form->Text1->text(), QStringLiteral("100"));
    // Meanwhile tallyon adds a minute to ann's last row and starts another.
    db.exec(QStringLiteral("update internet set itime=11 where itime=10"));
    addRow(QStringLiteral("ann"), QStringLiteral("1"));

    QTest::mouseClick(form->Command2, Qt::LeftButton);

    ASSERT_EQ(kit.boxes.shown.size(), 1u);
    EXPECT_TRUE(kit.boxes.last().prompt.startsWith(QStringLiteral("Row cannot be located for updating.")));
    EXPECT_EQ(db.scalar(QStringLiteral("select count(*) from internet")).toInt(), 4) << "nothing deleted";
    EXPECT_EQ(form->DataGrid1->model()->rowCount(), 4) << "the rows the file holds";
    EXPECT_EQ(form->Text1->text(), QStringLiteral("102"));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the wait cursor is gone";

    // Now that the window shows what the file holds, clearing goes through.
    QTest::mouseClick(form->Command2, Qt::LeftButton);
    EXPECT_EQ(kit.boxes.shown.size(), 1u);
    EXPECT_EQ(db.scalar(QStringLiteral("select count(*) from internet")).toInt(), 0);
    EXPECT_EQ(form->DataGrid1->model()->rowCount(), 0);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(RecordsWindow, ClearingAllRecords)
{
    addUsers();
    addRow(QStringLiteral("ann"), QStringLiteral("60"));
    addRow(QStringLiteral("bob"), QStringLiteral("5"));
    addRow(QStringLiteral("ghost"), QStringLiteral("1"));
    auto* form = open();
    pick(form, QStringLiteral("全部记录"));
    QTest::mouseClick(form->Command2, Qt::LeftButton);
    EXPECT_TRUE(db.rows(QStringLiteral("select * from internet")).isEmpty());
    EXPECT_EQ(form->DataGrid1->model()->rowCount(), 0);
}

TEST_F(RecordsWindow, DeleteKeyRemovesOneRowAndLeavesTheTotals)
{
    addUsers();
    addRow(QStringLiteral("ann"), QStringLiteral("60"));
    addRow(QStringLiteral("ann"), QStringLiteral("30"));
    auto* form = open();
    auto* model = form->DataGrid1->model();
    EXPECT_FALSE(model->flags(model->index(0, 2)) & Qt::ItemIsEditable);
    EXPECT_EQ(model->rowCount(), 2) << "no row for adding";

    gridtest::pressDelete(*form->DataGrid1, 0);
    EXPECT_EQ(db.rows(QStringLiteral("select itime from internet")), QStringList{QStringLiteral("30")});
    EXPECT_EQ(model->rowCount(), 1);
    EXPECT_EQ(form->Text1->text(), QStringLiteral("90"));

    pick(form, QStringLiteral("ann"));
    EXPECT_EQ(form->Text1->text(), QStringLiteral("30"));
}

TEST_F(RecordsWindow, TotalBoxesAreNamedAndReadOnlyForAScreenReader)
{
    auto* form = open();
    for (QLineEdit* box : {form->Text1, form->Text2}) {
        QAccessibleInterface* read = QAccessible::queryAccessibleInterface(box);
        ASSERT_TRUE(read);
        EXPECT_TRUE(read->text(QAccessible::Name).startsWith(form->Label8->text()));
        EXPECT_TRUE(read->state().readOnly);
        EXPECT_FALSE(read->state().editable) << "announced as text to read, not a box to type into";
        EXPECT_FALSE(read->state().disabled) << "read-only, not greyed out";
        ASSERT_TRUE(read->textInterface());
        EXPECT_EQ(read->textInterface()->text(0, read->textInterface()->characterCount()), box->text());
        EXPECT_FALSE(read->textInterface()->text(0, 1).isEmpty()) << "a total is shown";
    }
    EXPECT_NE(form->Text1->accessibleName(), form->Text2->accessibleName());
}

TEST_F(RecordsWindow, ExitAndLinks)
{
    addUsers();
    auto* form = open();
    QTest::mouseClick(form->Label3, Qt::LeftButton);
    EXPECT_EQ(kit.launcher.started,
              QStringList{QStringLiteral("https://horavo.example.org/")});
    QTest::mouseClick(form->Command1, Qt::LeftButton);
    EXPECT_EQ(kit.forms.find(tallyon::windows::records), nullptr);
    EXPECT_EQ(kit.program.endedNormally, 1);
}

} // namespace

namespace {

TEST_F(RecordsWindow, ATotalBeyondSixtyFourBitsIsShownAsTheLargestWithAMessage)
{
    addUsers();
    addRow(QStringLiteral("ann"), QStringLiteral("9223372036854775807"));
    addRow(QStringLiteral("ann"), QStringLiteral("60"));
    auto* form = open();
    EXPECT_EQ(form->Text1->text(), QStringLiteral("9223372036854775807"));
    ASSERT_FALSE(kit.boxes.shown.empty());
    EXPECT_EQ(kit.boxes.last().prompt, horavo::totalTooLargeText());
    EXPECT_EQ(form->Text2->text(), QStringLiteral("3.07445734561826E+17"));
}

} // namespace
