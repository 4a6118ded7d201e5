#include "platform/process/ProgramSearch.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

namespace platform {

namespace {

bool isExecutableFile(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat info {};
    return ::stat(native.constData(), &info) == 0 && S_ISREG(info.st_mode)
        && ::access(native.constData(), X_OK) == 0;
}

QString executableFolder()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    return QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath()).path();
}

QStringList pathFolders()
{
    return qEnvironmentVariable("PATH").split(QLatin1Char(':'), Qt::SkipEmptyParts);
}

} // namespace

QString findProgram(const QString& name, ProgramOrigin origin)
{
    if (name.isEmpty())
        return {};
    if (name.contains(QLatin1Char('/')))
        return isExecutableFile(name) ? name : QString();

    QStringList folders;
    if (origin == ProgramOrigin::OwnProgram) {
        folders << executableFolder();
#ifdef HORAVO_LIBEXEC_DIR
        folders << QStringLiteral(HORAVO_LIBEXEC_DIR);
#endif
        folders << pathFolders();
    } else {
        folders << pathFolders() << QStringLiteral("/usr/sbin") << QStringLiteral("/sbin");
    }
    for (const QString& folder : folders) {
        const QString candidate = folder + QLatin1Char('/') + name;
        if (isExecutableFile(candidate))
            return candidate;
    }
    return {};
}

} // namespace platform
