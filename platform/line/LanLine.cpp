#include "platform/line/LanLine.h"

namespace platform {

namespace {

const QString kEntry = QStringLiteral("宽带连接");

DialResult failed(int error, QString detail)
{
    DialResult result;
    result.error = error;
    result.detail = std::move(detail);
    return result;
}

} // namespace

const QString LanLine::kHandle = QStringLiteral("lan");

LanLine::LanLine(const LanOptions& options)
    : LanLine(std::make_unique<NetworkManagerConnectivityCheck>(
          options.nmcli, options.queryMilliseconds,
          std::make_unique<DefaultRouteCheck>(options.ipv4Routes, options.ipv6Routes)))
{
}

LanLine::LanLine(std::unique_ptr<OnlineCheck> online) : online_(std::move(online)) {}

QStringList LanLine::phonebookEntries()
{
    return {kEntry};
}

QList<ActiveConnection> LanLine::activeConnections()
{
    if (!online_->check().online)
        return {};
    return {ActiveConnection{kEntry, kHandle}};
}

void LanLine::hangUp(const QString& handle)
{
    // The router keeps the line up for the whole room; leaving ends only this seat's timing.
    Q_UNUSED(handle)
}

DialResult LanLine::dial(const QString& entry, const std::optional<QString>& user,
                         const std::optional<QString>& password, const Progress& progress)
{
    // The account only prices the time (the dialer reads it from the database); nothing
    // here logs in with it.
    Q_UNUSED(user)
    Q_UNUSED(password)
    if (progress)
        progress(DialStage::Connecting);
    if (entry != kEntry)
        return failed(lineerror::kNoSuchEntry, {});
    OnlineState state;
    try {
        state = online_->check();
    } catch (const LineUnknown& unknown) {
        return failed(lineerror::kServiceUnavailable, unknown.message());
    }
    if (!state.online)
        return failed(lineerror::kNoAnswer, QStringLiteral("本机没有连上网络：") + state.evidence);
    return {};
}

} // namespace platform
