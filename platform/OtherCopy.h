#pragma once

#include <memory>

#include <QString>

class QLockFile;

namespace platform {

// Whether another copy of the program already runs for this user.
class OtherCopy {
public:
    virtual ~OtherCopy() = default;
    virtual bool running() = 0;
};

// A lock file per user in the runtime folder, held while the program runs. A copy that
// crashed leaves a stale lock, which the next start takes over.
class LockFileOtherCopy final : public OtherCopy {
public:
    explicit LockFileOtherCopy(const QString& programName);
    ~LockFileOtherCopy() override;
    bool running() override;
    QString lockPath() const;

private:
    QString path_;
    std::unique_ptr<QLockFile> lock_;
};

} // namespace platform
