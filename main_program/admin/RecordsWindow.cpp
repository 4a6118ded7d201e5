#include "main_program/admin/RecordsWindow.h"

#include <QApplication>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QVBoxLayout>

#include "main_program/common/PublisherPages.h"
#include "main_program/common/Services.h"
#include "main_program/common/Session.h"
#include "platform/MessageBoxes.h"
#include "platform/ProgramLauncher.h"
#include "platform/grid/DataGrid.h"
#include "platform/widgets/Fonts.h"
#include "platform/widgets/Forms.h"
#include "platform/widgets/LinkLabel.h"
#include "rules/Amount.h"
#include "rules/Minutes.h"
#include "rules/NumberFormat.h"
#include "store/DatabaseAddress.h"
#include "store/Esql.h"
#include "store/RecordSet.h"
#include "store/SqlText.h"
#include "store/StoreError.h"

namespace tallyon {

namespace {

const QString recordsSql =
    QStringLiteral("select iuser as 用户,idate as 日期,itime as 使用时间,stime as 上机时间,xtime as 下机时间 from internet");

} // namespace

QString Form5::allRecordsEntry()
{
    return QStringLiteral("全部记录");
}

Form5::Form5(Services& services, QWidget* parent)
    : Form(services.forms, services.boxes, parent), services_(services)
{
    setWindowTitle(QStringLiteral("管理员查询界面"));

    Label2 = new QLabel(QStringLiteral("管理员查询窗口"), this);
    Label2->setFont(platform::kaiTi(18, true));
    Label2->setAlignment(Qt::AlignCenter);

    Label1 = new QLabel(QStringLiteral("请选择用户："), this);
    Combo1 = new QComboBox(this);
    Combo1->setEditable(true);
    // Only a pick from the list loads records: typed text neither becomes an entry nor
    // picks the entry it happens to match.
    Combo1->setInsertPolicy(QComboBox::NoInsert);
    Combo1->setCompleter(nullptr);
    QObject::disconnect(Combo1->lineEdit(), SIGNAL(editingFinished()), Combo1, nullptr);

    Label4 = new QLabel(QStringLiteral("清除该用户记录"), this);
    Command2 = new QPushButton(QStringLiteral("一键清除"), this);
    Label6 = new QLabel(QStringLiteral("如果你要删除单条记录请直接按键盘上的Delete 键，就可以以删除！"), this);
    Label6->setWordWrap(true);

    DataGrid1 = new platform::DataGrid(services.boxes, this);
    DataGrid1->setAllowEdit(false);
    DataGrid1->setAllowAdd(false);
    DataGrid1->setAllowDelete(true);

    Label8 = new QLabel(QStringLiteral("总计："), this);
    Text1 = new QLineEdit(QStringLiteral("0.00"), this);
    Text1->setReadOnly(true);
    Label9 = new QLabel(QStringLiteral("单位/分"), this);
    Text2 = new QLineEdit(QStringLiteral("0.00"), this);
    Text2->setReadOnly(true);
    Label10 = new QLabel(QStringLiteral("单位/元"), this);
    // The two boxes share the label in front; their units tell them apart.
    Label8->setBuddy(Text1);
    Text1->setAccessibleName(Label8->text() + Label9->text());
    Text2->setAccessibleName(Label8->text() + Label10->text());

    Command1 = new QPushButton(QStringLiteral("退  出"), this);
    Label5 = new QLabel(
        QStringLiteral("我想如果你是在包时上网，而且有几个人上，这款软件应该很适合你,但是希望对你有帮助"), this);
    Label5->setWordWrap(true);
    Label7 = new QLabel(QStringLiteral("感谢你的支持！"), this);
    Label7->setFont(platform::kaiTi(14));
    Label3 = new platform::LinkLabel(QStringLiteral("版权所有 © Zendrik 工作室，保留所有权利"), this);

    auto* picker = new QVBoxLayout;
    picker->addWidget(Label1);
    picker->addWidget(Combo1);
    picker->addSpacing(16);
    picker->addWidget(Label4);
    picker->addWidget(Command2);
    picker->addWidget(Label6);
    picker->addStretch(1);
    picker->addWidget(Label7, 0, Qt::AlignHCenter);

    auto* totals = new QHBoxLayout;
    totals->addWidget(Label8);
    totals->addWidget(Text1, 1);
    totals->addWidget(Label9);
    totals->addSpacing(16);
    totals->addWidget(Text2, 1);
    totals->addWidget(Label10);

    auto* records = new QVBoxLayout;
    records->addWidget(DataGrid1, 1);
    records->addLayout(totals);

    auto* middle = new QHBoxLayout;
    auto* pickerBox = new QWidget(this);
    pickerBox->setLayout(picker);
    pickerBox->setFixedWidth(190);
    middle->addWidget(pickerBox);
    middle->addLayout(records, 1);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(Label5, 1);
    bottom->addWidget(Command1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label2);
    layout->addLayout(middle, 1);
    layout->addLayout(bottom);
    layout->addWidget(Label3, 0, Qt::AlignHCenter);

    onEvent(Combo1, &QComboBox::activated, &Form5::Combo1_Click);
    onEvent(Command1, &QPushButton::clicked, &Form5::Command1_Click);
    onEvent(Command2, &QPushButton::clicked, &Form5::Command2_Click);
    onEvent(Label3, &platform::LinkLabel::clicked, &Form5::Label3_Click);

    resize(800, 520);
}

Form5::~Form5()
{
    DataGrid1->setRecordSet(nullptr);
}

void Form5::Form_Load()
{
    users_ = store::Esql(QStringLiteral("select * from users"), store::DatabaseAddress::forAdministration());
    if (users_->atEnd()) {
        boxes().show(QStringLiteral("你还没有添加上网用户"));
        return;
    }
    Combo1->clear();
    Combo1->setEditText(users_->value(QStringLiteral("iuser")).toString());
    for (users_->first(); !users_->atEnd(); users_->next())
        Combo1->addItem(users_->value(QStringLiteral("iuser")).toString());
    Combo1->addItem(allRecordsEntry());
    Combo1->setCurrentIndex(0);
    Combo1->setEditText(Combo1->itemText(0));
    CChange();
}

void Form5::Combo1_Click()
{
    CChange();
}

void Form5::CChange()
{
    const QString choice = Combo1->currentText();
    auto records = choice == allRecordsEntry()
        ? store::Esql(recordsSql, store::DatabaseAddress::forAdministration())
        : store::Esql(recordsSql + QStringLiteral(" where iuser='") + store::escapeQuotes(choice) + u'\'',
                      store::DatabaseAddress::forAdministration());
    DataGrid1->setRecordSet(records.get());
    records_ = std::move(records);
    DataGrid1->refresh();

    horavo::MinutesTotal total;
    horavo::addMinutesOfRows(total, *records_, QStringLiteral("使用时间"));
    Text1->setText(QString::number(total.value()));
    Text2->setText(horavo::formatDouble(horavo::amountOf(total.value(), services_.session.gprice)));
    if (total.overflowed())
        boxes().show(horavo::totalTooLargeText());
}

void Form5::Command1_Click()
{
    unload();
}

void Form5::Command2_Click()
{
    // Before any records were loaded (no users at load) there is nothing to clear either.
    if (records_)
        records_->first();
    if (!records_ || records_->atEnd()) {
        boxes().show(QStringLiteral("没有该用户的记录，请你确认一下！"));
        return;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const auto restoreCursor = qScopeGuard([] { QApplication::restoreOverrideCursor(); });
    // One transaction, all or nothing: a row another program changed or deleted since it
    // was read stops the clearing with nothing deleted.
    try {
        records_->inOneTransaction([this] {
            for (records_->first(); !records_->atEnd();)
                records_->deleteCurrent();
        });
    } catch (const horavo::Failure&) {
        CChange(); // the grid and the totals show what the file holds now
        throw;
    }
    DataGrid1->refresh();
}

void Form5::Label3_Click()
{
    services_.launcher.openPage(publisher::homePage());
}

} // namespace tallyon
