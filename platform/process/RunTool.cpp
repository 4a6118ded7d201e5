#include "platform/process/RunTool.h"

#include <QDeadlineTimer>

#include "platform/process/ChildProcess.h"

namespace platform {

ToolResult runTool(const QString& name, const QStringList& arguments, int timeoutMilliseconds,
                   const std::optional<QByteArray>& input, const QStringList& environment)
{
    ProcessRequest request;
    request.program = name;
    for (const QString& argument : arguments)
        request.arguments << argument.toUtf8();
    request.input = input;
    request.environment = environment;
    request.streams = OutputStreams::Apart;

    ToolResult result;
    const QDeadlineTimer deadline(timeoutMilliseconds);
    try {
        ChildProcess tool(request);
        result.started = true;
        const auto collect = [&result](QByteArrayView bytes, ChildProcess::Stream stream) {
            (stream == ChildProcess::Stream::Output ? result.output : result.errors).append(bytes);
        };
        const auto timeUp = [&deadline] { return deadline.hasExpired(); };
        if (!tool.readOutput(collect, timeUp) || !tool.waitForEnd(timeUp)) {
            result.timedOut = true;
            tool.end(std::chrono::milliseconds(0));
        } else if (!tool.ending()->signaled) {
            result.exitCode = tool.ending()->code;
        }
    } catch (const ProcessStartFailure&) {
    }
    return result;
}

} // namespace platform
