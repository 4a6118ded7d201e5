#include <cstdio>
#include <memory>

#include <QApplication>

#include "main_program/app/Windows.h"
#include "main_program/common/Services.h"
#include "main_program/common/Session.h"
#include "main_program/common/WindowNames.h"
#include "main_program/dialer/PipeCommandRunner.h"
#include "main_program/timer/ProgramIcon.h"
#include "platform/Clock.h"
#include "platform/MessageBoxes.h"
#include "platform/InformationOptions.h"
#include "platform/MinuteTimer.h"
#include "platform/OtherCopy.h"
#include "platform/Program.h"
#include "platform/line/MakeLineService.h"
#include "platform/tray/QtTrayIcon.h"
#include "platform/widgets/Desktop.h"
#include "platform/widgets/Forms.h"
#include "platform/widgets/LinuxProgramLauncher.h"
#include "platform/widgets/QtMessageBoxes.h"
#include "rules/Version.h"

namespace {

const char* const kUsage =
    "用法：tallyon [--help | --version]\n"
    "Pomerix：登录、拨号宽带连接并按分钟记录上网时间。\n"
    "  --help      显示本说明\n"
    "  --version   显示版本\n"
    "数据库和线路由设置文件 /etc/horavo/horavo.conf 的 database、line 选定，\n"
    "环境变量 HORAVO_DATABASE、TALLYON_LINE 不为空时优先（详见 man tallyon）。\n";

} // namespace

int main(int argc, char** argv)
{
    if (const auto answered =
            platform::answerInformationOptions(argc, argv, QStringLiteral("tallyon"), QString::fromUtf8(kUsage)))
        return *answered;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tallyon"));
    QApplication::setApplicationVersion(horavo::version());
    QApplication::setWindowIcon(tallyon::programIcon());
    // The timer window lives hidden behind its icon; the program ends by its own rules.
    QApplication::setQuitOnLastWindowClosed(false);
    platform::prepareDesktop();

    platform::QtProgram program;
    platform::QtMessageBoxes boxes(tallyon::windows::applicationTitle);

    // The program's log: one line on standard error per event, which a desktop session's
    // journal keeps.
    const auto log = [](const QString& line) {
        const QByteArray text = QStringLiteral("tallyon: %1\n").arg(line).toLocal8Bit();
        std::fwrite(text.constData(), 1, std::size_t(text.size()), stderr);
        std::fflush(stderr);
    };

    std::unique_ptr<platform::DialableLine> line;
    horavo::Setting lineChoice;
    try {
        lineChoice = platform::chosenLine();
        line = platform::makeLineService(lineChoice.value, lineChoice.origin);
    } catch (const platform::LineChoiceError& error) {
        boxes.show(error.message());
        return 2;
    }
    const platform::MinuteTick tick = platform::minuteTickFor(lineChoice.value, qEnvironmentVariable(platform::kTickVariable));
    if (!tick.ignored.isEmpty())
        log(tick.ignored);

    platform::Forms forms(program);
    platform::LinuxProgramLauncher launcher;
    platform::LockFileOtherCopy otherCopy(QStringLiteral("tallyon"));
    platform::SystemClock clock;
    tallyon::PipeCommandRunner runner;
    tallyon::Session session;

    tallyon::Services services{
        forms, boxes, program, launcher, otherCopy, clock, *line, runner, session,
        [tickOverride = tick.overrideMs] { return std::make_unique<platform::QtTimer>(tickOverride); },
        [] { return std::make_unique<platform::QtTrayIcon>(); },
        log};

    tallyon::defineWindows(services);
    forms.show(tallyon::windows::login);
    return app.exec();
}
