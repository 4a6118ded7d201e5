#include "main_program/history/HistoryWindow.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "main_program/common/PublisherPages.h"
#include "main_program/common/Services.h"
#include "main_program/common/Session.h"
#include "main_program/common/WindowNames.h"
#include "main_program/history/HistoryTotal.h"
#include "platform/MessageBoxes.h"
#include "platform/ProgramLauncher.h"
#include "platform/grid/DataGrid.h"
#include "platform/widgets/Fonts.h"
#include "platform/widgets/Forms.h"
#include "platform/widgets/LinkLabel.h"
#include "rules/Minutes.h"
#include "rules/UnitPrice.h"
#include "store/Esql.h"
#include "store/RecordSet.h"
#include "store/SqlText.h"

namespace tallyon {

form2::form2(Services& services, QWidget* parent)
    : Form(services.forms, services.boxes, parent), services_(services)
{
    setWindowTitle(QStringLiteral("时间查看 by Zendrik"));

    DataGrid1 = new platform::DataGrid(services.boxes, this);
    DataGrid1->setCaption(QStringLiteral("上网时间列表"));
    DataGrid1->setEditable(false);

    Label1 = new QLabel(QStringLiteral("总  计："), this);
    Text1 = new QLineEdit(this);
    Text1->setReadOnly(true);
    Label3 = new QLabel(QStringLiteral("单位/分"), this);
    Label4 = new QLabel(QStringLiteral("价  格："), this);
    Text2 = new QLineEdit(this);
    Text2->setReadOnly(true);
    Label2 = new QLabel(QStringLiteral("单位/元"), this);
    Label1->setBuddy(Text1);
    Label4->setBuddy(Text2);

    Command1 = new QPushButton(QStringLiteral("退  出"), this);
    setDefaultButton(Command1);
    Label5 = new QLabel(QStringLiteral("Zendrik 工作室出品，使用中有问题欢迎到论坛交流"), this);
    Label5->setAlignment(Qt::AlignCenter);
    Label6 = new platform::LinkLabel(QStringLiteral("Horavo 主页"), this);
    Label7 = new platform::LinkLabel(QStringLiteral("Horavo 论坛"), this);

    auto* totals = new QHBoxLayout;
    totals->addWidget(Label1);
    totals->addWidget(Text1, 1);
    totals->addWidget(Label3);
    totals->addSpacing(24);
    totals->addWidget(Label4);
    totals->addWidget(Text2, 1);
    totals->addWidget(Label2);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(Label6);
    bottom->addStretch(1);
    bottom->addWidget(Command1);
    bottom->addStretch(1);
    bottom->addWidget(Label7);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(DataGrid1, 1);
    layout->addLayout(totals);
    layout->addWidget(Label5);
    layout->addLayout(bottom);

    onEvent(Command1, &QPushButton::clicked, &form2::Command1_Click);
    onEvent(Label6, &platform::LinkLabel::clicked, &form2::Label6_Click);
    onEvent(Label7, &platform::LinkLabel::clicked, &form2::Label7_Click);

    resize(640, 440);
}

form2::~form2()
{
    // The grid goes with the window; it must not outlive the set it shows.
    DataGrid1->setRecordSet(nullptr);
}

void form2::Form_Load()
{
    forms().unload(windows::login);

    auto records = store::Esql(
        QStringLiteral("select iuser as 用户,idate as 日期,itime as 使用时间,stime as 上机时间,"
                       "xtime as 下机时间 from internet where iuser='")
        + store::escapeQuotes(services_.session.guser) + u'\'');
    DataGrid1->setRecordSet(records.get());
    records_ = std::move(records);
    if (records_->atEnd())
        return;

    HistoryTotal total;
    horavo::addMinutesOfRows(total, *records_, QStringLiteral("使用时间"));
    Text1->setText(total.minutesText());
    Text2->setText(total.amountText(priceForTheAmount()));
    if (total.overflowed())
        boxes().show(horavo::totalTooLargeText());
}

float form2::priceForTheAmount() const
{
    if (services_.session.gprice != 0.0f)
        return services_.session.gprice;
    // Nothing has set the price yet (the user asks before any dial): the price the dial
    // would take, that of the first account in use.
    return horavo::priceOfTheAccountInUse(*store::Esql(QStringLiteral("select * from knumber")));
}

void form2::Command1_Click()
{
    unload();
}

void form2::Label6_Click()
{
    services_.launcher.openPage(publisher::homePage());
}

void form2::Label7_Click()
{
    services_.launcher.openPage(publisher::forumPage());
}

} // namespace tallyon
