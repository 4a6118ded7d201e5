#include "tests/doubles/SetupProgram.h"

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

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
    int terminal = -1;
    int terminalSide = -1;
    if (how.errorOnTerminal) {
        termios raw{};
        cfmakeraw(&raw);
        if (::openpty(&terminal, &terminalSide, nullptr, &raw, nullptr) != 0)
            return {};
        ::fcntl(terminal, F_SETFD, FD_CLOEXEC);
        ::fcntl(terminalSide, F_SETFD, FD_CLOEXEC);
        process.setChildProcessModifier([terminalSide] { ::dup2(terminalSide, STDERR_FILENO); });
    }
    // What the terminal got once the program has ended (it holds far more than a line).
    const auto terminalText = [&] {
        QByteArray text;
        if (terminal < 0)
            return text;
        ::close(terminalSide);
        ::fcntl(terminal, F_SETFL, O_NONBLOCK);
        char buffer[4096];
        for (ssize_t got; (got = ::read(terminal, buffer, sizeof buffer)) > 0;)
            text.append(buffer, got);
        ::close(terminal);
        terminal = -1;
        return text;
    };
    process.start(setupProgram(), arguments);
    SetupOutcome outcome;
    if (!process.waitForStarted()) {
        terminalText();
        return outcome;
    }
    process.write(how.input);
    process.closeWriteChannel();
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit) {
        process.kill();
        process.waitForFinished();
        terminalText();
        return outcome;
    }
    outcome.exitCode = process.exitCode();
    outcome.out = process.readAllStandardOutput();
    outcome.err = QString::fromUtf8(how.errorOnTerminal ? terminalText() : process.readAllStandardError());
    return outcome;
}

} // namespace doubles
