#include "platform/widgets/LinuxProgramLauncher.h"

#include <QDeadlineTimer>

#include "platform/process/ChildProcess.h"

namespace platform {

namespace {

// How long xdg-open has to hand a page over; one still running then is the browser.
constexpr int kOpenerWaitMs = 4000;
// The most of xdg-open's output kept for the message.
constexpr qsizetype kOpenerOutputKept = 65536;

QString lastLine(const QByteArray& output)
{
    const QStringList lines = QString::fromLocal8Bit(output).split(u'\n', Qt::SkipEmptyParts);
    return lines.isEmpty() ? QString() : lines.last().trimmed();
}

} // namespace

void LinuxProgramLauncher::startSignova()
{
    ProcessRequest request;
    request.program = signovaName_;
    request.origin = ProgramOrigin::OwnProgram;
    request.streams = OutputStreams::Inherited;
    // Its own group: a signal meant for this program's terminal job leaves it alone.
    request.ownProcessGroup = true;
    try {
        // Not waited for: the child is reaped once it ends.
        ChildProcess signova(request);
    } catch (const ProcessStartFailure& failure) {
        throw LaunchError(failure.message());
    }
}

void LinuxProgramLauncher::openPage(const QUrl& address)
{
    const QString page = address.toString(QUrl::FullyEncoded);
    ProcessRequest request;
    request.program = QStringLiteral("xdg-open");
    request.arguments << page.toUtf8();
    QByteArray output;
    std::optional<ChildProcess::Ending> ending;
    try {
        ChildProcess opener(request);
        const QDeadlineTimer handOver(kOpenerWaitMs);
        const auto keep = [&output](QByteArrayView bytes, ChildProcess::Stream) {
            if (output.size() < kOpenerOutputKept)
                output.append(bytes);
        };
        const auto browserRuns = [&handOver] { return handOver.hasExpired(); };
        // The browser itself runs in xdg-open's place: it is left to run.
        if (!opener.readOutput(keep, browserRuns) || !opener.waitForEnd(browserRuns))
            return;
        ending = opener.ending();
    } catch (const ProcessStartFailure& failure) {
        if (failure.cause() == ProcessStartFailure::Cause::NotFound)
            throw LaunchError(QStringLiteral("无法打开浏览器显示网页：%1（找不到 xdg-open）").arg(page));
        throw LaunchError(failure.message());
    }
    if (!ending->signaled && ending->code == 0)
        return;
    QString why = lastLine(output);
    if (why.isEmpty()) {
        why = ending->signaled ? QStringLiteral("xdg-open 被信号 %1 终止").arg(ending->code)
                               : QStringLiteral("xdg-open 退出码 %1").arg(ending->code);
    }
    throw LaunchError(QStringLiteral("无法打开浏览器显示网页：%1（%2）").arg(page, why));
}

} // namespace platform
