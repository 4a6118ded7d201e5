#pragma once

#include <memory>

#include <QString>

#include "platform/line/LineService.h"

namespace platform {

// Whether this machine is online, and what said so (for the console and the log).
struct OnlineState {
    bool online = false;
    QString evidence;
};

// Learns whether this machine is online. Throws LineUnknown when it cannot be learned.
class OnlineCheck {
public:
    virtual ~OnlineCheck() = default;
    virtual OnlineState check() = 0;
};

// Online when the kernel has a default route out through a device, IPv4 or IPv6: not a
// reject ("unreachable") route, which the kernel lists on no device or on the loopback. A routing table that cannot
// be read counts as having none, unless neither can be read: then the state is unknown.
class DefaultRouteCheck final : public OnlineCheck {
public:
    DefaultRouteCheck(QString ipv4Routes = QStringLiteral("/proc/net/route"),
                      QString ipv6Routes = QStringLiteral("/proc/net/ipv6_route"));

    OnlineState check() override;

private:
    QString ipv4Routes_;
    QString ipv6Routes_;
};

// Online when NetworkManager's connectivity is "full" (`nmcli networking connectivity`);
// "limited", "portal" and "none" are offline. Where NetworkManager cannot say (nmcli
// missing, NetworkManager not running or no system bus, connectivity "unknown") the
// fallback decides. An nmcli that does not answer within the limit, fails otherwise or
// answers something else leaves the state unknown.
class NetworkManagerConnectivityCheck final : public OnlineCheck {
public:
    NetworkManagerConnectivityCheck(QString nmcli, int queryMilliseconds, std::unique_ptr<OnlineCheck> fallback);

    OnlineState check() override;

private:
    QString nmcli_;
    int queryMilliseconds_;
    std::unique_ptr<OnlineCheck> fallback_;
};

} // namespace platform
