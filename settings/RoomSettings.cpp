#include "settings/RoomSettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace horavo {

namespace {

const QString kDatabaseKey = QStringLiteral("database");
const QString kAdminDatabaseKey = QStringLiteral("admin-database");
const QString kLineKey = QStringLiteral("line");

QString shownPath(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

} // namespace

RoomSettings RoomSettings::load()
{
    const QString named = qEnvironmentVariable(kSettingsFileVariable);
    return read(named.isEmpty() ? QString::fromLatin1(kSettingsFile) : named);
}

RoomSettings RoomSettings::read(const QString& path)
{
    RoomSettings settings;
    settings.path_ = path;
    QFile file(path);
    if (!file.exists())
        return settings;
    if (!file.open(QIODevice::ReadOnly))
        throw SettingsError(QStringLiteral("读不了设置文件“%1”：%2").arg(shownPath(path), file.errorString()));
    settings.exists_ = true;
    int number = 0;
    while (!file.atEnd()) {
        QString line = QString::fromUtf8(file.readLine()).trimmed();
        ++number;
        if (number == 1 && line.startsWith(QChar(0xFEFF))) // saved by an editor that marks UTF-8
            line = line.mid(1).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        const QString key = line.left(equals).trimmed();
        if (equals < 0 || key.isEmpty())
            throw SettingsError(QStringLiteral("设置文件“%1”第 %2 行不是“键 = 值”：%3").arg(shownPath(path)).arg(number).arg(line));
        if (key != kDatabaseKey && key != kAdminDatabaseKey && key != kLineKey)
            throw SettingsError(QStringLiteral("设置文件“%1”第 %2 行的“%3”不是设置项（可用的有 %4、%5、%6）")
                                    .arg(shownPath(path)).arg(number).arg(key, kDatabaseKey, kAdminDatabaseKey, kLineKey));
        if (settings.entries_.contains(key))
            throw SettingsError(QStringLiteral("设置文件“%1”第 %2 行又一次设置了 %3（第 %4 行已经设置过）")
                                    .arg(shownPath(path)).arg(number).arg(key).arg(settings.entries_.value(key).line));
        QString value = line.mid(equals + 1).trimmed();
        // A value copied with its quotes from an example ("host=db dbname=horavo").
        if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"')))
            value = value.mid(1, value.size() - 2).trimmed();
        settings.entries_.insert(key, {value, number});
    }
    return settings;
}

Setting RoomSettings::choice(const char* variable, const QString& key) const
{
    const QString fromEnvironment = qEnvironmentVariable(variable).trimmed();
    if (!fromEnvironment.isEmpty())
        return {fromEnvironment, QStringLiteral("环境变量 %1").arg(QLatin1String(variable)), QDir::currentPath()};
    const Entry entry = entries_.value(key);
    if (!entry.value.isEmpty())
        return {entry.value, QStringLiteral("设置文件“%1”第 %2 行的 %3").arg(shownPath(path_)).arg(entry.line).arg(key),
                QFileInfo(path_).absolutePath()};
    const QString where = exists_ ? QStringLiteral("设置文件“%1”里也没有设置 %2").arg(shownPath(path_), key)
                                  : QStringLiteral("设置文件“%1”不存在").arg(shownPath(path_));
    return {{}, QStringLiteral("没有设置环境变量 %1，%2").arg(QLatin1String(variable), where), QDir::currentPath()};
}

Setting RoomSettings::database() const
{
    return choice(kDatabaseVariable, kDatabaseKey);
}

Setting RoomSettings::adminDatabase() const
{
    return choice(kAdminDatabaseVariable, kAdminDatabaseKey);
}

Setting RoomSettings::line() const
{
    return choice(kLineVariable, kLineKey);
}

} // namespace horavo
