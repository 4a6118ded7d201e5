#pragma once

#include "platform/ProgramLauncher.h"

namespace platform {

// On a Linux desktop: signova is the executable beside the running program (else the
// one on PATH); a page opens in the desktop's default browser.
class LinuxProgramLauncher final : public ProgramLauncher {
public:
    explicit LinuxProgramLauncher(QString signovaName = QStringLiteral("signova"))
        : signovaName_(std::move(signovaName)) {}

    void startSignova() override;
    void openPage(const QUrl& address) override;

private:
    QString signovaName_;
};

} // namespace platform
