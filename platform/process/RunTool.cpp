#include "platform/process/RunTool.h"

#include <QDeadlineTimer>

#include "platform/process/ChildProcess.h"

namespace platform {

ToolResult runTool(const QString& name, const QStringList& arguments, int timeoutMilliseconds,
                   const std::optional<QByteArray>& input, const QStringList& environment)
{
    ProcessSpec spec;
    spec.program = name;
    for (const QString& argument : arguments)
        spec.arguments << argument.toUtf8();
    spec.input = input;
    spec.environment = environment;
    spec.streams = OutputStreams::Apart;

    ToolResult result;
    const QDeadlineTimer deadline(timeoutMilliseconds);
    try {
        ChildProcess tool(spec);
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
