#pragma once

#include <QString>
#include <QUrl>

#include "rules/Failure.h"

namespace platform {

// Could not start a program or open a page; the text says which and why.
class LaunchError : public horavo::Failure {
public:
    using Failure::Failure;
};

// Starts the other programs that the windows open, in a normal window, without waiting.
class ProgramLauncher {
public:
    virtual ~ProgramLauncher() = default;
    // The self-registration program. Throws LaunchError when it cannot be started.
    virtual void startSignova() = 0;
    // A web page in the desktop's browser. Throws LaunchError when none opens it.
    virtual void openPage(const QUrl& address) = 0;
};

} // namespace platform
