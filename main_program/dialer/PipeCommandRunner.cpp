#include "main_program/dialer/PipeCommandRunner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>
#include <vector>

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include "platform/line/LocaleCharset.h"

extern char** environ;

namespace tallyon {

namespace {

// How long one wait for output lasts before window events get their turn again.
constexpr int kEventPumpMilliseconds = 50;

class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    ~FileDescriptor() { close(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return fd_; }
    void close()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    // Moves the descriptor above the standard ones, so that setting up the child's
    // standard streams cannot overwrite it.
    void liftAboveStandardStreams()
    {
        if (fd_ >= 0 && fd_ <= STDERR_FILENO) {
            const int lifted = fcntl(fd_, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
            if (lifted >= 0) {
                ::close(fd_);
                fd_ = lifted;
            }
        }
    }

private:
    int fd_;
};

class SpawnSetup {
public:
    SpawnSetup()
    {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    ~SpawnSetup()
    {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
};

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

void pumpWindowEvents()
{
    if (QCoreApplication::instance())
        QCoreApplication::processEvents();
}

// The child is not waited for, yet must not stay a zombie once it ends: a child still
// running when its output ends is reaped by a thread of its own.
void reapWhenEnded(pid_t pid)
{
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) != 0)
        return;
    std::thread([pid] {
        int childStatus = 0;
        while (waitpid(pid, &childStatus, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

QString trimBlanks(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) == QLatin1Char(' '))
        ++begin;
    while (end > begin && text.at(end - 1) == QLatin1Char(' '))
        --end;
    return text.mid(begin, end - begin);
}

} // namespace

QStringList PipeCommandRunner::splitWords(const QString& command)
{
    static const QRegularExpression blanks(QStringLiteral("[ \\t]+"));
    return command.split(blanks, Qt::SkipEmptyParts);
}

QString PipeCommandRunner::findProgram(const QString& name)
{
    if (name.isEmpty())
        return {};
    if (name.contains(QLatin1Char('/')))
        return isExecutableFile(name) ? name : QString();

    QStringList folders{executableFolder()};
    const QString path = qEnvironmentVariable("PATH");
    for (const QString& folder : path.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        folders << folder;
    for (const QString& folder : folders) {
        const QString candidate = folder + QLatin1Char('/') + name;
        if (isExecutableFile(candidate))
            return candidate;
    }
    return {};
}

QString PipeCommandRunner::runcmd(const QString& command, int readSize, int timeLimit)
{
    Q_UNUSED(timeLimit)
    if (command.isEmpty())
        return {};

    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        return pipeFailedText(errno);
    FileDescriptor readEnd(ends[0]);
    FileDescriptor writeEnd(ends[1]);
    readEnd.liftAboveStandardStreams();
    writeEnd.liftAboveStandardStreams();

    const QStringList words = splitWords(command);
    const QString program = words.isEmpty() ? QString() : findProgram(words.first());
    if (program.isEmpty())
        return commandNotFoundText();

    QStringEncoder encoder = platform::localeEncoder();
    std::vector<QByteArray> arguments;
    arguments.reserve(std::size_t(words.size()));
    for (const QString& word : words)
        arguments.push_back(encoder.encode(word));
    std::vector<char*> argv;
    for (QByteArray& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    const QByteArray programPath = QFile::encodeName(program);

    SpawnSetup setup;
    posix_spawn_file_actions_adddup2(&setup.actions, writeEnd.get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&setup.actions, writeEnd.get(), STDERR_FILENO);
    posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    sigset_t noSignals;
    sigemptyset(&noSignals);
    sigset_t defaultSignals;
    sigemptyset(&defaultSignals);
    for (int signal : {SIGPIPE, SIGCHLD, SIGHUP, SIGINT, SIGQUIT, SIGTERM})
        sigaddset(&defaultSignals, signal);
    posix_spawnattr_setsigmask(&setup.attributes, &noSignals);
    posix_spawnattr_setsigdefault(&setup.attributes, &defaultSignals);
    posix_spawnattr_setflags(&setup.attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t child = 0;
    // glibc's posix_spawn reports a failed exec as its own result.
    const int spawnError = posix_spawn(&child, programPath.constData(), &setup.actions,
                                       &setup.attributes, argv.data(), environ);
    writeEnd.close();
    if (spawnError != 0)
        return commandNotFoundText();

    // One decoder for the whole output, so a character split over two reads survives.
    QStringDecoder decoder = platform::localeDecoder();
    QByteArray buffer(qMax(readSize, 1), Qt::Uninitialized);
    QString output;
    for (;;) {
        pollfd waiting{readEnd.get(), POLLIN, 0};
        const int ready = poll(&waiting, 1, kEventPumpMilliseconds);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (ready == 0) {
            pumpWindowEvents();
            continue;
        }
        const ssize_t count = read(readEnd.get(), buffer.data(), std::size_t(buffer.size()));
        if (count < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (count <= 0)
            break;
        pumpWindowEvents();
        output += decoder.decode(QByteArrayView(buffer.constData(), count));
    }
    readEnd.close();
    reapWhenEnded(child);

    output.remove(QChar(0));
    return trimBlanks(output);
}

} // namespace tallyon
