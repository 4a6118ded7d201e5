#include "platform/widgets/LinuxProgramLauncher.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

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

} // namespace

void LinuxProgramLauncher::startSignova()
{
    const QString& name = signovaName_;
    const QString program = findSibling(name);
    if (program.isEmpty())
        throw LaunchError(QStringLiteral("无法启动程序“%1”：找不到该程序。").arg(name));
    if (!QProcess::startDetached(program, {}))
        throw LaunchError(QStringLiteral("无法启动程序“%1”（%2）。").arg(name, program));
}

void LinuxProgramLauncher::openPage(const QUrl& address)
{
    if (!QDesktopServices::openUrl(address))
        throw LaunchError(QStringLiteral("无法打开浏览器显示网页：%1").arg(address.toString()));
}

} // namespace platform
