#include "platform/OtherCopy.h"

#include <unistd.h>

#include <QDir>
#include <QLockFile>
#include <QStandardPaths>

namespace platform {

namespace {

QString lockFolder()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return folder;
}

} // namespace

LockFileOtherCopy::LockFileOtherCopy(const QString& programName)
    : path_(QDir(lockFolder()).filePath(QStringLiteral("%1-%2.lock").arg(programName).arg(::getuid())))
{
}

LockFileOtherCopy::~LockFileOtherCopy() = default;

bool LockFileOtherCopy::running()
{
    if (lock_ && lock_->isLocked())
        return false;
    lock_ = std::make_unique<QLockFile>(path_);
    // A lock left by a copy that crashed names a process that is gone: QLockFile sees
    // that and takes it over.
    lock_->setStaleLockTime(0);
    return !lock_->tryLock(0);
}

QString LockFileOtherCopy::lockPath() const
{
    return path_;
}

} // namespace platform
