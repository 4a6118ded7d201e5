#include "platform/OtherCopy.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>

namespace platform {

namespace {

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// $XDG_RUNTIME_DIR, or a folder of the user's own under the temporary folder.
QString lockFolder()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty())
        return runtime;

    const QString folder = QDir(QDir::tempPath()).filePath(QStringLiteral("horavo-%1").arg(::getuid()));
    const QByteArray native = QFile::encodeName(folder);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST) {
        throw OtherCopyError(QStringLiteral("无法建立文件夹“%1”（%2），无法确认程序是否已经在运行。")
                                 .arg(folder, errnoText(errno)));
    }
    struct stat info {};
    if (::lstat(native.constData(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::getuid()
        || (info.st_mode & 077) != 0) {
        throw OtherCopyError(QStringLiteral("文件夹“%1”不是只属于你的文件夹（它属于别的用户，或者别人也能写入），"
                                            "程序不在那里建立锁文件，无法确认程序是否已经在运行。")
                                 .arg(folder));
    }
    return folder;
}

} // namespace

LockFileOtherCopy::LockFileOtherCopy(const QString& programName) : programName_(programName) {}

LockFileOtherCopy::~LockFileOtherCopy() = default;

QString LockFileOtherCopy::lockPath() const
{
    return QDir(lockFolder()).filePath(QStringLiteral("%1-%2.lock").arg(programName_).arg(::getuid()));
}

bool LockFileOtherCopy::running()
{
    if (lock_ && lock_->isLocked())
        return false;
    const QString path = lockPath();
    lock_ = std::make_unique<QLockFile>(path);
    // A lock left by a copy that crashed names a process that is gone: QLockFile sees
    // that and takes it over.
    lock_->setStaleLockTime(0);
    if (lock_->tryLock(0)) {
        listen();
        return false;
    }
    if (lock_->error() == QLockFile::LockFailedError)
        return true;
    // Only a lock held by a live process is another copy; anything else is said as it is.
    const QString folder = QFileInfo(path).absolutePath();
    const QString why = lock_->error() == QLockFile::PermissionError ? QStringLiteral("没有在那里写入的权限")
                                                                      : QStringLiteral("无法建立或读取锁文件");
    lock_.reset();
    throw OtherCopyError(QStringLiteral("无法在文件夹“%1”中建立程序的锁文件（%2），无法确认程序是否已经在运行。")
                             .arg(folder, why));
}

QString LockFileOtherCopy::socketPath() const
{
    return QDir(lockFolder()).filePath(QStringLiteral("%1-%2.socket").arg(programName_).arg(::getuid()));
}

void LockFileOtherCopy::listen()
{
    // Only the holder of the lock gets here, so a socket file left there is a dead copy's.
    const QString path = socketPath();
    QLocalServer::removeServer(path);
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    QObject::connect(server_.get(), &QLocalServer::newConnection, server_.get(), [this] {
        while (QLocalSocket* asking = server_->nextPendingConnection()) {
            asking->disconnectFromServer();
            asking->deleteLater();
            if (askedToShow_)
                askedToShow_();
        }
    });
    // Without the socket the program still runs as one copy; a second start then only
    // says that it runs.
    if (!server_->listen(path))
        server_.reset();
}

void LockFileOtherCopy::askToShow()
{
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    if (socket.waitForConnected(1000))
        socket.disconnectFromServer();
}

void LockFileOtherCopy::onAskedToShow(std::function<void()> handler)
{
    askedToShow_ = std::move(handler);
}

} // namespace platform
