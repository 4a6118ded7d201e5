#include "store/DatabaseAddress.h"

#include <QDir>
#include <QRegularExpression>

#include "store/Connection.h"
#include "store/DatabaseFile.h"
#include "store/ServerConnection.h"

namespace store {

DatabaseAddress DatabaseAddress::file(const QString& path)
{
    return {Kind::File, path};
}

DatabaseAddress DatabaseAddress::server(const QString& conninfo)
{
    return {Kind::Server, conninfo};
}

DatabaseAddress DatabaseAddress::fromEnvironment()
{
    const QString named = qEnvironmentVariable(kDatabaseVariable).trimmed();
    return named.isEmpty() ? file(defaultDatabasePath()) : server(named);
}

DatabaseAddress DatabaseAddress::forAdministration()
{
    const QString named = qEnvironmentVariable(kAdminDatabaseVariable).trimmed();
    return named.isEmpty() ? fromEnvironment() : server(named);
}

DatabaseAddress DatabaseAddress::parse(const QString& text)
{
    static const QRegularExpression keyValue(QStringLiteral("^\\s*[A-Za-z_]+\\s*="));
    if (text.startsWith(QLatin1String("postgresql://")) || text.startsWith(QLatin1String("postgres://"))
        || keyValue.match(text).hasMatch())
        return server(text);
    return file(text);
}

QString DatabaseAddress::shown() const
{
    return isServer() ? shownServerName(text_) : QDir::toNativeSeparators(text_);
}

std::shared_ptr<Engine> openDatabase(const DatabaseAddress& address)
{
    if (address.isServer())
        return ServerConnection::open(address.text());
    return Connection::open(address.text());
}

} // namespace store
