#include "platform/line/OnlineCheck.h"

#include <optional>

#include <QFile>
#include <QRegularExpression>

#include "platform/process/RunTool.h"

namespace platform {

namespace {

const QString kLoopback = QStringLiteral("lo");

// nmcli's exit code when NetworkManager is not running.
constexpr int kNmcliNotRunning = 8;

// A route out through a device: the kernel lists its reject routes ("unreachable",
// "prohibit", "blackhole") on no device ("*", IPv4) or on the loopback device (IPv6).
bool outThroughADevice(const QString& device)
{
    return device != kLoopback && device != QLatin1String("*");
}

// The device of the first default route out through a device in a routing table of
// /proc, an empty string when there is none, nullopt when the table cannot be read.
// `isDefault` tells a default route's row by its columns.
template <typename IsDefault>
std::optional<QString> defaultRouteDevice(const QString& path, int deviceColumn, IsDefault isDefault)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return std::nullopt;
    const QStringList rows = QString::fromLatin1(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString& row : rows) {
        static const QRegularExpression blanks(QStringLiteral("\\s+"));
        const QStringList columns = row.split(blanks, Qt::SkipEmptyParts);
        if (columns.size() > deviceColumn && isDefault(columns) && outThroughADevice(columns.at(deviceColumn)))
            return columns.at(deviceColumn);
    }
    return QString();
}

// /proc/net/route: Iface Destination Gateway Flags RefCnt Use Metric Mask ..., under a
// heading line; the default route has destination and mask 0.
std::optional<QString> ipv4DefaultRoute(const QString& path)
{
    return defaultRouteDevice(path, 0, [](const QStringList& columns) {
        return columns.size() > 7 && columns.at(1) == QLatin1String("00000000")
            && columns.at(7) == QLatin1String("00000000");
    });
}

// /proc/net/ipv6_route: destination, its prefix length, source, its prefix length, next
// hop, metric, references, use, flags, device; the default route is ::/0.
std::optional<QString> ipv6DefaultRoute(const QString& path)
{
    return defaultRouteDevice(path, 9, [](const QStringList& columns) {
        return columns.at(0) == QString(32, QLatin1Char('0')) && columns.at(1) == QLatin1String("00");
    });
}

} // namespace

DefaultRouteCheck::DefaultRouteCheck(QString ipv4Routes, QString ipv6Routes)
    : ipv4Routes_(std::move(ipv4Routes)), ipv6Routes_(std::move(ipv6Routes))
{
}

OnlineState DefaultRouteCheck::check()
{
    const std::optional<QString> ipv4 = ipv4DefaultRoute(ipv4Routes_);
    const std::optional<QString> ipv6 = ipv6DefaultRoute(ipv6Routes_);
    if (!ipv4 && !ipv6)
        throw LineUnknown(QStringLiteral("无法得知本机是否连上网络：读不到路由表 %1 和 %2").arg(ipv4Routes_, ipv6Routes_));
    if (ipv4 && !ipv4->isEmpty())
        return {true, QStringLiteral("有 IPv4 默认路由（%1）").arg(*ipv4)};
    if (ipv6 && !ipv6->isEmpty())
        return {true, QStringLiteral("有 IPv6 默认路由（%1）").arg(*ipv6)};
    return {false, QStringLiteral("没有默认路由")};
}

NetworkManagerConnectivityCheck::NetworkManagerConnectivityCheck(QString nmcli, int queryMilliseconds,
                                                                 std::unique_ptr<OnlineCheck> fallback)
    : nmcli_(std::move(nmcli)), queryMilliseconds_(queryMilliseconds), fallback_(std::move(fallback))
{
}

OnlineState NetworkManagerConnectivityCheck::check()
{
    // In the C locale nmcli neither translates the state nor its messages.
    const ToolResult asked = runTool(nmcli_, {QStringLiteral("networking"), QStringLiteral("connectivity")},
                                     queryMilliseconds_, std::nullopt, {QStringLiteral("LC_ALL=C")});
    if (asked.timedOut)
        throw LineUnknown(QStringLiteral("无法得知本机是否连上网络：nmcli 在 %1 毫秒内没有回答").arg(queryMilliseconds_));
    // No NetworkManager to ask: nmcli missing, NetworkManager stopped, or no system bus
    // at all (nmcli then cannot even make its client).
    const bool noNetworkManager = !asked.started || asked.exitCode == kNmcliNotRunning
        || asked.errors.contains("Could not create NMClient object");
    if (noNetworkManager)
        return fallback_->check();
    if (asked.exitCode != 0) {
        const QString said = QString::fromUtf8(asked.errors + asked.output).trimmed();
        throw LineUnknown(QStringLiteral("无法得知本机是否连上网络：nmcli 以退出码 %1 结束：%2").arg(asked.exitCode).arg(said));
    }
    const QString connectivity = QString::fromUtf8(asked.output).trimmed();
    const QString evidence = QStringLiteral("NetworkManager 报告网络连通性为 %1").arg(connectivity);
    if (connectivity == QLatin1String("full"))
        return {true, evidence};
    if (connectivity == QLatin1String("limited") || connectivity == QLatin1String("portal")
        || connectivity == QLatin1String("none"))
        return {false, evidence};
    if (connectivity == QLatin1String("unknown"))
        return fallback_->check();
    throw LineUnknown(QStringLiteral("无法得知本机是否连上网络：nmcli 的回答不明：%1").arg(connectivity));
}

} // namespace platform
