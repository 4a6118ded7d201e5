#pragma once

#include <memory>
#include <optional>

#include <QString>

#include "platform/line/DialableLine.h"
#include "platform/line/OnlineCheck.h"

namespace platform {

struct LanOptions {
    QString nmcli = QStringLiteral("nmcli");
    int queryMilliseconds = 5000;                                 // nmcli at most
    QString ipv4Routes = QStringLiteral("/proc/net/route");       // where NetworkManager cannot say
    QString ipv6Routes = QStringLiteral("/proc/net/ipv6_route");
};

// The line of a room whose router keeps the broadband line up: this machine dials nothing,
// and its line is up whenever it is online. The phonebook holds the one entry 宽带连接;
// while online it has one connection, handle "lan". A dial of it succeeds at once when
// online and fails with 678 when offline, so that no minute is charged; hanging up hangs
// up nothing. A state that cannot be learned is LineUnknown, and a dial then fails with 711.
class LanLine final : public DialableLine {
public:
    // NetworkManager's connectivity, else the kernel's default route (OnlineCheck.h).
    explicit LanLine(const LanOptions& options = {});
    explicit LanLine(std::unique_ptr<OnlineCheck> online);

    static const QString kHandle;

    QStringList phonebookEntries() override;
    QList<ActiveConnection> activeConnections() override;
    void hangUp(const QString& handle) override;
    DialResult dial(const QString& entry, const std::optional<QString>& user,
                    const std::optional<QString>& password, const Progress& progress) override;

private:
    std::unique_ptr<OnlineCheck> online_;
};

} // namespace platform
