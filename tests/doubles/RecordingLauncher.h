#pragma once

#include <QSet>
#include <QStringList>

#include "ProgramLauncher.h"

namespace doubles {

// Records the command lines it was asked to start; the ones listed in failing throw
// as a program that cannot be started would.
class RecordingLauncher final : public platform::ProgramLauncher {
public:
    void start(const QString& commandLine) override
    {
        if (failing.contains(commandLine))
            throw platform::LaunchError(QStringLiteral("无法启动程序：") + commandLine);
        started << commandLine;
    }

    QStringList started;
    QSet<QString> failing;
};

} // namespace doubles
