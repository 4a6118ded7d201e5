#pragma once

#include <QHash>
#include <QString>

#include "rules/Failure.h"

namespace horavo {

// The settings file of the room, and the variable that names another one (for tests, and
// for a user who keeps a room of his own).
inline constexpr const char* kSettingsFile = "/etc/horavo/horavo.conf";
inline constexpr const char* kSettingsFileVariable = "HORAVO_SETTINGS";

// The variables that override the file's choices, one for each key.
inline constexpr const char* kDatabaseVariable = "HORAVO_DATABASE";
inline constexpr const char* kAdminDatabaseVariable = "HORAVO_ADMIN_DATABASE";
inline constexpr const char* kLineVariable = "TALLYON_LINE";

// A settings file that cannot be read or holds a line that is not "key = value" with one
// of the known keys; the text names the file and the line.
class SettingsError : public Failure {
public:
    using Failure::Failure;
};

// One choice of the room, with where it came from, for the messages that must say why a
// database or a line was looked for where it was.
struct Setting {
    QString value;      // empty: set nowhere
    QString origin;     // 环境变量 HORAVO_DATABASE / 设置文件 F 第 N 行的 database / why it is unset
    QString relativeTo; // the folder a relative path in value is taken from
    bool isSet() const { return !value.isEmpty(); }
};

// The choices a room makes once for every PC: a text file of "key = value" lines (a value
// may stand in double quotes), "#" starting a comment line, blank lines ignored. Each key has its environment variable,
// which, set and not empty, overrides the file. A missing file sets nothing.
class RoomSettings {
public:
    // The file HORAVO_SETTINGS names, else /etc/horavo/horavo.conf. Throws SettingsError.
    static RoomSettings load();
    static RoomSettings read(const QString& path);

    // The database of every program: a file's path or a server's address (HORAVO_DATABASE).
    Setting database() const;
    // On an administrator's PC, the database as the administrators' role reaches it
    // (HORAVO_ADMIN_DATABASE).
    Setting adminDatabase() const;
    // The line service: networkmanager, lan or sim:FILE (TALLYON_LINE).
    Setting line() const;

    const QString& path() const { return path_; }

private:
    struct Entry {
        QString value;
        int line = 0;
    };
    Setting choice(const char* variable, const QString& key) const;

    QString path_;
    bool exists_ = false;
    QHash<QString, Entry> entries_;
};

} // namespace horavo
