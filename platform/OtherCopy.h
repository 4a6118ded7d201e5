#pragma once

#include <functional>
#include <memory>

#include <QString>

#include "rules/Failure.h"

class QLocalServer;
class QLockFile;

namespace platform {

// The lock that tells another copy apart could not be made or read: whether another
// copy runs is not known. The text names the folder and why.
class OtherCopyError : public horavo::Failure {
public:
    using Failure::Failure;
};

// Whether another copy of the program already runs for this user. Throws
// OtherCopyError when that cannot be told. A second copy asks the first to bring its
// window forward; the first runs the handler it was given when asked.
class OtherCopy {
public:
    virtual ~OtherCopy() = default;
    virtual bool running() = 0;
    virtual void askToShow() = 0;   // after running() found another copy; best effort
    virtual void onAskedToShow(std::function<void()> handler) = 0;
};

// A lock file per user, held while the program runs, in the user's runtime folder
// ($XDG_RUNTIME_DIR) or, without one, in a folder of the user's own under the temporary
// folder (made with mode 0700; one that another user owns, or that others may write to,
// is refused, so that nobody can plant a lock there). A copy that crashed leaves a stale
// lock, which the next start takes over. The copy that holds the lock listens on a local
// socket beside it; a connection there is another start asking it to show its window.
class LockFileOtherCopy final : public OtherCopy {
public:
    explicit LockFileOtherCopy(const QString& programName);
    ~LockFileOtherCopy() override;
    bool running() override;
    void askToShow() override;
    void onAskedToShow(std::function<void()> handler) override;
    QString lockPath() const;   // throws OtherCopyError when there is no usable folder
    QString socketPath() const;

private:
    void listen();

    QString programName_;
    std::unique_ptr<QLockFile> lock_;
    std::unique_ptr<QLocalServer> server_;
    std::function<void()> askedToShow_;
};

} // namespace platform
