#include "platform/process/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <thread>
#include <vector>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

extern char** environ;

namespace platform {

namespace {

// How long one wait for the child lasts before the application's events get their turn.
constexpr int kEventPumpMilliseconds = 50;
constexpr int kEndCheckMilliseconds = 10;

QString startFailureText(ProcessStartFailure::Cause cause, const QString& program, int error)
{
    using Cause = ProcessStartFailure::Cause;
    switch (cause) {
    case Cause::NotFound:
        return QStringLiteral("无法启动程序“%1”：找不到该程序。").arg(program);
    case Cause::NoPipe:
        return QStringLiteral("无法启动程序“%1”：无法建立管道（%2）。").arg(program, qt_error_string(error));
    case Cause::NotStarted:
        break;
    }
    return QStringLiteral("无法启动程序“%1”（%2）。").arg(program, qt_error_string(error));
}

void pumpEvents()
{
    const QCoreApplication* application = QCoreApplication::instance();
    if (application && application->thread() == QThread::currentThread())
        QCoreApplication::processEvents();
}

// Keeps a pipe's end off the standard streams' numbers (possible when this process
// runs with one of them closed), so that setting up the child's cannot overwrite it.
void liftAboveStandardStreams(FileDescriptor& end)
{
    if (end.get() > STDERR_FILENO)
        return;
    const int lifted = fcntl(end.get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    if (lifted >= 0)
        end.reset(lifted);
}

void makePipe(FileDescriptor& readEnd, FileDescriptor& writeEnd, const QString& program)
{
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        throw ProcessStartFailure(ProcessStartFailure::Cause::NoPipe, program, errno);
    readEnd.reset(ends[0]);
    writeEnd.reset(ends[1]);
    liftAboveStandardStreams(readEnd);
    liftAboveStandardStreams(writeEnd);
}

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

// This process's environment with `settings` (NAME=VALUE) put over it.
std::vector<QByteArray> environmentWith(const QStringList& settings)
{
    std::vector<QByteArray> entries;
    for (char** entry = environ; *entry; ++entry)
        entries.emplace_back(*entry);
    for (const QString& setting : settings) {
        const QByteArray encoded = QFile::encodeName(setting);
        const QByteArray name = encoded.left(encoded.indexOf('=') + 1);
        std::erase_if(entries, [&name](const QByteArray& entry) { return entry.startsWith(name); });
        entries.push_back(encoded);
    }
    return entries;
}

std::vector<char*> pointersTo(std::vector<QByteArray>& strings)
{
    std::vector<char*> pointers;
    pointers.reserve(strings.size() + 1);
    for (QByteArray& string : strings)
        pointers.push_back(string.data());
    pointers.push_back(nullptr);
    return pointers;
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

// Reads what is left of a child's output to its end and then reaps the child (pid 0:
// reaped already).
void drainAndReap(FileDescriptor output, FileDescriptor errors, pid_t pid)
{
    char buffer[4096];
    while (output.isOpen() || errors.isOpen()) {
        pollfd waiting[2] = {{output.get(), POLLIN, 0}, {errors.get(), POLLIN, 0}};
        if (poll(waiting, 2, -1) < 0 && errno != EINTR)
            break;
        for (int i = 0; i < 2; ++i) {
            FileDescriptor& end = i == 0 ? output : errors;
            if (!end.isOpen() || waiting[i].revents == 0)
                continue;
            const ssize_t count = ::read(end.get(), buffer, sizeof buffer);
            if (count == 0 || (count < 0 && errno != EINTR && errno != EAGAIN))
                end.close();
        }
    }
    int status = 0;
    while (pid > 0 && waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

} // namespace

ProcessStartFailure::ProcessStartFailure(Cause cause, QString program, int error)
    : horavo::Failure(startFailureText(cause, program, error)), cause_(cause), program_(std::move(program)),
      error_(error)
{
}

ChildProcess::ChildProcess(const ProcessRequest& request) : ownGroup_(request.ownProcessGroup)
{
    const QString path = findProgram(request.program, request.origin);
    if (path.isEmpty())
        throw ProcessStartFailure(ProcessStartFailure::Cause::NotFound, request.program, 0);

    FileDescriptor outputWrite;
    FileDescriptor errorsWrite;
    FileDescriptor inputRead;
    if (request.streams != OutputStreams::Inherited)
        makePipe(output_, outputWrite, path);
    if (request.streams == OutputStreams::Apart)
        makePipe(errors_, errorsWrite, path);
    if (request.input) {
        makePipe(inputRead, input_, path);
        fcntl(input_.get(), F_SETFL, fcntl(input_.get(), F_GETFL) | O_NONBLOCK);
        pendingInput_ = *request.input;
    }

    SpawnSetup setup;
    if (outputWrite.isOpen()) {
        posix_spawn_file_actions_adddup2(&setup.actions, outputWrite.get(), STDOUT_FILENO);
        const int errorsTo = errorsWrite.isOpen() ? errorsWrite.get() : outputWrite.get();
        posix_spawn_file_actions_adddup2(&setup.actions, errorsTo, STDERR_FILENO);
    }
    if (inputRead.isOpen())
        posix_spawn_file_actions_adddup2(&setup.actions, inputRead.get(), STDIN_FILENO);
    else
        posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    sigset_t noSignals;
    sigemptyset(&noSignals);
    sigset_t defaultSignals;
    sigemptyset(&defaultSignals);
    for (int number : {SIGPIPE, SIGCHLD, SIGHUP, SIGINT, SIGQUIT, SIGTERM})
        sigaddset(&defaultSignals, number);
    posix_spawnattr_setsigmask(&setup.attributes, &noSignals);
    posix_spawnattr_setsigdefault(&setup.attributes, &defaultSignals);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (ownGroup_) {
        posix_spawnattr_setpgroup(&setup.attributes, 0);
        flags |= POSIX_SPAWN_SETPGROUP;
    }
    posix_spawnattr_setflags(&setup.attributes, flags);

    std::vector<QByteArray> words{QFile::encodeName(request.program)};
    words.insert(words.end(), request.arguments.cbegin(), request.arguments.cend());
    std::vector<char*> argv = pointersTo(words);
    std::vector<QByteArray> settings;
    std::vector<char*> envp;
    if (!request.environment.isEmpty()) {
        settings = environmentWith(request.environment);
        envp = pointersTo(settings);
    }
    const QByteArray nativePath = QFile::encodeName(path);
    // glibc's posix_spawn reports a failed exec as its own result.
    const int spawnError = posix_spawn(&pid_, nativePath.constData(), &setup.actions, &setup.attributes,
                                       argv.data(), envp.empty() ? environ : envp.data());
    if (spawnError != 0) {
        pid_ = 0;
        throw ProcessStartFailure(ProcessStartFailure::Cause::NotStarted, path, spawnError);
    }
    if (pendingInput_.isEmpty())
        input_.close();
}

ChildProcess::~ChildProcess()
{
    input_.close();
    if (!ending_)
        reap(false);
    if (ending_ && !output_.isOpen() && !errors_.isOpen())
        return;
    try {
        std::thread(drainAndReap, std::move(output_), std::move(errors_), ending_ ? 0 : pid_).detach();
    } catch (const std::system_error&) {
        // No thread to be had: the child is reaped only when this process ends.
    }
}

bool ChildProcess::readOutput(const OnOutput& onOutput, const Stop& stop, int chunkSize)
{
    QByteArray buffer(qMax(chunkSize, 1), Qt::Uninitialized);
    struct Watched {
        FileDescriptor* end;
        Stream stream;
    };
    for (;;) {
        if (!output_.isOpen() && !errors_.isOpen())
            return true;
        if (stop && stop())
            return false;

        std::vector<Watched> reading;
        std::vector<pollfd> waiting;
        for (const Watched watched : {Watched{&output_, Stream::Output}, Watched{&errors_, Stream::Errors}}) {
            if (watched.end->isOpen()) {
                reading.push_back(watched);
                waiting.push_back({watched.end->get(), POLLIN, 0});
            }
        }
        if (input_.isOpen())
            waiting.push_back({input_.get(), POLLOUT, 0});
        const int ready = poll(waiting.data(), waiting.size(), kEventPumpMilliseconds);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            output_.close();
            errors_.close();
            return true;
        }
        if (ready == 0) {
            pumpEvents();
            continue;
        }
        if (input_.isOpen() && waiting.back().revents != 0) {
            const ssize_t written = writeWithoutSigpipe(input_.get(), pendingInput_.constData(),
                                                        std::size_t(pendingInput_.size()));
            if (written > 0)
                pendingInput_.remove(0, written);
            else if (written < 0 && errno != EAGAIN && errno != EINTR)
                pendingInput_.clear(); // the child closed its input: nothing more to give
            if (pendingInput_.isEmpty())
                input_.close();
        }
        for (std::size_t i = 0; i < reading.size(); ++i) {
            if (waiting[i].revents == 0)
                continue;
            const ssize_t count = ::read(reading[i].end->get(), buffer.data(), std::size_t(buffer.size()));
            if (count > 0 && onOutput)
                onOutput(QByteArrayView(buffer.constData(), count), reading[i].stream);
            else if (count == 0 || (count < 0 && errno != EINTR && errno != EAGAIN))
                reading[i].end->close();
        }
        pumpEvents();
    }
}

bool ChildProcess::waitForEnd(const Stop& stop)
{
    for (;;) {
        if (reap(false))
            return true;
        if (stop && stop())
            return false;
        pumpEvents();
        poll(nullptr, 0, kEndCheckMilliseconds);
    }
}

void ChildProcess::end(std::chrono::milliseconds grace)
{
    // A reaped child's number may belong to another process by now.
    if (ending_)
        return;
    if (grace.count() > 0) {
        signal(SIGTERM);
        signal(SIGCONT);
        const QDeadlineTimer deadline(grace);
        while (!deadline.hasExpired()) {
            if (reap(false))
                return;
            pumpEvents();
            poll(nullptr, 0, kEndCheckMilliseconds);
        }
    }
    signal(SIGKILL);
    reap(true);
}

bool ChildProcess::reap(bool block)
{
    if (ending_)
        return true;
    int status = 0;
    for (;;) {
        const pid_t ended = waitpid(pid_, &status, block ? 0 : WNOHANG);
        if (ended == pid_) {
            if (WIFSIGNALED(status))
                ending_ = Ending{true, WTERMSIG(status)};
            else
                ending_ = Ending{false, WEXITSTATUS(status)};
            return true;
        }
        if (ended == 0)
            return false;
        if (errno != EINTR) {
            ending_ = Ending{false, -1};
            return true;
        }
    }
}

void ChildProcess::signal(int number) const
{
    ::kill(ownGroup_ ? -pid_ : pid_, number);
}

} // namespace platform
