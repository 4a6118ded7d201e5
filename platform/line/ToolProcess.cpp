#include "platform/line/ToolProcess.h"

#include <QProcess>
#include <QStandardPaths>

namespace platform {

ToolResult runTool(const QString& name, const QStringList& arguments, int timeoutMilliseconds,
                   const QStringList& extraFolders)
{
    ToolResult result;
    QString program = QStandardPaths::findExecutable(name);
    if (program.isEmpty() && !extraFolders.isEmpty())
        program = QStandardPaths::findExecutable(name, extraFolders);
    if (program.isEmpty())
        return result;

    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, arguments);
    if (!process.waitForStarted())
        return result;
    result.started = true;
    if (!process.waitForFinished(timeoutMilliseconds)) {
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
