#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "main_program/common/WindowNames.h"
#include "main_program/history/HistoryWindow.h"
#include "platform/grid/DataGrid.h"
#include "platform/grid/RecordSetModel.h"
#include "platform/widgets/LinkLabel.h"
#include "rules/Minutes.h"
#include "tests/doubles/StandInForm.h"
#include "tests/doubles/TempDatabase.h"
#include "tests/doubles/WindowServices.h"

namespace {

class HistoryWindow : public ::testing::Test {
protected:
    doubles::TempDatabase db;
    doubles::WindowServices kit;
    QStringList log;

    void SetUp() override
    {
        kit.forms.define(tallyon::windows::history, [this] { return new tallyon::form2(kit.services); });
        doubles::defineStandIns(kit.forms, kit.boxes, {tallyon::windows::login, tallyon::windows::timer}, log);
        kit.session.guser = QStringLiteral("ann");
    }

    void addRow(const QString& user, const QString& minutes)
    {
        db.exec(QStringLiteral("insert into internet values ('%1','2026-12-07',%2,'09:00:00','10:00:00')")
                    .arg(QString(user).replace(u'\'', QStringLiteral("''")), minutes));
    }

    tallyon::form2* open()
    {
        return static_cast<tallyon::form2*>(&kit.forms.show(tallyon::windows::history));
    }

    static QStringList column(tallyon::form2* form, int field)
    {
        QStringList values;
        auto* model = form->DataGrid1->model();
        for (int row = 0; row < model->rowCount(); ++row)
            values << model->index(row, field).data().toString();
        return values;
    }
};

TEST_F(HistoryWindow, CaptionsAndGrid)
{
    addRow(QStringLiteral("ann"), QStringLiteral("5"));
    auto* form = open();
    EXPECT_EQ(form->windowTitle(), QStringLiteral("时间查看 by Zendrik"));
    EXPECT_EQ(form->DataGrid1->caption(), QStringLiteral("上网时间列表"));
    EXPECT_EQ(form->Label1->text(), QStringLiteral("总  计："));
    EXPECT_EQ(form->Label3->text(), QStringLiteral("单位/分"));
    EXPECT_EQ(form->Label4->text(), QStringLiteral("价  格："));
    EXPECT_EQ(form->Label2->text(), QStringLiteral("单位/元"));
    EXPECT_EQ(form->Command1->text(), QStringLiteral("退  出"));
    EXPECT_TRUE(form->Command1->isDefault());
    QStringList headers;
    for (int c = 0; c < form->DataGrid1->model()->columnCount(); ++c)
        headers << form->DataGrid1->model()->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
    EXPECT_EQ(headers, (QStringList{QStringLiteral("用户"), QStringLiteral("日期"), QStringLiteral("使用时间"),
                                    QStringLiteral("上机时间"), QStringLiteral("下机时间")}));
}

TEST_F(HistoryWindow, LoadClosesTheLoginWindow)
{
    kit.forms.show(tallyon::windows::login);
    open();
    EXPECT_EQ(kit.forms.find(tallyon::windows::login), nullptr);
    EXPECT_NE(kit.forms.find(tallyon::windows::history), nullptr);
    EXPECT_FALSE(kit.program.ended());
}

TEST_F(HistoryWindow, ShowsOnlyTheUsersRowsInTheirOrderWithTotals)
{
    addRow(QStringLiteral("ann"), QStringLiteral("60"));
    addRow(QStringLiteral("bob"), QStringLiteral("999"));
    addRow(QStringLiteral("ann"), QStringLiteral("40"));
    kit.session.gprice = 0.3f;
    auto* form = open();

    EXPECT_EQ(column(form, 0), (QStringList{QStringLiteral("ann"), QStringLiteral("ann")}));
    EXPECT_EQ(column(form, 2), (QStringList{QStringLiteral("60"), QStringLiteral("40")}));
    EXPECT_EQ(form->Text1->text(), QStringLiteral("100"));
    EXPECT_EQ(form->Text2->text(), QStringLiteral("0.5000001"));
}

TEST_F(HistoryWindow, AmountsAtTheFallbackPrice)
{
    kit.session.gprice = 0.3f;
    addRow(QStringLiteral("ann"), QStringLiteral("60"));
    EXPECT_EQ(open()->Text2->text(), QStringLiteral("0.3"));

    kit.forms.unload(tallyon::windows::history);
    db.exec(QStringLiteral("delete from internet"));
    addRow(QStringLiteral("ann"), QStringLiteral("7"));
    auto* form = open();
    EXPECT_EQ(form->Text1->text(), QStringLiteral("7"));
    EXPECT_EQ(form->Text2->text(), QStringLiteral("0.035"));
}

TEST_F(HistoryWindow, NoPriceYetTakesThePriceTheDialWouldTake)
{
    // Asked for before any dial: the first account in use prices the minutes, not 0.
    db.exec(QStringLiteral("insert into knumber values ('old', 'x', 0, 5), ('cur', 'y', 1, 2)"));
    addRow(QStringLiteral("ann"), QStringLiteral("55"));
    auto* form = open();
    EXPECT_EQ(form->Text1->text(), QStringLiteral("55"));
    EXPECT_EQ(form->Text2->text(), QStringLiteral("1.833333"));
    EXPECT_EQ(kit.session.gprice, 0.0f) << "the program-wide price is left as it was";

    kit.forms.unload(tallyon::windows::history);
    db.exec(QStringLiteral("update knumber set useyn = 0"));
    form = open();
    EXPECT_EQ(form->Text2->text(), QStringLiteral("0.275")) << "no account in use: the 0.3 rule";
}

TEST_F(HistoryWindow, ATotalBeyondSixtyFourBitsIsShownAsTheLargestWithAMessage)
{
    addRow(QStringLiteral("ann"), QStringLiteral("9223372036854775807"));
    addRow(QStringLiteral("ann"), QStringLiteral("5"));
    kit.session.gprice = 2.0f;
    auto* form = open();
    EXPECT_EQ(form->Text1->text(), QStringLiteral("9223372036854775807"));
    ASSERT_EQ(kit.boxes.shown.size(), 1u);
    EXPECT_EQ(kit.boxes.last().prompt, horavo::totalTooLargeText());
}

TEST_F(HistoryWindow, NoRowsLeavesTheBoxesEmpty)
{
    addRow(QStringLiteral("bob"), QStringLiteral("10"));
    kit.session.gprice = 2.0f;
    auto* form = open();
    EXPECT_EQ(form->DataGrid1->model()->rowCount(), 0);
    EXPECT_TRUE(form->Text1->text().isEmpty());
    EXPECT_TRUE(form->Text2->text().isEmpty());
    EXPECT_TRUE(kit.boxes.shown.empty());
}

TEST_F(HistoryWindow, EmptyMinutesCountZeroAndTheRowIsShown)
{
    addRow(QStringLiteral("ann"), QStringLiteral("NULL"));
    addRow(QStringLiteral("ann"), QStringLiteral("90"));
    kit.session.gprice = 2.0f;
    auto* form = open();
    EXPECT_EQ(form->DataGrid1->model()->rowCount(), 2);
    EXPECT_EQ(form->Text1->text(), QStringLiteral("90"));
    EXPECT_EQ(form->Text2->text(), QStringLiteral("3"));
}

TEST_F(HistoryWindow, ALargeTotalIsExactAndPricedInDoublePrecision)
{
    addRow(QStringLiteral("ann"), QStringLiteral("30000"));
    addRow(QStringLiteral("ann"), QStringLiteral("30000"));
    addRow(QStringLiteral("ann"), QStringLiteral("1"));
    kit.session.gprice = 0.3f;
    auto* form = open();
    EXPECT_EQ(form->Text1->text(), QStringLiteral("60001"));
    EXPECT_EQ(form->Text2->text(), QStringLiteral("300.005011921128"));
}

TEST_F(HistoryWindow, ARowBeyondSixteenBitsIsCountedNotAnError)
{
    addRow(QStringLiteral("ann"), QStringLiteral("40000"));
    addRow(QStringLiteral("ann"), QStringLiteral("-39900"));
    kit.session.gprice = 0.3f;
    auto* form = open();
    EXPECT_TRUE(kit.boxes.shown.empty());
    EXPECT_EQ(form->Text1->text(), QStringLiteral("100"));
    // The same 100 minutes as in single precision, but worked out in double precision.
    EXPECT_EQ(form->Text2->text(), QStringLiteral("0.500000019868215"));
}

TEST_F(HistoryWindow, AUserNameWithAQuoteFindsItsRows)
{
    kit.session.guser = QStringLiteral("O'Brien");
    addRow(QStringLiteral("O'Brien"), QStringLiteral("12"));
    auto* form = open();
    EXPECT_TRUE(kit.boxes.shown.empty());
    EXPECT_EQ(form->Text1->text(), QStringLiteral("12"));
}

TEST_F(HistoryWindow, GridIsReadOnly)
{
    addRow(QStringLiteral("ann"), QStringLiteral("12"));
    auto* form = open();
    auto* model = form->DataGrid1->model();
    ASSERT_EQ(model->rowCount(), 1);
    EXPECT_FALSE(model->flags(model->index(0, 2)) & Qt::ItemIsEditable);
    form->DataGrid1->view()->setCurrentIndex(model->index(0, 0));
    QTest::keyClick(form->DataGrid1->view(), Qt::Key_Delete);
    EXPECT_EQ(db.rows(QStringLiteral("select * from internet")).size(), 1);
}

TEST_F(HistoryWindow, ExitUnloadsByClickOrEnter)
{
    auto* form = open();
    QTest::mouseClick(form->Command1, Qt::LeftButton);
    EXPECT_EQ(kit.forms.find(tallyon::windows::history), nullptr);
    EXPECT_EQ(kit.program.endedNormally, 1) << "it was the last window";

    form = open();
    QTest::keyClick(form->Text1, Qt::Key_Return);
    EXPECT_EQ(kit.forms.find(tallyon::windows::history), nullptr);
}

TEST_F(HistoryWindow, LinksOpenThePublishersPages)
{
    auto* form = open();
    QTest::mouseClick(form->Label6, Qt::LeftButton);
    QTest::mouseClick(form->Label7, Qt::LeftButton);
    EXPECT_EQ(kit.launcher.started,
              (QStringList{QStringLiteral("https://horavo.example.org/"),
                           QStringLiteral("https://horavo.example.org/forum/")}));

    kit.launcher.failing.insert(kit.launcher.started.first());
    QTest::mouseClick(form->Label6, Qt::LeftButton);
    ASSERT_EQ(kit.boxes.shown.size(), 1u);
    EXPECT_NE(kit.forms.find(tallyon::windows::history), nullptr);
}

} // namespace
