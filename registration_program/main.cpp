#include <QApplication>
#include <QIcon>

#include "platform/InformationOptions.h"
#include "platform/MessageBoxes.h"
#include "platform/Program.h"
#include "platform/widgets/Desktop.h"
#include "platform/widgets/Forms.h"
#include "platform/widgets/QtMessageBoxes.h"
#include "registration_program/RegistrationWindow.h"

namespace {

const char* const kUsage =
    "用法：signova [--help | --version]\n"
    "注册：新用户在这里为自己建立 Pomerix 的账号。\n"
    "  --help      显示本说明\n"
    "  --version   显示版本\n"
    "数据库由设置文件 /etc/horavo/horavo.conf 的 database 选定，\n"
    "环境变量 HORAVO_DATABASE 不为空时优先（详见 man signova）。\n";

} // namespace

int main(int argc, char** argv)
{
    if (const auto answered =
            platform::answerInformationOptions(argc, argv, QStringLiteral("signova"), QString::fromUtf8(kUsage)))
        return *answered;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("signova"));
    QApplication::setQuitOnLastWindowClosed(false);
    QIcon icon;   // its own, as on the desktop's menu
    for (const int size : {16, 32, 48, 256})
        icon.addFile(QStringLiteral(":/signova/icons/signova-%1.png").arg(size), QSize(size, size));
    QApplication::setWindowIcon(icon);
    platform::prepareDesktop();

    platform::QtProgram program;
    platform::QtMessageBoxes boxes(QStringLiteral("注册"));
    platform::Forms forms(program);
    forms.define(QStringLiteral("Form1"), [&] { return new signova::Form1(forms, boxes, program); });
    forms.show(QStringLiteral("Form1"));
    return app.exec();
}
