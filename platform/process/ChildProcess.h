#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>

#include <QByteArray>
#include <QByteArrayList>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include "platform/process/FileDescriptor.h"
#include "platform/process/ProgramSearch.h"
#include "rules/Failure.h"

namespace platform {

// A program that could not be started; message() names it and the cause.
class ProcessStartFailure : public horavo::Failure {
public:
    enum class Cause {
        NotFound,   // findProgram found no executable file
        NoPipe,     // a pipe to the child could not be made
        NotStarted, // the file was found, but the system would not run it
    };
    ProcessStartFailure(Cause cause, QString program, int error);

    Cause cause() const { return cause_; }
    // The file that was to run, or the name as given when none was found.
    const QString& program() const { return program_; }
    // The system's error number of the call that failed; 0 for NotFound.
    int error() const { return error_; }

private:
    Cause cause_;
    QString program_;
    int error_;
};

// Where a child's standard output and standard error go.
enum class OutputStreams {
    Together,  // one pipe for both, so they arrive in the order the child wrote them
    Apart,     // a pipe for each
    Inherited, // this process's own; nothing is read
};

// What to start. The program runs directly, without a shell: each argument reaches it
// whole, as the bytes given, and nothing is split, quoted or expanded.
struct ProcessRequest {
    QString program;                                  // looked up by findProgram
    ProgramOrigin origin = ProgramOrigin::SystemTool;
    QByteArrayList arguments;                         // after the program's name
    // Written to the child's standard input, which is then closed; without it the
    // child's standard input is /dev/null.
    std::optional<QByteArray> input;
    QStringList environment;                          // NAME=VALUE, over this process's own
    OutputStreams streams = OutputStreams::Together;
    // A process group of its own, so that end() reaches whatever the child started.
    bool ownProcessGroup = false;
};

// One child process. Every wait (readOutput, waitForEnd, end) runs the application's
// events between its turns when it is made on the application's thread, so a window is
// never frozen by a child, and the child's signals start from their defaults.
//
// A child that has not been reaped, or whose output has not ended, when its
// ChildProcess goes is handed to a thread of its own, which reads its output to the end
// (a child must neither stall on a full pipe nor die writing to a closed one) and then
// reaps it: no child is ever left a zombie.
class ChildProcess {
public:
    enum class Stream { Output, Errors };
    // Told each piece of output as it arrives; Output for OutputStreams::Together.
    using OnOutput = std::function<void(QByteArrayView bytes, Stream stream)>;
    // Asked between the turns of a wait: true ends the wait early.
    using Stop = std::function<bool()>;

    struct Ending {
        bool signaled = false; // ended by signal `code`; otherwise exited with `code`
        int code = 0;
    };

    // Starts the program; throws ProcessStartFailure when it cannot.
    explicit ChildProcess(const ProcessRequest& request);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }

    // Reads the child's output, at most `chunkSize` bytes at a time, and feeds it its
    // input, until every output pipe has ended (true) or `stop` ends the wait (false).
    bool readOutput(const OnOutput& onOutput, const Stop& stop = {}, int chunkSize = 4096);
    // Waits until the child has ended and is reaped (true), or until `stop` ends the
    // wait (false).
    bool waitForEnd(const Stop& stop = {});
    // Ends the child, with its process group when it has one: SIGTERM with SIGCONT (a
    // stopped process acts on no other signal), then SIGKILL once `grace` has passed
    // with the child still there, at once when `grace` is zero. Returns once it is
    // reaped.
    void end(std::chrono::milliseconds grace);
    // How the child ended, once a wait has seen it end. A child reaped elsewhere counts
    // as having exited with -1: how it ended cannot be known.
    std::optional<Ending> ending() const { return ending_; }

private:
    bool reap(bool block);
    void signal(int number) const;

    pid_t pid_ = 0;
    bool ownGroup_ = false;
    FileDescriptor output_;
    FileDescriptor errors_;
    FileDescriptor input_;
    QByteArray pendingInput_;
    std::optional<Ending> ending_;
};

} // namespace platform
