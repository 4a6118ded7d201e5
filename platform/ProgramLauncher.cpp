#include "ProgramLauncher.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

namespace platform {

namespace {

// A program of our own: the one beside the running executable, else the one on PATH.
QString findSibling(const QString& name)
{
    const QString beside = QDir(QCoreApplication::applicationDirPath()).filePath(name);
    const QFileInfo info(beside);
    if (info.isFile() && info.isExecutable())
        return beside;
    return QStandardPaths::findExecutable(name);
}

void startDetached(const QString& program, const QStringList& arguments, const QString& shownName)
{
    if (program.isEmpty())
        throw LaunchError(QStringLiteral("无法启动程序“%1”：找不到该程序。").arg(shownName));
    if (!QProcess::startDetached(program, arguments))
        throw LaunchError(QStringLiteral("无法启动程序“%1”（%2）。").arg(shownName, program));
}

} // namespace

void LinuxProgramLauncher::start(const QString& commandLine)
{
    const QString signova = QString::fromLatin1(kSignovaCommand);
    const QString browser = QString::fromLatin1(kBrowserPath);

    if (commandLine.compare(signova, Qt::CaseInsensitive) == 0) {
        startDetached(findSibling(QStringLiteral("signova")), {}, signova);
        return;
    }
    if (commandLine.startsWith(browser, Qt::CaseInsensitive)) {
        const QString address = commandLine.mid(browser.size()).trimmed();
        if (!QDesktopServices::openUrl(QUrl(address)))
            throw LaunchError(QStringLiteral("无法打开浏览器显示网页：%1").arg(address));
        return;
    }
    QStringList words = commandLine.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty())
        return;
    const QString program = words.takeFirst();
    startDetached(findSibling(program), words, program);
}

} // namespace platform
