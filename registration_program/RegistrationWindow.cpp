#include "registration_program/RegistrationWindow.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "platform/MessageBoxes.h"
#include "platform/Program.h"
#include "platform/widgets/Fonts.h"
#include "rules/Permission.h"
#include "store/Esql.h"
#include "store/RecordSet.h"
#include "store/SqlText.h"

namespace signova {

Form1::Form1(platform::Forms& forms, platform::MessageBoxes& boxes, platform::Program& program,
             QWidget* parent)
    : Form(forms, boxes, parent), program_(program)
{
    setWindowTitle(QStringLiteral("注册"));

    Label2 = new QLabel(QStringLiteral("用户注册界面"), this);
    Label2->setFont(platform::kaiTi(15, true));
    Label2->setAlignment(Qt::AlignCenter);
    Label1[0] = new QLabel(QStringLiteral("用 户 名："), this);
    Label1[1] = new QLabel(QStringLiteral("二次密码："), this);
    Label1[2] = new QLabel(QStringLiteral("密    码："), this);
    Text1 = new QLineEdit(this);
    Text3 = new QLineEdit(this);
    Text2 = new QLineEdit(this);
    platform::makePasswordBox(*Text3);
    platform::makePasswordBox(*Text2);
    // A screen reader names each box by its label.
    Label1[0]->setBuddy(Text1);
    Label1[2]->setBuddy(Text3);
    Label1[1]->setBuddy(Text2);
    Command1 = new QPushButton(QStringLiteral("注  册"), this);
    Command2 = new QPushButton(QStringLiteral("取  消"), this);

    auto* fields = new QGridLayout;
    fields->addWidget(Label1[0], 0, 0);
    fields->addWidget(Text1, 0, 1);
    fields->addWidget(Label1[2], 1, 0);
    fields->addWidget(Text3, 1, 1);
    fields->addWidget(Label1[1], 2, 0);
    fields->addWidget(Text2, 2, 1);
    fields->setColumnMinimumWidth(1, 180);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Command1);
    buttons->addWidget(Command2);
    buttons->addStretch();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 16, 24, 16);
    layout->setSpacing(12);
    layout->addWidget(Label2);
    layout->addLayout(fields);
    layout->addLayout(buttons);

    setDefaultButton(Command1);
    setTabOrder(Text1, Text3);
    setTabOrder(Text3, Text2);
    setTabOrder(Text2, Command1);
    setTabOrder(Command1, Command2);
    Text1->setFocus();

    onEvent(Command1, &QPushButton::clicked, &Form1::Command1_Click);
    onEvent(Command2, &QPushButton::clicked, &Form1::Command2_Click);
}

Form1::~Form1() = default;

bool Form1::yzuser(const store::Transaction& transaction, const QString& yzuser1)
{
    const auto found = transaction.esql(QStringLiteral("select * from users where iuser='")
                                   + store::escapeQuotes(yzuser1) + QStringLiteral("'"));
    return !found->atEnd();
}

void Form1::inputsj(const store::Transaction& transaction, const QString& zusername, const QString& zpassw)
{
    lastInsert_ = transaction.esql(QStringLiteral("select * from users"));
    lastInsert_->addNew();
    lastInsert_->setValue(QStringLiteral("iuser"), zusername);
    lastInsert_->setValue(QStringLiteral("passw"), zpassw);
    lastInsert_->setValue(QStringLiteral("quanxian"), horavo::codeOf(horavo::kSignUpPermission));
    lastInsert_->update();
}

void Form1::Command1_Click()
{
    if (Text1->text().isEmpty() || Text2->text().isEmpty() || Text3->text().isEmpty()) {
        boxes().show(QStringLiteral("对不起用户名和密码都不能为空！"), QStringLiteral("提示"));
        return;
    }
    if (Text2->text() != Text3->text()) {
        boxes().show(QStringLiteral("你两次输入的密码不一样请重新输入！"));
        return;
    }
    bool taken = false;
    store::inOneTransaction([&](const store::Transaction& transaction) {
        taken = yzuser(transaction, Text1->text());
        if (!taken)
            inputsj(transaction, Text1->text(), Text2->text());
    });
    if (taken) {
        boxes().show(QStringLiteral("该用户已经存在，请重新输入！"));
        Text1->setFocus();
        return;
    }
    boxes().show(QStringLiteral("注册成功！"), QStringLiteral("注册成功"));
    program_.endAtOnce();
}

void Form1::Command2_Click()
{
    program_.endAtOnce();
}

} // namespace signova
