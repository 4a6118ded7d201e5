#pragma once

#include "platform/ProgramLauncher.h"

namespace platform {

// On a Linux desktop: signova is found as a program of our own (findProgram) and
// started without waiting; a page opens in the desktop's default browser through
// xdg-open.
class LinuxProgramLauncher final : public ProgramLauncher {
public:
    explicit LinuxProgramLauncher(QString signovaName = QStringLiteral("signova"))
        : signovaName_(std::move(signovaName)) {}

    void startSignova() override;
    // xdg-open's own failure (no browser, no way to open the page) is a LaunchError
    // with its last line. xdg-open that has not ended after a few seconds is the browser
    // itself, running in its place; it is left to run.
    void openPage(const QUrl& address) override;

private:
    QString signovaName_;
};

} // namespace platform
