#include "tools/horavo-setup/DatabaseChoice.h"

#include <QFileInfo>

#include "store/DatabaseFile.h"
#include "store/Esql.h"
#include "store/StoreError.h"
#include "tools/horavo-setup/ToolOutput.h"

namespace setup {

store::DatabaseAddress addressOf(const QString& word)
{
    const store::DatabaseAddress parsed = store::DatabaseAddress::parse(word);
    if (parsed.isServer())
        return parsed;
    return store::DatabaseAddress::file(QFileInfo(word).absoluteFilePath());
}

store::DatabaseAddress chosenDatabase(const SetupRequest& request)
{
    if (!request.file.isEmpty())
        return store::DatabaseAddress::file(QFileInfo(request.file).absoluteFilePath(), QStringLiteral("--file 指向这里"));
    if (!request.database.isEmpty())
        return addressOf(request.database);
    try {
        return store::DatabaseAddress::forAdministration();
    } catch (const horavo::SettingsError& error) {
        refuse(BadSettings, error.message());
    }
}

QString named(const store::DatabaseAddress& address)
{
    if (address.isServer())
        return QStringLiteral("数据库服务器上的数据库（%1）").arg(address.shown());
    return QStringLiteral("数据库文件“%1”").arg(address.shown());
}

void requireDatabase(const store::DatabaseAddress& address, ExitCode missing, ExitCode failure)
{
    if (!address.isServer()) {
        if (!QFileInfo::exists(address.text()))
            refuse(missing, address.explained(store::missingDatabaseFileMessage(address.text())) + QStringLiteral("新建请用 create。"));
        return;
    }
    openForReading(address, missing, failure);
}

void removeMadeDatabase(const store::DatabaseAddress& address)
{
    if (address.isServer()) {
        try {
            store::Esql(QStringLiteral("drop table if exists users, internet, knumber"), address);
        } catch (const store::StoreError&) {
        }
        return;
    }
    store::removeDatabaseFiles(address.text());
}

void requireFile(const store::DatabaseAddress& address, const QString& command, const QString& useInstead)
{
    if (address.isServer())
        refuse(NeedsFile, QStringLiteral("%1 只用于 SQLite 数据库文件，而数据库在服务器上（%2）：%3")
                              .arg(command, address.shown(), useInstead));
}

} // namespace setup
