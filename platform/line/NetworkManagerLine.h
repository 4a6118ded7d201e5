#pragma once

#include <optional>

#include <QString>

#include "platform/line/DialableLine.h"

namespace platform {

struct NetworkManagerOptions {
    QString sysClassNet = QStringLiteral("/sys/class/net"); // where link carriers are read
    int activationSeconds = 60;                               // nmcli --wait for a dial
    QString discoveryProgram = QStringLiteral("pppoe-discovery");
    int probeMilliseconds = 20000;                            // the discovery at most
    int queryMilliseconds = 5000;                             // any other nmcli call at most
};

// The line service on NetworkManager, through its command-line client nmcli: the entries
// are the names of its PPPoE profiles in nmcli's order (a profile is dialed by its UUID;
// of several with one name, the one whose device is present), the connections its active PPPoE connections
// (handle: the active connection's D-Bus path). When NetworkManager is not running or
// nmcli is missing, no entries are listed, the connections are unknown (LineUnknown) and
// a dial fails with 711. A query that does not end in queryMilliseconds counts as failed.
class NetworkManagerLine final : public DialableLine {
public:
    explicit NetworkManagerLine(NetworkManagerOptions options = {});

    QStringList phonebookEntries() override;
    QList<ActiveConnection> activeConnections() override;
    void hangUp(const QString& handle) override;
    DialResult dial(const QString& entry, const std::optional<QString>& user,
                    const std::optional<QString>& password, const Progress& progress) override;

    // Whether an access concentrator answered a PPPoE discovery on the profile's
    // interface.
    enum class Probe { Answered, Silent, Unknown };
    // NetworkManager reports every PPP failure alike; this tells a line that nobody
    // answers on (678) from a refused login (691). When the probe could not be made, a
    // cable known to be out still means 678; otherwise the failure counts as 691.
    static int failureNumber(Probe probe, std::optional<bool> carrier);

private:
    struct Profile {
        QString name;
        QString uuid;
    };
    // The profile that an entry name stands for, or why there is none.
    struct Choice {
        QString uuid;
        int error = 0;
    };

    std::optional<QList<Profile>> profiles() const;  // PPPoE ones; nullopt when nmcli fails
    // The only profile of that name, or among several the one whose device is present.
    Choice choose(const QList<Profile>& profiles, const QString& entry) const;
    Probe probeAccessConcentrator(const QString& interface) const;
    std::optional<bool> carrier(const QString& interface) const;
    QString parentInterface(const QString& uuid) const;
    int activationFailure(const QString& uuid) const;

    NetworkManagerOptions options_;
};

// The fields of one line of nmcli's terse output (-t): split at ':' with "\:" and "\\"
// standing for themselves.
QStringList splitTerseLine(const QString& line);

} // namespace platform
