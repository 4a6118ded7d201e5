#include "platform/widgets/LinuxProgramLauncher.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

extern char** environ;

namespace platform {

namespace {

constexpr int kOpenerWaitMs = 4000;

// A program of our own: the one beside the running executable, else the one on PATH.
QString findSibling(const QString& name)
{
    const QString beside = QDir(QCoreApplication::applicationDirPath()).filePath(name);
    const QFileInfo info(beside);
    if (info.isFile() && info.isExecutable())
        return beside;
    return QStandardPaths::findExecutable(name);
}

struct Ending {
    int status = 0;      // as waitpid gives it
    QByteArray output;   // standard output and standard error together
};

// Runs program with one argument, its output on a pipe, and hands back how it ended from
// a thread of its own, which also reaps it whenever it ends.
std::future<Ending> spawnWatched(const QString& program, const QString& argument)
{
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        throw LaunchError(QStringLiteral("无法启动程序“%1”。").arg(program));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
    const QByteArray path = QFile::encodeName(program);
    const QByteArray arg = argument.toLocal8Bit();
    std::vector<char*> argv{const_cast<char*>(path.constData()), const_cast<char*>(arg.constData()), nullptr};
    pid_t child = 0;
    const int spawned = ::posix_spawn(&child, path.constData(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (spawned != 0) {
        ::close(pipeFds[0]);
        throw LaunchError(QStringLiteral("无法启动程序“%1”。").arg(program));
    }
    std::promise<Ending> promise;
    std::future<Ending> future = promise.get_future();
    std::thread([child, fd = pipeFds[0], promise = std::move(promise)]() mutable {
        Ending ending;
        char buffer[4096];
        ssize_t got = 0;
        while ((got = ::read(fd, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR)) {
            if (got > 0 && ending.output.size() < 65536)
                ending.output.append(buffer, got);
        }
        ::close(fd);
        while (::waitpid(child, &ending.status, 0) < 0 && errno == EINTR) {
        }
        promise.set_value(std::move(ending));
    }).detach();
    return future;
}

QString lastLine(const QByteArray& output)
{
    const QStringList lines = QString::fromLocal8Bit(output).split(u'\n', Qt::SkipEmptyParts);
    return lines.isEmpty() ? QString() : lines.last().trimmed();
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
    const QString page = address.toString(QUrl::FullyEncoded);
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (opener.isEmpty())
        throw LaunchError(QStringLiteral("无法打开浏览器显示网页：%1（找不到 xdg-open）").arg(page));

    std::future<Ending> ended = spawnWatched(opener, page);
    // The window's events go on while xdg-open hands the page over.
    QElapsedTimer waited;
    waited.start();
    while (ended.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) {
        if (waited.elapsed() >= kOpenerWaitMs)
            return;   // the browser itself runs in xdg-open's place
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    const Ending ending = ended.get();
    if (WIFEXITED(ending.status) && WEXITSTATUS(ending.status) == 0)
        return;
    QString why = lastLine(ending.output);
    if (why.isEmpty()) {
        why = WIFEXITED(ending.status) ? QStringLiteral("xdg-open 退出码 %1").arg(WEXITSTATUS(ending.status))
                                       : QStringLiteral("xdg-open 被信号 %1 终止").arg(WTERMSIG(ending.status));
    }
    throw LaunchError(QStringLiteral("无法打开浏览器显示网页：%1（%2）").arg(page, why));
}

} // namespace platform
