#include "tests/doubles/SetupProgram.h"

#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>

namespace doubles {

QString setupProgram()
{
    return QDir(qEnvironmentVariable("HORAVO_BIN_DIR")).filePath(QStringLiteral("horavo-setup"));
}

SetupOutcome runSetup(const QStringList& arguments, const QString& folder, const SetupRun& how)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("HORAVO_DATABASE")); // not a server the developer set
    if (!how.databaseVariable.isEmpty())
        environment.insert(QStringLiteral("HORAVO_DATABASE"), how.databaseVariable);
    if (!how.settingsFile.isEmpty())
        environment.insert(QStringLiteral("HORAVO_SETTINGS"), how.settingsFile);
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(folder);
    process.start(setupProgram(), arguments);
    SetupOutcome outcome;
    if (!process.waitForStarted())
        return outcome;
    process.write(how.input);
    process.closeWriteChannel();
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit) {
        process.kill();
        process.waitForFinished();
        return outcome;
    }
    outcome.exitCode = process.exitCode();
    outcome.out = process.readAllStandardOutput();
    outcome.err = QString::fromUtf8(process.readAllStandardError());
    return outcome;
}

} // namespace doubles
