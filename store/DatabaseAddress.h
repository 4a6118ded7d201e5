#pragma once

#include <memory>

#include <QString>

#include "settings/RoomSettings.h"

namespace store {

class Engine;

using horavo::kAdminDatabaseVariable;
using horavo::kDatabaseVariable;

// Where the database is: a file, or a PostgreSQL database on a server, named by a libpq
// connection string or URI.
class DatabaseAddress {
public:
    enum class Kind { File, Server };

    // `reason` says why the database is looked for there, for the message of a file that
    // is not there ("环境变量 HORAVO_DATABASE 指向这里").
    static DatabaseAddress file(const QString& path, const QString& reason = {});
    static DatabaseAddress server(const QString& conninfo, const QString& reason = {});
    // The database of the room's settings: HORAVO_DATABASE when set and not empty, else
    // the settings file's database, else horavo.mdb in the current working directory.
    // Throws horavo::SettingsError for a settings file that cannot be read.
    static DatabaseAddress fromSettings();
    // The database the windows of administration and horavo-setup use: the settings'
    // administrators' database (HORAVO_ADMIN_DATABASE, admin-database) when set, else
    // fromSettings().
    static DatabaseAddress forAdministration();
    // A word of a command line or a setting: a URI (postgresql://... or postgres://...)
    // or a connection string (key=value ...) names a server, anything else a file, whose
    // relative path is taken from the folder `relativeTo` (the current one when empty).
    static DatabaseAddress parse(const QString& text, const QString& reason = {}, const QString& relativeTo = {});

    Kind kind() const { return kind_; }
    bool isServer() const { return kind_ == Kind::Server; }
    const QString& text() const { return text_; }
    // For messages: the file's path, or the server's address without a password.
    QString shown() const;
    // `message` (of a failure to open it) as a sentence, followed by why it was looked
    // for there.
    QString explained(const QString& message) const;

private:
    DatabaseAddress(Kind kind, QString text, QString reason)
        : kind_(kind), text_(std::move(text)), reason_(std::move(reason)) {}
    static DatabaseAddress fromSetting(const horavo::Setting& setting);

    Kind kind_;
    QString text_;
    QString reason_;
};

// A fresh connection to the database (its engine, for record sets). Throws StoreError
// when the file is missing (saying why it was looked for there) or the server cannot be
// reached.
std::shared_ptr<Engine> openDatabase(const DatabaseAddress& address);

} // namespace store
