#include "main_program/dialer/PipeCommandRunner.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>
#include <vector>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include "platform/line/LocaleCharset.h"

extern char** environ;

namespace tallyon {

namespace {

// How long one wait for output lasts before window events get their turn again.
constexpr int kEventPumpMilliseconds = 50;
// How long a child that the runner ends has, after SIGTERM, to end by itself before
// SIGKILL: time for rasdial to let its nmcli go.
constexpr int kTerminateGraceMilliseconds = 2000;

using End = CommandResult::End;
// Why the run is to be ended before its child ends (Cancelled, TimedOut), or nothing.
using StopCheck = std::function<std::optional<End>()>;

class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    ~FileDescriptor() { close(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return fd_; }
    void reset(int fd)
    {
        close();
        fd_ = fd;
    }
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

QString findProgramFile(const QString& name)
{
    if (name.isEmpty())
        return {};
    if (name.contains(QLatin1Char('/')))
        return isExecutableFile(name) ? name : QString();

    QStringList folders{executableFolder()};
#ifdef HORAVO_LIBEXEC_DIR
    // Installed, rasdial lives in the package's own folder, out of every user's PATH.
    folders << QStringLiteral(HORAVO_LIBEXEC_DIR);
#endif
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

// Writes to a pipe whose reader may have gone: EPIPE comes back as an error instead of a
// SIGPIPE that would end the whole program.
ssize_t writeWithoutSigpipe(int fd, const char* data, std::size_t size)
{
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    sigset_t pendingBefore;
    sigpending(&pendingBefore);
    const bool wasPending = sigismember(&pendingBefore, SIGPIPE) == 1;
    sigset_t savedMask;
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &savedMask);

    const ssize_t written = ::write(fd, data, size);
    const int writeError = errno;
    if (written < 0 && writeError == EPIPE && !wasPending) {
        const timespec noWait{0, 0};
        while (sigtimedwait(&pipeSignal, nullptr, &noWait) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &savedMask, nullptr);
    errno = writeError;
    return written;
}

// Reads the child's output until it ends, window events running between reads, while
// `pendingInput` is fed to the child's standard input (closed once all is given).
// Hands each complete line of the output so far on to onLine, from `from` on; returns
// where the next line begins.
qsizetype handOnLines(const QString& output, qsizetype from, const std::function<void(const QString&)>& onLine)
{
    qsizetype end = 0;
    while ((end = output.indexOf(u'\n', from)) >= 0) {
        QString line = output.mid(from, end - from);
        if (line.endsWith(u'\r'))
            line.chop(1);
        line.remove(QChar(0));
        onLine(line);
        from = end + 1;
    }
    return from;
}

QString readToEnd(FileDescriptor& readEnd, FileDescriptor& inputWrite, QByteArray pendingInput, int readSize,
                  const std::function<void(const QString&)>& onLine, const StopCheck& stop,
                  std::optional<End>& stopped)
{
    if (inputWrite.get() >= 0 && pendingInput.isEmpty())
        inputWrite.close();

    // One decoder for the whole output, so a character split over two reads survives.
    QStringDecoder decoder = platform::localeDecoder();
    QByteArray buffer(qMax(readSize, 1), Qt::Uninitialized);
    QString output;
    qsizetype nextLine = 0;
    for (;;) {
        if (stop && (stopped = stop()))
            break;
        pollfd waiting[2] = {{readEnd.get(), POLLIN, 0}, {inputWrite.get(), POLLOUT, 0}};
        const nfds_t watched = inputWrite.get() >= 0 ? 2 : 1;
        const int ready = poll(waiting, watched, kEventPumpMilliseconds);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (ready == 0) {
            pumpWindowEvents();
            continue;
        }
        if (watched == 2 && waiting[1].revents != 0) {
            const ssize_t written = writeWithoutSigpipe(inputWrite.get(), pendingInput.constData(),
                                                        std::size_t(pendingInput.size()));
            if (written > 0)
                pendingInput.remove(0, written);
            else if (written < 0 && errno != EAGAIN && errno != EINTR)
                pendingInput.clear(); // the child closed its input: nothing more to give
            if (pendingInput.isEmpty())
                inputWrite.close();
        }
        if (waiting[0].revents == 0)
            continue;
        const ssize_t count = read(readEnd.get(), buffer.data(), std::size_t(buffer.size()));
        if (count < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (count <= 0)
            break;
        output += decoder.decode(QByteArrayView(buffer.constData(), count));
        if (onLine)
            nextLine = handOnLines(output, nextLine, onLine);
        pumpWindowEvents();
    }
    if (onLine && nextLine < output.size()) {
        const QString last = output.mid(nextLine).remove(QChar(0)).trimmed();
        if (!last.isEmpty())
            onLine(last);
    }

    output.remove(QChar(0));
    return trimBlanks(output);
}

// One started child: its pid and what it wrote, read to the end of its output while
// the given input is fed to its standard input, or until `stop` gave a reason to end it.
struct Spawned {
    pid_t pid = 0;
    CommandResult result;
    std::optional<End> stopped;
};

Spawned notStarted(const QString& failureText)
{
    Spawned spawned;
    spawned.result.output = failureText;
    spawned.result.end = CommandResult::End::NotStarted;
    return spawned;
}

Spawned spawnAndRead(const QString& program, const QStringList& words, const std::optional<QByteArray>& input,
                     int readSize, const std::function<void(const QString&)>& onLine = {},
                     const StopCheck& stop = {})
{
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        return notStarted(pipeFailedText(errno));
    FileDescriptor readEnd(ends[0]);
    FileDescriptor writeEnd(ends[1]);
    readEnd.liftAboveStandardStreams();
    writeEnd.liftAboveStandardStreams();

    FileDescriptor inputRead;
    FileDescriptor inputWrite;
    if (input) {
        if (pipe2(ends, O_CLOEXEC) != 0)
            return notStarted(pipeFailedText(errno));
        inputRead.reset(ends[0]);
        inputWrite.reset(ends[1]);
        inputRead.liftAboveStandardStreams();
        inputWrite.liftAboveStandardStreams();
        fcntl(inputWrite.get(), F_SETFL, fcntl(inputWrite.get(), F_GETFL) | O_NONBLOCK);
    }

    const QString programPath = program.isEmpty() ? QString() : findProgramFile(program);
    if (programPath.isEmpty())
        return notStarted(commandNotFoundText());

    QStringEncoder encoder = platform::localeEncoder();
    std::vector<QByteArray> arguments;
    arguments.reserve(std::size_t(words.size()));
    for (const QString& word : words)
        arguments.push_back(encoder.encode(word));
    std::vector<char*> argv;
    for (QByteArray& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    const QByteArray nativePath = QFile::encodeName(programPath);

    SpawnSetup setup;
    posix_spawn_file_actions_adddup2(&setup.actions, writeEnd.get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&setup.actions, writeEnd.get(), STDERR_FILENO);
    if (input)
        posix_spawn_file_actions_adddup2(&setup.actions, inputRead.get(), STDIN_FILENO);
    else
        posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    sigset_t noSignals;
    sigemptyset(&noSignals);
    sigset_t defaultSignals;
    sigemptyset(&defaultSignals);
    for (int signal : {SIGPIPE, SIGCHLD, SIGHUP, SIGINT, SIGQUIT, SIGTERM})
        sigaddset(&defaultSignals, signal);
    posix_spawnattr_setsigmask(&setup.attributes, &noSignals);
    posix_spawnattr_setsigdefault(&setup.attributes, &defaultSignals);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    // A run that may be ended puts its child in a process group of its own, so that ending
    // it reaches what the child started too: an nmcli left activating would bring the line
    // up after the dial was given up.
    if (stop) {
        posix_spawnattr_setpgroup(&setup.attributes, 0);
        flags |= POSIX_SPAWN_SETPGROUP;
    }
    posix_spawnattr_setflags(&setup.attributes, flags);

    // glibc's posix_spawn reports a failed exec as its own result.
    Spawned spawned;
    const int spawnError = posix_spawn(&spawned.pid, nativePath.constData(), &setup.actions,
                                       &setup.attributes, argv.data(), environ);
    writeEnd.close();
    inputRead.close();
    if (spawnError != 0)
        return notStarted(commandNotFoundText());

    spawned.result.output = readToEnd(readEnd, inputWrite, input.value_or(QByteArray()), readSize, onLine, stop,
                                      spawned.stopped);
    return spawned;
}

void recordEnd(int status, CommandResult& result)
{
    if (WIFSIGNALED(status)) {
        result.end = End::Signaled;
        result.signal = WTERMSIG(status);
    } else {
        result.end = End::Exited;
        result.exitCode = WEXITSTATUS(status);
    }
}

// Waits for the child's end with window events still running, and records how it ended;
// or, once `stop` gives a reason to end the run, returns that reason with the child still
// running.
std::optional<End> waitForEnd(pid_t pid, CommandResult& result, const StopCheck& stop)
{
    for (;;) {
        int status = 0;
        const pid_t ended = waitpid(pid, &status, WNOHANG);
        if (ended == pid) {
            recordEnd(status, result);
            return std::nullopt;
        }
        if (ended < 0 && errno != EINTR) {
            // Reaped elsewhere: how it ended cannot be known, so it does not count as success.
            result.end = End::Exited;
            result.exitCode = -1;
            return std::nullopt;
        }
        if (stop) {
            if (const std::optional<End> reason = stop())
                return reason;
        }
        pumpWindowEvents();
        poll(nullptr, 0, ended == 0 ? kEventPumpMilliseconds / 5 : 0);
    }
}

// Ends the child of a run that was given up, with its process group: SIGTERM, with
// SIGCONT since a stopped process acts on no other signal, then SIGKILL when it is still
// there after the grace. Window events run meanwhile. Reaps the child.
void endChild(pid_t pid, CommandResult& result)
{
    ::kill(-pid, SIGTERM);
    ::kill(-pid, SIGCONT);
    const QDeadlineTimer grace(kTerminateGraceMilliseconds);
    int status = 0;
    for (;;) {
        const pid_t ended = waitpid(pid, &status, WNOHANG);
        if (ended == pid) {
            recordEnd(status, result);
            return;
        }
        if (ended < 0 && errno != EINTR)
            return;
        if (grace.hasExpired())
            break;
        pumpWindowEvents();
        poll(nullptr, 0, kEventPumpMilliseconds / 5);
    }
    ::kill(-pid, SIGKILL);
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return;
    }
    recordEnd(status, result);
}

} // namespace

QStringList PipeCommandRunner::splitWords(const QString& command)
{
    static const QRegularExpression blanks(QStringLiteral("[ \\t]+"));
    return command.split(blanks, Qt::SkipEmptyParts);
}

QString PipeCommandRunner::findProgram(const QString& name)
{
    return findProgramFile(name);
}

QString PipeCommandRunner::runcmd(const QString& command, int readSize, int timeLimit)
{
    Q_UNUSED(timeLimit)
    if (command.isEmpty())
        return {};
    const QStringList words = splitWords(command);
    const Spawned spawned = spawnAndRead(words.value(0), words, std::nullopt, readSize);
    if (spawned.pid > 0)
        reapWhenEnded(spawned.pid);
    return spawned.result.output;
}

CommandResult PipeCommandRunner::run(const Command& command, int readSize, int timeLimit)
{
    Q_UNUSED(timeLimit)
    QElapsedTimer running;
    running.start();
    StopCheck stop;
    if (command.cancelled || command.timeout) {
        stop = [&command, &running]() -> std::optional<End> {
            if (command.cancelled && command.cancelled())
                return End::Cancelled;
            if (command.timeout && std::chrono::milliseconds(running.elapsed()) >= *command.timeout)
                return End::TimedOut;
            return std::nullopt;
        };
    }
    Spawned spawned = spawnAndRead(command.program, QStringList{command.program} + command.arguments,
                                   command.input, readSize, command.onLine, stop);
    if (spawned.pid <= 0)
        return spawned.result;
    if (!spawned.stopped)
        spawned.stopped = waitForEnd(spawned.pid, spawned.result, stop);
    if (spawned.stopped) {
        endChild(spawned.pid, spawned.result);
        spawned.result.end = *spawned.stopped;
    }
    return spawned.result;
}

} // namespace tallyon
