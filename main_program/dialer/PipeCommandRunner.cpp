#include "main_program/dialer/PipeCommandRunner.h"

#include <QElapsedTimer>
#include <QRegularExpression>

#include "platform/line/LocaleCharset.h"
#include "platform/process/ChildProcess.h"

namespace tallyon {

namespace {

using platform::ChildProcess;
using End = CommandResult::End;

// How long a child that the runner ends has, after SIGTERM, to end by itself before
// SIGKILL: time for rasdial to let its nmcli go.
constexpr std::chrono::milliseconds kTerminateGrace{2000};

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

// The output as the runner hands it back: decoded from the locale's charset with one
// decoder for the whole output (a character split over two reads survives), each
// complete line told to `onLine` as it arrives.
class OutputText {
public:
    explicit OutputText(std::function<void(const QString&)> onLine) : onLine_(std::move(onLine)) {}

    void add(QByteArrayView bytes)
    {
        text_ += decoder_.decode(bytes);
        if (!onLine_)
            return;
        qsizetype end = 0;
        while ((end = text_.indexOf(u'\n', nextLine_)) >= 0) {
            QString line = text_.mid(nextLine_, end - nextLine_);
            if (line.endsWith(u'\r'))
                line.chop(1);
            line.remove(QChar(0));
            onLine_(line);
            nextLine_ = end + 1;
        }
    }

    // The whole output, without NUL characters and blanks at either end; the last line
    // is told to `onLine` too when it has no line end.
    QString finish()
    {
        if (onLine_ && nextLine_ < text_.size()) {
            const QString last = text_.mid(nextLine_).remove(QChar(0)).trimmed();
            if (!last.isEmpty())
                onLine_(last);
        }
        text_.remove(QChar(0));
        return trimBlanks(text_);
    }

private:
    std::function<void(const QString&)> onLine_;
    QStringDecoder decoder_ = platform::localeDecoder();
    QString text_;
    qsizetype nextLine_ = 0;
};

platform::ProcessRequest requestFor(const QString& program, const QStringList& arguments)
{
    platform::ProcessRequest request;
    request.program = program;
    request.origin = platform::ProgramOrigin::OwnProgram;
    QStringEncoder encoder = platform::localeEncoder();
    for (const QString& argument : arguments)
        request.arguments << encoder.encode(argument);
    return request;
}

// The runner's own text for a child that could not be started.
QString startFailureText(const platform::ProcessStartFailure& failure)
{
    if (failure.cause() == platform::ProcessStartFailure::Cause::NoPipe)
        return pipeFailedText(failure.error());
    return commandNotFoundText();
}

void recordEnd(const ChildProcess::Ending& ending, CommandResult& result)
{
    if (ending.signaled) {
        result.end = End::Signaled;
        result.signal = ending.code;
    } else {
        result.end = End::Exited;
        result.exitCode = ending.code;
    }
}

} // namespace

QStringList PipeCommandRunner::splitWords(const QString& command)
{
    static const QRegularExpression blanks(QStringLiteral("[ \\t]+"));
    return command.split(blanks, Qt::SkipEmptyParts);
}

QString PipeCommandRunner::runcmd(const QString& command, int readSize, int timeLimit)
{
    Q_UNUSED(timeLimit)
    if (command.isEmpty())
        return {};
    const QStringList words = splitWords(command);
    try {
        // The child is not waited for: it is reaped once it ends.
        ChildProcess child(requestFor(words.value(0), words.mid(1)));
        OutputText output({});
        child.readOutput([&output](QByteArrayView bytes, ChildProcess::Stream) { output.add(bytes); }, {},
                         readSize);
        return output.finish();
    } catch (const platform::ProcessStartFailure& failure) {
        return startFailureText(failure);
    }
}

CommandResult PipeCommandRunner::run(const Command& command, int readSize, int timeLimit)
{
    Q_UNUSED(timeLimit)
    CommandResult result;
    platform::ProcessRequest request = requestFor(command.program, command.arguments);
    request.input = command.input;
    const bool mayBeEnded = command.cancelled || command.timeout;
    // Ending a run reaches what its child started too: an nmcli left activating would
    // bring the line up after the dial was given up.
    request.ownProcessGroup = mayBeEnded;
    try {
        ChildProcess child(request);
        QElapsedTimer running;
        running.start();
        std::optional<End> stopped;
        ChildProcess::Stop stop;
        if (mayBeEnded) {
            stop = [&] {
                if (command.cancelled && command.cancelled())
                    stopped = End::Cancelled;
                else if (command.timeout && std::chrono::milliseconds(running.elapsed()) >= *command.timeout)
                    stopped = End::TimedOut;
                return stopped.has_value();
            };
        }
        OutputText output(command.onLine);
        if (child.readOutput([&output](QByteArrayView bytes, ChildProcess::Stream) { output.add(bytes); }, stop,
                             readSize))
            child.waitForEnd(stop);
        result.output = output.finish();
        if (stopped)
            child.end(kTerminateGrace);
        if (child.ending())
            recordEnd(*child.ending(), result);
        if (stopped)
            result.end = *stopped;
    } catch (const platform::ProcessStartFailure& failure) {
        result.output = startFailureText(failure);
        result.end = End::NotStarted;
    }
    return result;
}

} // namespace tallyon
