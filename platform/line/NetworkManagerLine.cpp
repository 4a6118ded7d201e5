#include "platform/line/NetworkManagerLine.h"

#include <algorithm>

#include <QFile>
#include <QFileInfo>

#include "platform/process/RunTool.h"

namespace platform {

namespace {

const QString kNmcli = QStringLiteral("nmcli");
const QString kPppoeType = QStringLiteral("pppoe");

// nmcli's documented exit codes.
constexpr int kNmcliTimeout = 3;
constexpr int kNmcliActivationFailed = 4;
constexpr int kNmcliNotRunning = 8;
constexpr int kNmcliNoSuchConnection = 10;

QStringList outputLines(const ToolResult& result)
{
    return QString::fromUtf8(result.output).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QString describe(const ToolResult& result)
{
    if (!result.started)
        return QStringLiteral("nmcli cannot be run");
    if (result.timedOut)
        return QStringLiteral("nmcli did not answer in time");
    const QString said = QString::fromUtf8(result.errors + result.output).trimmed();
    return said.isEmpty() ? QStringLiteral("nmcli ended with %1").arg(result.exitCode) : said;
}

DialResult failed(int error, QString detail = {})
{
    DialResult result;
    result.error = error;
    result.detail = std::move(detail);
    return result;
}

// A failure of the line's set-up that nmcli names, rather than a PPP failure: 0 when
// it names none.
int setUpFailure(const ToolResult& result)
{
    const QString said = QString::fromUtf8(result.errors + result.output);
    const auto says = [&said](const char* text) { return said.contains(QLatin1String(text), Qt::CaseInsensitive); };
    if (says("Insufficient privileges") || says("Not authorized"))
        return lineerror::kNotAuthorized;
    if (says("not compatible with device") || says("mismatching interface"))
        return lineerror::kProfileDoesNotFitDevice;
    if (says("No suitable device"))
        return lineerror::kNoSuitableDevice;
    return 0;
}

int errorForQuery(const ToolResult& result)
{
    if (const int setUp = setUpFailure(result))
        return setUp;
    if (result.started && result.exitCode == kNmcliNoSuchConnection)
        return lineerror::kNoSuchEntry;
    return lineerror::kServiceUnavailable;
}

} // namespace

NetworkManagerLine::NetworkManagerLine(NetworkManagerOptions options) : options_(std::move(options)) {}

std::optional<QList<NetworkManagerLine::Profile>> NetworkManagerLine::profiles() const
{
    const ToolResult listing = runTool(
        kNmcli, {QStringLiteral("-t"), QStringLiteral("-f"), QStringLiteral("NAME,UUID,TYPE"),
                 QStringLiteral("connection"), QStringLiteral("show")},
        options_.queryMilliseconds);
    if (!listing.succeeded())
        return std::nullopt;
    QList<Profile> found;
    for (const QString& line : outputLines(listing)) {
        const QStringList fields = splitTerseLine(line);
        if (fields.size() >= 3 && fields.at(2) == kPppoeType)
            found << Profile{fields.at(0), fields.at(1)};
    }
    return found;
}

NetworkManagerLine::Choice NetworkManagerLine::choose(const QList<Profile>& profiles, const QString& entry) const
{
    QStringList named;
    for (const Profile& profile : profiles) {
        if (profile.name == entry)
            named << profile.uuid;
    }
    if (named.isEmpty())
        return {QString(), lineerror::kNoSuchEntry};
    if (named.size() == 1)
        return {named.first(), 0};
    // Several profiles carry the name: the line is the one whose device is present.
    QStringList fitting;
    for (const QString& uuid : named) {
        const QString interface = parentInterface(uuid);
        if (!interface.isEmpty() && QFileInfo::exists(options_.sysClassNet + QLatin1Char('/') + interface))
            fitting << uuid;
    }
    if (fitting.isEmpty())
        return {QString(), lineerror::kNoSuitableDevice};
    if (fitting.size() > 1)
        return {QString(), lineerror::kAmbiguousEntry};
    return {fitting.first(), 0};
}

QStringList NetworkManagerLine::phonebookEntries()
{
    QStringList entries;
    for (const Profile& profile : profiles().value_or(QList<Profile>())) {
        if (!entries.contains(profile.name))
            entries << profile.name;
    }
    return entries;
}

QList<ActiveConnection> NetworkManagerLine::activeConnections()
{
    const ToolResult listing = runTool(
        kNmcli, {QStringLiteral("-t"), QStringLiteral("-f"), QStringLiteral("NAME,UUID,TYPE,ACTIVE-PATH"),
                 QStringLiteral("connection"), QStringLiteral("show"), QStringLiteral("--active")},
        options_.queryMilliseconds);
    if (!listing.succeeded())
        throw LineUnknown(QStringLiteral("无法得知宽带线路是否连通：") + describe(listing));
    struct Active {
        QString name;
        QString uuid;
        QString path;
    };
    QList<Active> pppoe;
    for (const QString& line : outputLines(listing)) {
        const QStringList fields = splitTerseLine(line);
        if (fields.size() >= 4 && fields.at(2) == kPppoeType)
            pppoe << Active{fields.at(0), fields.at(1), fields.at(3)};
    }
    if (pppoe.isEmpty())
        return {};

    // A connection counts under its name only when it is of the profile that a dial of
    // that name would choose, so that the line watched is the line dialed.
    const std::optional<QList<Profile>> known = profiles();
    if (!known)
        throw LineUnknown(QStringLiteral("无法得知宽带线路是否连通：nmcli 列不出连接配置"));
    QList<ActiveConnection> connections;
    for (const Active& active : pppoe) {
        const auto sameName = [&active](const Profile& p) { return p.name == active.name; };
        if (std::count_if(known->cbegin(), known->cend(), sameName) > 1) {
            const Choice chosen = choose(*known, active.name);
            if (!chosen.uuid.isEmpty() && chosen.uuid != active.uuid)
                continue;
        }
        connections << ActiveConnection{active.name, active.path};
    }
    return connections;
}

void NetworkManagerLine::hangUp(const QString& handle)
{
    runTool(kNmcli, {QStringLiteral("connection"), QStringLiteral("down"), QStringLiteral("apath"), handle},
            options_.queryMilliseconds);
}

DialResult NetworkManagerLine::dial(const QString& entry, const std::optional<QString>& user,
                                    const std::optional<QString>& password, const Progress& progress)
{
    if (progress)
        progress(DialStage::Connecting);

    const ToolResult running = runTool(
        kNmcli, {QStringLiteral("-t"), QStringLiteral("-f"), QStringLiteral("RUNNING"),
                 QStringLiteral("general")},
        options_.queryMilliseconds);
    if (running.exitCode != 0)
        return failed(lineerror::kServiceUnavailable, describe(running));
    const std::optional<QList<Profile>> known = profiles();
    if (!known)
        return failed(lineerror::kServiceUnavailable, QStringLiteral("nmcli cannot list the profiles"));
    // The profile is named to nmcli by its UUID: a name may be held by several.
    const Choice chosen = choose(*known, entry);
    if (chosen.error != 0)
        return failed(chosen.error);
    const QString& uuid = chosen.uuid;
    try {
        for (const ActiveConnection& connection : activeConnections()) {
            if (connection.entryName == entry) {
                DialResult result;
                result.alreadyConnected = true;
                return result;
            }
        }
    } catch (const LineUnknown& unknown) {
        return failed(lineerror::kServiceUnavailable, unknown.message());
    }

    // The account goes into NetworkManager's runtime copy of the profile (--temporary:
    // /run/NetworkManager/system-connections), never into the profile's file; the copy
    // stays, holding the last dial's account, until the machine restarts or the profile is
    // saved or deleted. A password marked "not saved" makes NetworkManager ask nmcli,
    // which answers from its passwd-file rather than from the command line, where anyone
    // could read it.
    QStringList settings;
    if (user)
        settings << QStringLiteral("pppoe.username") << *user;
    if (password)
        settings << QStringLiteral("pppoe.password-flags") << QStringLiteral("2");
    if (!settings.isEmpty()) {
        const ToolResult modified = runTool(
            kNmcli, QStringList{QStringLiteral("connection"), QStringLiteral("modify"),
                                QStringLiteral("--temporary"), QStringLiteral("uuid"), uuid}
                        + settings,
            options_.queryMilliseconds);
        if (modified.exitCode != 0)
            return failed(errorForQuery(modified), describe(modified));
    }

    QStringList upArguments{QStringLiteral("--wait"), QString::number(options_.activationSeconds),
                            QStringLiteral("connection"), QStringLiteral("up"), QStringLiteral("uuid"),
                            uuid};
    // nmcli reads the password file named here from its standard input, a pipe: the
    // password is never written to the disk, so no signal that ends rasdial can leave it
    // behind.
    std::optional<QByteArray> secrets;
    if (password) {
        upArguments << QStringLiteral("passwd-file") << QStringLiteral("/dev/stdin");
        secrets = QStringLiteral("pppoe.password:%1\n").arg(*password).toUtf8();
    }

    if (progress)
        progress(DialStage::Authenticating);
    const ToolResult up =
        runTool(kNmcli, upArguments, (options_.activationSeconds + 15) * 1000, secrets);
    if (up.started && !up.timedOut && up.exitCode == 0) {
        if (progress)
            progress(DialStage::Registering);
        return {};
    }
    if (!up.started)
        return failed(lineerror::kServiceUnavailable, describe(up));
    if (const int setUp = setUpFailure(up)) {
        // With the cable out NetworkManager finds no device for the profile ("device has
        // no carrier"): a line that nobody answers on, not a failure of the set-up.
        if (setUp == lineerror::kNoSuitableDevice && carrier(parentInterface(uuid)) == false)
            return failed(lineerror::kNoAnswer, describe(up));
        return failed(setUp, describe(up));
    }
    if (up.timedOut || up.exitCode == kNmcliTimeout || up.exitCode == kNmcliActivationFailed)
        return failed(activationFailure(uuid), describe(up));
    if (up.exitCode == kNmcliNoSuchConnection)
        return failed(lineerror::kNoSuchEntry, describe(up));
    return failed(lineerror::kServiceUnavailable, describe(up));
}

int NetworkManagerLine::failureNumber(Probe probe, std::optional<bool> carrier)
{
    switch (probe) {
    case Probe::Answered:
        return lineerror::kAuthenticationRefused;
    case Probe::Silent:
        return lineerror::kNoAnswer;
    case Probe::Unknown:
        break;
    }
    return carrier == false ? lineerror::kNoAnswer : lineerror::kAuthenticationRefused;
}

int NetworkManagerLine::activationFailure(const QString& uuid) const
{
    const QString interface = parentInterface(uuid);
    if (interface.isEmpty())
        return failureNumber(Probe::Unknown, std::nullopt);
    const std::optional<bool> hasCarrier = carrier(interface);
    if (hasCarrier == false)
        return lineerror::kNoAnswer;
    return failureNumber(probeAccessConcentrator(interface), hasCarrier);
}

QString NetworkManagerLine::parentInterface(const QString& uuid) const
{
    for (const QString& property : {QStringLiteral("pppoe.parent"),
                                    QStringLiteral("connection.interface-name")}) {
        const ToolResult value = runTool(
            kNmcli, {QStringLiteral("-t"), QStringLiteral("-g"), property, QStringLiteral("connection"),
                     QStringLiteral("show"), QStringLiteral("uuid"), uuid},
            options_.queryMilliseconds);
        if (value.exitCode != 0)
            continue;
        const QString name = QString::fromUtf8(value.output).trimmed();
        if (!name.isEmpty() && name != QLatin1String("--"))
            return name;
    }
    return {};
}

std::optional<bool> NetworkManagerLine::carrier(const QString& interface) const
{
    QFile file(options_.sysClassNet + QLatin1Char('/') + interface + QStringLiteral("/carrier"));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray value = file.readAll().trimmed();
    if (value == "1")
        return true;
    if (value == "0")
        return false;
    return std::nullopt;
}

NetworkManagerLine::Probe NetworkManagerLine::probeAccessConcentrator(const QString& interface) const
{
    const ToolResult discovery =
        runTool(options_.discoveryProgram, {QStringLiteral("-I"), interface}, options_.probeMilliseconds);
    if (!discovery.started)
        return Probe::Unknown;
    const QByteArray said = discovery.output + discovery.errors;
    if (said.contains("Access-Concentrator"))
        return Probe::Answered;
    // A PADO comes back within milliseconds; still waiting at the end means nobody answers.
    if (discovery.timedOut || said.contains("Timeout waiting for PADO"))
        return Probe::Silent;
    return Probe::Unknown;
}

QStringList splitTerseLine(const QString& line)
{
    QStringList fields;
    QString field;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (c == QLatin1Char('\\') && i + 1 < line.size()) {
            field += line.at(++i);
        } else if (c == QLatin1Char(':')) {
            fields << field;
            field.clear();
        } else {
            field += c;
        }
    }
    fields << field;
    return fields;
}

} // namespace platform
