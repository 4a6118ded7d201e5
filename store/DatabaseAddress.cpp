#include "store/DatabaseAddress.h"

#include <QDir>
#include <QRegularExpression>

#include "store/Connection.h"
#include "store/DatabaseFile.h"
#include "store/Schema.h"
#include "store/ServerConnection.h"
#include "store/StoreError.h"

namespace store {

DatabaseAddress DatabaseAddress::file(const QString& path, const QString& reason)
{
    return {Kind::File, path, reason};
}

DatabaseAddress DatabaseAddress::server(const QString& conninfo, const QString& reason)
{
    return {Kind::Server, conninfo, reason};
}

DatabaseAddress DatabaseAddress::fromSetting(const horavo::Setting& setting)
{
    return parse(setting.value, setting.origin + QStringLiteral(" 指向这里"), setting.relativeTo);
}

DatabaseAddress DatabaseAddress::fromSettings()
{
    const horavo::Setting database = horavo::RoomSettings::load().database();
    if (database.isSet())
        return fromSetting(database);
    return file(defaultDatabasePath(),
                database.origin + QStringLiteral("，所以用当前文件夹里的 ") + QLatin1String(kDatabaseFileName));
}

DatabaseAddress DatabaseAddress::forAdministration()
{
    const horavo::Setting database = horavo::RoomSettings::load().adminDatabase();
    return database.isSet() ? fromSetting(database) : fromSettings();
}

DatabaseAddress DatabaseAddress::parse(const QString& text, const QString& reason, const QString& relativeTo)
{
    static const QRegularExpression keyValue(QStringLiteral("^\\s*[A-Za-z_]+\\s*="));
    if (text.startsWith(QLatin1String("postgresql://")) || text.startsWith(QLatin1String("postgres://"))
        || keyValue.match(text).hasMatch())
        return server(text, reason);
    return file(relativeTo.isEmpty() ? text : QDir(relativeTo).absoluteFilePath(text), reason);
}

QString DatabaseAddress::explained(const QString& message) const
{
    if (reason_.isEmpty())
        return message + QStringLiteral("。");
    return message + QStringLiteral("。在这里找是因为：") + reason_ + QStringLiteral("。");
}

QString DatabaseAddress::shown() const
{
    return isServer() ? shownServerName(text_) : QDir::toNativeSeparators(text_);
}

std::shared_ptr<Engine> openDatabase(const DatabaseAddress& address)
{
    if (address.isServer())
        return ServerConnection::open(address.text());
    try {
        return Connection::open(address.text());
    } catch (const MissingDatabaseError& missing) {
        throw MissingDatabaseError(address.explained(missing.message()));
    }
}

} // namespace store
