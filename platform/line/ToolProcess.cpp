#include "platform/line/ToolProcess.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

namespace platform {

namespace {

// Waits for the process to end, at most `milliseconds`; true when it ended. On the
// application's thread the application's events keep running meanwhile.
bool waitForEnd(QProcess& process, int milliseconds)
{
    const QCoreApplication* application = QCoreApplication::instance();
    if (!application || application->thread() != QThread::currentThread())
        return process.waitForFinished(milliseconds);

    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    limit.start(milliseconds);
    if (process.state() != QProcess::NotRunning)
        loop.exec();
    return process.state() == QProcess::NotRunning;
}

} // namespace

ToolResult runTool(const QString& name, const QStringList& arguments, int timeoutMilliseconds,
                   const QStringList& extraFolders, const std::optional<QByteArray>& input,
                   const QStringList& environment)
{
    ToolResult result;
    QString program = QStandardPaths::findExecutable(name);
    if (program.isEmpty() && !extraFolders.isEmpty())
        program = QStandardPaths::findExecutable(name, extraFolders);
    if (program.isEmpty())
        return result;

    QProcess process;
    if (!environment.isEmpty()) {
        QProcessEnvironment settings = QProcessEnvironment::systemEnvironment();
        for (const QString& setting : environment)
            settings.insert(setting.section(QLatin1Char('='), 0, 0), setting.section(QLatin1Char('='), 1));
        process.setProcessEnvironment(settings);
    }
    if (!input)
        process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, arguments);
    if (!process.waitForStarted())
        return result;
    result.started = true;
    if (input) {
        process.write(*input);
        process.closeWriteChannel();
    }
    if (!waitForEnd(process, timeoutMilliseconds)) {
        result.timedOut = true;
        process.kill();
        process.waitForFinished();
    }
    result.output = process.readAllStandardOutput();
    result.errors = process.readAllStandardError();
    if (!result.timedOut && process.exitStatus() == QProcess::NormalExit)
        result.exitCode = process.exitCode();
    return result;
}

QStringList splitTerseLine(const QString& line)
{
    QStringList fields;
    QString field;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (c == QLatin1Char('\\') && i + 1 < line.size()) {
            field += line.at(++i);
        } else if (c == QLatin1Char(':')) {
            fields << field;
            field.clear();
        } else {
            field += c;
        }
    }
    fields << field;
    return fields;
}

} // namespace platform
