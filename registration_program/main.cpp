#include <QApplication>

#include "Forms.h"
#include "MessageBoxes.h"
#include "Program.h"
#include "Fonts.h"
#include "RegistrationWindow.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("signova"));
    QApplication::setQuitOnLastWindowClosed(false);
    platform::installFontSubstitutions();

    platform::QtProgram program;
    platform::QtMessageBoxes boxes(QStringLiteral("注册"));
    platform::Forms forms(program);
    forms.define(QStringLiteral("Form1"), [&] { return new signova::Form1(forms, boxes, program); });
    forms.show(QStringLiteral("Form1"));
    return app.exec();
}
