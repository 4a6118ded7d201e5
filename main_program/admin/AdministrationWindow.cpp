#include "main_program/admin/AdministrationWindow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "main_program/common/PublisherPages.h"
#include "main_program/common/Services.h"
#include "main_program/common/Session.h"
#include "main_program/common/WindowNames.h"
#include "platform/ProgramLauncher.h"
#include "platform/grid/DataGrid.h"
#include "platform/widgets/Fonts.h"
#include "platform/widgets/Forms.h"
#include "platform/widgets/LinkLabel.h"
#include "rules/UnitPrice.h"
#include "store/DatabaseAddress.h"
#include "store/Esql.h"
#include "store/RecordSet.h"

namespace tallyon {

Form4::Form4(Services& services, QWidget* parent)
    : Form(services.forms, services.boxes, parent), services_(services)
{
    setWindowTitle(QStringLiteral("管理窗口"));

    Label1 = new QLabel(QStringLiteral("管 理 界 面"), this);
    Label1->setFont(platform::kaiTi(18, true));
    Label1->setAlignment(Qt::AlignCenter);

    DataGrid1 = new platform::DataGrid(services.boxes, this);
    DataGrid1->setCaption(QStringLiteral("用 户 管 理"));
    DataGrid1->setEditable(true);

    Label5 = new QLabel(QStringLiteral("用户权限中“1”为管理员权限，“2”为普通用户权限，\"3\"在金额超"), this);
    Label5->setFont(platform::kaiTi(11));
    Label2 = new QLabel(QStringLiteral("过25时候就会提示！要删除项时按Delete键"), this);
    Label2->setFont(platform::kaiTi(11));

    DataGrid2 = new platform::DataGrid(services.boxes, this);
    DataGrid2->setCaption(QStringLiteral("上网卡管理"));
    DataGrid2->setEditable(true);

    Command2 = new QPushButton(QStringLiteral("查看记录"), this);
    Command1 = new QPushButton(QStringLiteral("退  出"), this);
    Label4 = new QLabel(QStringLiteral("非常感谢你的支持！作者 Zendrik：zendrik@horavo.example.org"), this);
    Label3 = new platform::LinkLabel(QStringLiteral("版权所有 © Zendrik 工作室，保留所有权利"), this);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(Command2);
    buttons->addSpacing(40);
    buttons->addWidget(Command1);
    buttons->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addWidget(DataGrid1, 1);
    layout->addWidget(Label5);
    layout->addWidget(Label2);
    layout->addWidget(DataGrid2, 1);
    layout->addLayout(buttons);
    layout->addWidget(Label4, 0, Qt::AlignHCenter);
    layout->addWidget(Label3, 0, Qt::AlignHCenter);

    onEvent(Command1, &QPushButton::clicked, &Form4::Command1_Click);
    onEvent(Command2, &QPushButton::clicked, &Form4::Command2_Click);
    onEvent(Label3, &platform::LinkLabel::clicked, &Form4::Label3_Click);

    resize(600, 640);
}

Form4::~Form4()
{
    DataGrid1->setRecordSet(nullptr);
    DataGrid2->setRecordSet(nullptr);
}

void Form4::Form_Load()
{
    const auto prices = store::Esql(QStringLiteral("select * from knumber"), store::DatabaseAddress::forAdministration());

    users_ = store::Esql(QStringLiteral("select iuser as 用户,passw as 密码,quanxian as 用户权限 from users"), store::DatabaseAddress::forAdministration());
    DataGrid1->setRecordSet(users_.get());

    accounts_ = store::Esql(
        QStringLiteral("select kuser as 上网帐号,kpassw as 帐号密码,useyn as 使用与否 ,price as 单价元 from knumber"),
        store::DatabaseAddress::forAdministration());
    DataGrid2->setRecordSet(accounts_.get());

    // The row the fresh record set stands on: its first, or none at all.
    services_.session.gprice = prices->atEnd() ? horavo::kFallbackPrice : horavo::unitPrice(prices->value(QStringLiteral("price")));

    forms().unload(windows::login);
}

void Form4::Command1_Click()
{
    unload();
}

void Form4::Command2_Click()
{
    forms().show(windows::records);
    unload();
}

void Form4::Label3_Click()
{
    services_.launcher.openPage(publisher::homePage());
}

} // namespace tallyon
