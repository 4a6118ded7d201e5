#pragma once

#include <QDeadlineTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

namespace doubles {

// Shell scripts written by a test, in a folder of their own: they are started directly,
// as any program would be; the shell only runs the script's own lines.
class ScriptFolder {
public:
    QString write(const QString& name, const QString& body, bool executable = true) const
    {
        const QString path = dir_.filePath(name);
        QFile file(path);
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write("#!/bin/sh\n" + body.toUtf8() + "\n");
        file.close();
        QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner;
        if (executable)
            permissions |= QFile::ExeOwner;
        file.setPermissions(permissions);
        return path;
    }
    QString path() const { return dir_.path(); }

private:
    QTemporaryDir dir_;
};

// True once the process has ended and been reaped (not left a zombie).
inline bool goneWithin(qint64 pid, int milliseconds)
{
    QDeadlineTimer deadline(milliseconds);
    while (!deadline.hasExpired()) {
        if (!QFile::exists(QStringLiteral("/proc/%1").arg(pid)))
            return true;
        QThread::msleep(20);
    }
    return false;
}

} // namespace doubles
