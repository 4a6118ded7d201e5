#pragma once

#include <QSet>
#include <QStringList>
#include <QUrl>

#include "platform/ProgramLauncher.h"

namespace doubles {

// Records what it was asked to start: "signova", or a page's address. The ones listed
// in failing throw as a program or page that cannot be started would.
class RecordingLauncher final : public platform::ProgramLauncher {
public:
    void startSignova() override { record(QStringLiteral("signova")); }
    void openPage(const QUrl& address) override { record(address.toString()); }

    QStringList started;
    QSet<QString> failing;

private:
    void record(const QString& what)
    {
        if (failing.contains(what))
            throw platform::LaunchError(QStringLiteral("无法启动程序：") + what);
        started << what;
    }
};

} // namespace doubles
