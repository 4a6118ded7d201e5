#include <cstdio>
#include <memory>

#include <QApplication>

#include "Clock.h"
#include "Fonts.h"
#include "Forms.h"
#include "MakeLineService.h"
#include "MessageBoxes.h"
#include "MinuteTimer.h"
#include "OtherCopy.h"
#include "PipeCommandRunner.h"
#include "Program.h"
#include "ProgramIcon.h"
#include "ProgramLauncher.h"
#include "QtTrayIcon.h"
#include "Services.h"
#include "Session.h"
#include "WindowNames.h"
#include "Windows.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tallyon"));
    QApplication::setApplicationVersion(QStringLiteral("%1.%2.%3")
                                            .arg(HORAVO_VERSION_MAJOR)
                                            .arg(HORAVO_VERSION_MINOR)
                                            .arg(HORAVO_VERSION_PATCH));
    QApplication::setWindowIcon(tallyon::programIcon());
    // The timer window lives hidden behind its icon; the program ends by its own rules.
    QApplication::setQuitOnLastWindowClosed(false);
    platform::installFontSubstitutions();

    platform::QtProgram program;
    platform::QtMessageBoxes boxes(tallyon::windows::applicationTitle);

    std::unique_ptr<platform::DialableLine> line;
    try {
        line = platform::makeLineService();
    } catch (const platform::LineChoiceError& error) {
        boxes.show(error.message());
        return 2;
    }

    platform::Forms forms(program);
    platform::LinuxProgramLauncher launcher;
    platform::LockFileOtherCopy otherCopy(QStringLiteral("tallyon"));
    platform::SystemClock clock;
    tallyon::PipeCommandRunner runner;
    tallyon::Session session;
    const int tickOverride = platform::tickOverrideFromEnvironment();

    tallyon::Services services{
        forms, boxes, program, launcher, otherCopy, clock, *line, runner, session,
        [tickOverride] { return std::make_unique<platform::QtTimer>(tickOverride); },
        [] { return std::make_unique<platform::QtTrayIcon>(); }};

    tallyon::defineWindows(services);
    forms.show(tallyon::windows::login);
    return app.exec();
}
