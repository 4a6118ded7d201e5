#include "main_program/login/LoginWindow.h"

#include <cmath>
#include <limits>
#include <optional>

#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "main_program/common/PublisherPages.h"
#include "main_program/common/Services.h"
#include "main_program/common/Session.h"
#include "main_program/common/WindowNames.h"
#include "platform/MessageBoxes.h"
#include "platform/OtherCopy.h"
#include "platform/Program.h"
#include "platform/ProgramLauncher.h"
#include "platform/widgets/Fonts.h"
#include "platform/widgets/Forms.h"
#include "rules/Amount.h"
#include "rules/Minutes.h"
#include "rules/NumberFormat.h"
#include "rules/Permission.h"
#include "store/DatabaseAddress.h"
#include "store/Esql.h"
#include "store/SeatRole.h"
#include "store/SqlText.h"

namespace tallyon {

namespace {

// A permission code as the login acts on it: a stored value that is no 16-bit whole
// number (none at all, text, a fraction, out of range) is an unknown code, which opens
// nothing.
qint16 permissionCode(const QVariant& stored)
{
    if (stored.isNull())
        return 0;
    qlonglong code = 0;
    if (stored.typeId() == QMetaType::Double || stored.typeId() == QMetaType::Float) {
        const double value = stored.toDouble();
        if (!std::isfinite(value) || std::trunc(value) != value || std::fabs(value) > 1e6)
            return 0;
        code = static_cast<qlonglong>(value);
    } else {
        bool ok = false;
        code = stored.toLongLong(&ok);
        if (!ok)
            return 0;
    }
    if (code < std::numeric_limits<qint16>::min() || code > std::numeric_limits<qint16>::max())
        return 0;
    return static_cast<qint16>(code);
}

} // namespace

Form1::Form1(Services& services, QWidget* parent)
    : Form(services.forms, services.boxes, parent), services_(services)
{
    setWindowTitle(QStringLiteral("登录界面 by Zendrik"));

    Label1 = new QLabel(QStringLiteral("用户登录"), this);
    Label1->setFont(platform::kaiTi(18, true));
    Label1->setAlignment(Qt::AlignCenter);
    Label2 = new QLabel(QStringLiteral("用户名："), this);
    Text1 = new QLineEdit(this);
    Label3 = new QLabel(QStringLiteral("密  码："), this);
    Text2 = new QLineEdit(this);
    platform::makePasswordBox(*Text2);
    // A screen reader names each box by its label.
    Label2->setBuddy(Text1);
    Label3->setBuddy(Text2);
    Command3 = new QPushButton(QStringLiteral("查  询"), this);
    Command1 = new QPushButton(QStringLiteral("登  录"), this);
    Command2 = new QPushButton(QStringLiteral("取  消"), this);
    Label4 = new platform::LinkLabel(QStringLiteral("Zendrik 出品"), this);
    Command4 = new QPushButton(QStringLiteral("注册"), this);
    Command4->setMaximumWidth(60);

    auto* fields = new QGridLayout;
    fields->addWidget(Label2, 0, 0);
    fields->addWidget(Text1, 0, 1);
    fields->addWidget(Label3, 1, 0);
    fields->addWidget(Text2, 1, 1);
    fields->setColumnMinimumWidth(1, 180);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(Command3);
    buttons->addWidget(Command1);
    buttons->addWidget(Command2);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(Label4);
    bottom->addStretch();
    bottom->addWidget(Command4);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 16, 24, 12);
    layout->setSpacing(12);
    layout->addWidget(Label1);
    layout->addLayout(fields);
    layout->addLayout(buttons);
    layout->addLayout(bottom);

    setDefaultButton(Command1);
    setCancelButton(Command2);
    setTabOrder(Text1, Text2);
    setTabOrder(Text2, Command1);
    setTabOrder(Command1, Command2);
    setTabOrder(Command2, Command3);
    setTabOrder(Command3, Command4);
    Text1->setFocus();

    onEvent(Command1, &QPushButton::clicked, &Form1::Command1_Click);
    onEvent(Command2, &QPushButton::clicked, &Form1::Command2_Click);
    onEvent(Command3, &QPushButton::clicked, &Form1::Command3_Click);
    onEvent(Command4, &QPushButton::clicked, &Form1::Command4_Click);
    onEvent(Label4, &platform::LinkLabel::clicked, &Form1::Label4_Click);
}

void Form1::Form_Load()
{
    if (services_.otherCopy.running()) {
        boxes().show(QStringLiteral("程序已经运行！！！"), windows::applicationTitle);
        services_.otherCopy.askToShow();
        services_.program.endAtOnce();
        return;
    }
    // Another start asks this copy for its window: the timer window while it counts
    // behind its icon, else whichever window is open.
    services_.otherCopy.onAskedToShow([&forms = forms()] { forms.bringForward(windows::timer); });
}

bool Form1::loginyz(const QString& name, const QString& password)
{
    const auto users = store::Esql(QStringLiteral("select * from users where iuser='")
                                   + store::escapeQuotes(name) + QStringLiteral("'"));
    if (users->atEnd())
        return false;
    // A password with no value at all is an empty password, not any password.
    const QString stored = users->value(QStringLiteral("passw")).toString();
    if (stored != password)
        return false;
    permission_ = permissionCode(users->value(QStringLiteral("quanxian")));
    return true;
}

bool Form1::credentialsAccepted(const QString& refusal)
{
    if (Text1->text().isEmpty() && Text2->text().isEmpty()) {
        boxes().show(QStringLiteral("用户名和密码不能为空!"), QStringLiteral("警告"));
        return false;
    }
    if (!loginyz(Text1->text(), Text2->text())) {
        boxes().show(refusal, QStringLiteral("登录错误"));
        Text1->setFocus();
        return false;
    }
    services_.session.guser = Text1->text();
    return true;
}

void Form1::Command1_Click()
{
    if (!credentialsAccepted(QStringLiteral("登录失败,用户名和密码不正确！")))
        return;
    const std::optional<horavo::Permission> permission = horavo::permissionOf(permission_);
    if (!permission)
        return;
    switch (*permission) {
    case horavo::Permission::Administrator:
        // At a seat of a room whose seats connect as the seats' role, the grids could
        // not save: the administrator is told where to go instead.
        if (!store::mayAdminister(store::DatabaseAddress::forAdministration())) {
            boxes().show(QStringLiteral("这台电脑是座位，座位的数据库角色不能管理用户和记录。请到管理员的电脑上登录"
                                        "（那里的设置 HORAVO_ADMIN_DATABASE 指向管理员角色的数据库地址），"
                                        "或在那里用 horavo-setup。"),
                         windows::applicationTitle);
            break;
        }
        forms().show(windows::administration);
        break;
    case horavo::Permission::RemindedUser:
        usageReminder();
        [[fallthrough]];
    case horavo::Permission::User:
        forms().load(windows::timer);
        break;
    case horavo::Permission::NotAdmitted:
        boxes().show(QStringLiteral("对不起，你的权限不够，或者你的用户名没有通过管理员审核！"),
                     windows::applicationTitle);
        services_.program.endAtOnce();
        break;
    }
}

void Form1::usageReminder()
{
    const auto rows = store::Esql(QStringLiteral("select * from internet where iuser='")
                                  + store::escapeQuotes(services_.session.guser) + QStringLiteral("'"));
    horavo::MinutesTotal minutes;
    horavo::addMinutesOfRows(minutes, *rows, QStringLiteral("itime"));
    if (minutes.overflowed())
        boxes().show(horavo::totalTooLargeText(), windows::applicationTitle);
    const double hours = horavo::hoursOf(minutes.value());
    if (hours > 500.0) {
        boxes().show(QStringLiteral("请注意，你现在已经使用") + horavo::formatDouble(hours) + QStringLiteral("小时！！"),
                     windows::applicationTitle);
    }
}

void Form1::Command2_Click()
{
    services_.program.endAtOnce();
}

void Form1::Command3_Click()
{
    if (credentialsAccepted(QStringLiteral("登录查询失败,用户名和密码不正确！")))
        forms().show(windows::history);
}

void Form1::Command4_Click()
{
    services_.launcher.startSignova();
}

void Form1::Label4_Click()
{
    services_.launcher.openPage(publisher::homePage());
}

} // namespace tallyon
