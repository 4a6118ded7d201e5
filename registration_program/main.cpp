#include <QApplication>
#include <QIcon>

#include "platform/MessageBoxes.h"
#include "platform/Program.h"
#include "platform/widgets/Desktop.h"
#include "platform/widgets/Forms.h"
#include "platform/widgets/QtMessageBoxes.h"
#include "registration_program/RegistrationWindow.h"

int main(int argc, char** argv)
{
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
